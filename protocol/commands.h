// Every request frame the window sends, as pure functions: text in the
// window's lenient reading goes in, the exact bytes for the line come out.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <array>
#include <cstdint>

// Lenient readings of user text: what does not parse counts as 0.
int lenientInt(const QString &text, int base);
float lenientFloat(const QString &text);

// Modbus queries, all to slave address 0.
QByteArray noiseQuery();
QByteArray serialNumberQuery();
QByteArray versionQuery();
QByteArray deviceAddrQuery();
QByteArray originQuery();
QByteArray caliParamQuery();

// Modbus writes, all to slave address 0.
QByteArray factoryConfigRequest();
QByteArray changeToOwnProtocolRequest();
QByteArray changeToModbusRequest();

// The address typed as hex text: low 8 bits, and 0 becomes 1.
uint8_t deviceAddrFromText(const QString &text);
QByteArray setDeviceAddrRequest(uint8_t addr);

// Calibration offset and factor of range 0, 1 or 2 (any other index: range 0).
uint16_t calibrateRegister(int rangeIndex);
QByteArray calibrateReadRequest(int rangeIndex);
// Offset travels as a sign byte (01 positive, 00 otherwise) and the low 8 bits
// of its magnitude; the factor as its low 8 bits.
QByteArray calibrateWriteRequest(int rangeIndex, int offset, int factor);
// The two register values of that write: sign and magnitude, then the factor.
QVector<uint16_t> calibrationRegisters(int offset, int factor);

// A calibration parameter on the wire: hundredfold, truncated toward zero, as
// a signed 32-bit value; 0x80000000 when out of range or not finite.
int32_t caliParamToWire(float value);
QByteArray setCaliParamRequest(int32_t a, int32_t b, int32_t c);
// A, B and C as six registers, each value's high half first.
QVector<uint16_t> caliParamRegisters(int32_t a, int32_t b, int32_t c);

// Own-protocol frames.
QByteArray ownIdentityQuery();
QByteArray ownVersionQuery();
// The identity text "first-...-last": the first and last hex group, each cut
// to 16 bits, as four bytes id0 id1 id2 id3.
std::array<uint8_t, 4> identityFromText(const QString &text);
QByteArray ownSetIdentityRequest(const std::array<uint8_t, 4> &id);
QByteArray ownCaliParamQuery();
QByteArray ownSetCaliParamRequest(int32_t a, int32_t b, int32_t c);
