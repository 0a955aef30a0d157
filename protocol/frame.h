// Wire basics shared by every program: the two integrity codes, the hex text
// shown to the user, and the fixed layout of the sensor's own 19-byte frames.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <initializer_list>

constexpr int kOwnFrameSize = 19;
constexpr int kOwnCommandOffset = 1;
constexpr uint8_t kOwnHead = 0xAA;
constexpr uint8_t kOwnTail = 0xAB;
constexpr int kOwnChecksumOffset = 17;

// Low 8 bits of the sum of bytes 2 to 16 of a 19-byte own-protocol frame.
uint8_t ownChecksum(const uint8_t *frame);

// CRC-16/MODBUS, computed bit by bit (poly 0xA001 reflected, init 0xFFFF).
uint16_t crc16Modbus(const uint8_t *bytes, uint16_t length);

// Every byte as two lowercase hex digits followed by one blank ("aa a6 ").
QString toHexText(const uint8_t *bytes, int count);
QString toHexText(const QByteArray &bytes);

// One byte as exactly two lowercase hex digits ("0a").
QString hexPair(uint8_t byte);

// Appends crc16Modbus of the frame, low byte first.
void appendModbusCrc(QByteArray &frame);
// True when the last two bytes are the CRC of the bytes before them.
bool modbusCrcMatches(const QByteArray &frame);

// A complete own-protocol frame: head, command, the data bytes placed from
// offset 2 (at most 15, the rest zero), checksum and tail.
QByteArray ownFrame(uint8_t command, const QByteArray &data = QByteArray());
// The same with each field placed at its frame offset (within offsets 2 to
// 16; bytes beyond are dropped).
struct OwnField {
    int offset;
    QByteArray bytes;
};
QByteArray ownFrame(uint8_t command, std::initializer_list<OwnField> fields);
// True when `bytes` holds a frame head at `offset` and its tail 18 bytes later.
bool isOwnFrameAt(const QByteArray &bytes, int offset);

// Big-endian packing of 16- and 32-bit values.
void appendBigEndian16(QByteArray &out, uint16_t value);
void appendBigEndian32(QByteArray &out, uint32_t value);
uint16_t bigEndian16(const uint8_t *bytes);
uint32_t bigEndian32(const uint8_t *bytes);
