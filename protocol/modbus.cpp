#include "modbus.h"

#include "frame.h"
#include "sensor.h"

namespace modbus {

QByteArray readRequest(uint8_t slave, uint8_t function, uint16_t firstRegister, uint16_t count)
{
    QByteArray frame;
    frame.append(char(slave));
    frame.append(char(function));
    appendBigEndian16(frame, firstRegister);
    appendBigEndian16(frame, count);
    appendModbusCrc(frame);
    return frame;
}

QByteArray writeSingleRequest(uint8_t slave, uint16_t registerNumber, uint16_t value)
{
    QByteArray frame;
    frame.append(char(slave));
    frame.append(char(kWriteSingle));
    appendBigEndian16(frame, registerNumber);
    appendBigEndian16(frame, value);
    appendModbusCrc(frame);
    return frame;
}

QByteArray writeMultipleRequest(uint8_t slave, uint16_t firstRegister,
                                const QVector<uint16_t> &values)
{
    QByteArray frame;
    frame.append(char(slave));
    frame.append(char(kWriteMultiple));
    appendBigEndian16(frame, firstRegister);
    appendBigEndian16(frame, uint16_t(values.size()));
    frame.append(char(values.size() * 2));
    for (uint16_t value : values)
        appendBigEndian16(frame, value);
    appendModbusCrc(frame);
    return frame;
}

QByteArray readReply(uint8_t slave, uint8_t function, const QVector<uint16_t> &values)
{
    QByteArray frame;
    frame.append(char(slave));
    frame.append(char(function));
    frame.append(char(values.size() * 2));
    for (uint16_t value : values)
        appendBigEndian16(frame, value);
    appendModbusCrc(frame);
    return frame;
}

QByteArray writeEcho(const QByteArray &request)
{
    QByteArray frame = request.left(kWriteEchoSize - kCrcSize);
    appendModbusCrc(frame);
    return frame;
}

QByteArray exceptionReply(uint8_t slave, uint8_t function, uint8_t exceptionCode)
{
    QByteArray frame;
    frame.append(char(slave));
    frame.append(char(function | kExceptionBit));
    frame.append(char(exceptionCode));
    appendModbusCrc(frame);
    return frame;
}

int requestLength(const QByteArray &head)
{
    if (head.size() <= kFunctionOffset)
        return 0;
    switch (uint8_t(head[kFunctionOffset])) {
    case kReadHolding:
    case kReadInput:
    case kWriteSingle:
        return kReadRequestSize;
    case kWriteMultiple:
        // Slave, function, register, count, byte count, the values, CRC.
        if (head.size() <= kWriteByteCountOffset)
            return 0;
        return kWriteDataOffset + uint8_t(head[kWriteByteCountOffset]) + kCrcSize;
    default:
        return -1;
    }
}

int replyLength(const QByteArray &head)
{
    if (head.size() <= kFunctionOffset)
        return 0;
    const uint8_t function = uint8_t(head[kFunctionOffset]);
    switch (function & ~kExceptionBit) {
    case kReadHolding:
    case kReadInput:
    case kWriteSingle:
    case kWriteMultiple:
        break;
    default:
        return -1;
    }
    if (function & kExceptionBit)
        return kExceptionReplySize;
    switch (function) {
    case kReadHolding:
    case kReadInput:
        if (head.size() <= kByteCountOffset)
            return 0;
        return readReplySize(uint8_t(head[kByteCountOffset]));
    case kWriteSingle:
    case kWriteMultiple:
        return kWriteEchoSize;
    default:
        return -1;
    }
}

int expectedReplyLength(const QByteArray &request)
{
    if (request.size() < kCountOffset + 2)
        return -1;
    switch (uint8_t(request[kFunctionOffset])) {
    case kReadHolding:
    case kReadInput:
        return readReplySize(
            2 * bigEndian16(reinterpret_cast<const uint8_t *>(request.constData()) + kCountOffset));
    case kWriteSingle:
    case kWriteMultiple:
        return kWriteEchoSize;
    default:
        return -1;
    }
}

bool answersRequest(const QByteArray &request, const QByteArray &reply)
{
    if (request.size() <= kFunctionOffset || reply.size() <= kFunctionOffset)
        return false;
    const uint8_t function = uint8_t(request[kFunctionOffset]);
    const uint8_t replied = uint8_t(reply[kFunctionOffset]);
    if (replied == (function | kExceptionBit))
        return reply.size() == kExceptionReplySize;
    if (replied != function || reply.size() != expectedReplyLength(request))
        return false;
    if (function == kReadHolding || function == kReadInput)
        return true;
    // The echo repeats the request after its address up to the CRC.
    constexpr int kEchoed = kWriteEchoSize - kCrcSize - kFunctionOffset;
    return reply.mid(kFunctionOffset, kEchoed) == request.mid(kFunctionOffset, kEchoed);
}

const char *exceptionText(uint8_t exceptionCode)
{
    switch (exceptionCode) {
    case kIllegalFunction:
        return "illegal function";
    case kIllegalDataAddress:
        return "illegal data address";
    case kIllegalDataValue:
        return "illegal data value";
    case kSlaveDeviceFailure:
        return "slave device failure";
    case 0x05:
        return "acknowledge";
    case 0x06:
        return "slave device busy";
    case 0x08:
        return "memory parity error";
    case 0x0A:
        return "gateway path unavailable";
    case 0x0B:
        return "gateway target device failed to respond";
    default:
        return "unknown exception";
    }
}

} // namespace modbus
