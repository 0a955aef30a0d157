// Generic Modbus RTU framing: requests, replies, exception responses and
// sizing a frame from its first bytes. Every frame returned carries its CRC.
#pragma once

#include <QByteArray>
#include <QVector>
#include <cstdint>

namespace modbus {

// Frame sizes: a read reply is a header (slave, function, byte count), the
// data and the CRC; a write echo and a read request are 8 bytes; an
// exception reply is slave, function, code and CRC.
constexpr int kCrcSize = 2;
constexpr int kReadReplyHeaderSize = 3;
constexpr int kReadRequestSize = 8;
constexpr int kWriteEchoSize = 8;
constexpr int kExceptionReplySize = 5;

// Offsets in a frame. Requests and write echoes name a register at 2 and a
// count (or, writing one register, the value) at 4; a write of several
// registers has its byte count at 6 and its values from 7. Replies have
// their byte count, or an exception's code, at 2 and their data from 3.
constexpr int kSlaveOffset = 0;
constexpr int kFunctionOffset = 1;
constexpr int kRegisterOffset = 2;
constexpr int kCountOffset = 4;
constexpr int kWriteByteCountOffset = 6;
constexpr int kWriteDataOffset = 7;
constexpr int kByteCountOffset = 2;
constexpr int kExceptionCodeOffset = 2;
constexpr int kReplyDataOffset = kReadReplyHeaderSize;

// A read reply carrying `byteCount` data bytes.
constexpr int readReplySize(int byteCount)
{
    return kReadReplyHeaderSize + byteCount + kCrcSize;
}

QByteArray readRequest(uint8_t slave, uint8_t function, uint16_t firstRegister, uint16_t count);
QByteArray writeSingleRequest(uint8_t slave, uint16_t registerNumber, uint16_t value);
QByteArray writeMultipleRequest(uint8_t slave, uint16_t firstRegister,
                                const QVector<uint16_t> &values);

// A read reply: slave, function, byte count, the values big-endian, CRC.
QByteArray readReply(uint8_t slave, uint8_t function, const QVector<uint16_t> &values);
// A write echo: the first six bytes of the request, then their CRC.
QByteArray writeEcho(const QByteArray &request);
QByteArray exceptionReply(uint8_t slave, uint8_t function, uint8_t exceptionCode);

// How long a frame that begins with `head` is, once enough of it is known.
// Returns the length, 0 when more bytes are needed to tell, or -1 when the
// function code is not one this sensor speaks.
int requestLength(const QByteArray &head);
int replyLength(const QByteArray &head);
// How long the reply to `request`, a read or write request, is unless it is
// an exception; -1 for a request too short to say or of another function.
int expectedReplyLength(const QByteArray &request);

// Whether `reply`, a whole frame with a good CRC, answers `request`: an
// exception to its function, a read reply with the byte count asked for, or
// a write echo that repeats the request. The slave address is not compared:
// a sensor asked at address 0 answers from 0 or from its own address.
bool answersRequest(const QByteArray &request, const QByteArray &reply);

// A plain-words name of an exception code ("illegal data address").
const char *exceptionText(uint8_t exceptionCode);

} // namespace modbus
