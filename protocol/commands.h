// Every request frame the tool sends, as pure functions: checked values in,
// the exact bytes for the line out. Modbus requests go to `slave`, by
// default the address 0 that this sensor answers whatever its own address.
#pragma once

#include "modbus.h"
#include "sensor.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <array>
#include <cstdint>

using modbus::kToolSlaveAddress;

// A read request of the sensor's register map.
QByteArray readRequest(const RegisterRead &read, uint8_t slave = kToolSlaveAddress);

// Modbus queries.
QByteArray noiseQuery(uint8_t slave = kToolSlaveAddress);
QByteArray serialNumberQuery(uint8_t slave = kToolSlaveAddress);
QByteArray versionQuery(uint8_t slave = kToolSlaveAddress);
QByteArray deviceAddrQuery(uint8_t slave = kToolSlaveAddress);
QByteArray originQuery(uint8_t slave = kToolSlaveAddress);
QByteArray caliParamQuery(uint8_t slave = kToolSlaveAddress);

// Modbus writes.
QByteArray factoryConfigRequest(uint8_t slave = kToolSlaveAddress);
QByteArray changeToOwnProtocolRequest(uint8_t slave = kToolSlaveAddress);
QByteArray changeToModbusRequest(uint8_t slave = kToolSlaveAddress);
QByteArray setDeviceAddrRequest(uint8_t addr, uint8_t slave = kToolSlaveAddress);

// Calibration offset and factor of range 0, 1 or 2 (any other index: range 0).
uint16_t calibrateRegister(int rangeIndex);
QByteArray calibrateReadRequest(int rangeIndex, uint8_t slave = kToolSlaveAddress);
// Offset travels as a sign byte (01 positive, 00 otherwise) and the low 8 bits
// of its magnitude; the factor as its low 8 bits.
QByteArray calibrateWriteRequest(int rangeIndex, int offset, int factor,
                                 uint8_t slave = kToolSlaveAddress);
// The two register values of that write: sign and magnitude, then the factor.
QVector<uint16_t> calibrationRegisters(int offset, int factor);

// Calibration parameters in hundredths, as signed 32-bit values.
QByteArray setCaliParamRequest(int32_t a, int32_t b, int32_t c, uint8_t slave = kToolSlaveAddress);
// A, B and C as six registers, each value's high half first.
QVector<uint16_t> caliParamRegisters(int32_t a, int32_t b, int32_t c);

// Own-protocol frames.
QByteArray ownIdentityQuery();
QByteArray ownVersionQuery();
QByteArray ownSetIdentityRequest(const std::array<uint8_t, 4> &id);
QByteArray ownCaliParamQuery();
QByteArray ownSetCaliParamRequest(int32_t a, int32_t b, int32_t c);
