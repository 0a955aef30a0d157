#include "commands.h"

#include "frame.h"
#include "modbus.h"
#include "sensor.h"

#include <QStringList>
#include <cmath>
#include <limits>

using modbus::kToolSlaveAddress;

int lenientInt(const QString &text, int base)
{
    // toInt yields 0 for text that is not a number or does not fit 32 bits.
    return text.toInt(nullptr, base);
}

float lenientFloat(const QString &text)
{
    // toFloat yields 0 for text that is not a number; out-of-range text yields
    // an infinity, which caliParamToWire maps like any other unsendable value.
    return text.toFloat();
}

QByteArray noiseQuery()
{
    return modbus::readRequest(kToolSlaveAddress, modbus::kReadInput, reg::kNoise, 1);
}

QByteArray serialNumberQuery()
{
    return modbus::readRequest(kToolSlaveAddress, modbus::kReadHolding, reg::kSerialNumber, 2);
}

QByteArray versionQuery()
{
    return modbus::readRequest(kToolSlaveAddress, modbus::kReadHolding, reg::kVersion, 1);
}

QByteArray deviceAddrQuery()
{
    return modbus::readRequest(kToolSlaveAddress, modbus::kReadHolding, reg::kDeviceAddr, 1);
}

QByteArray originQuery()
{
    return modbus::readRequest(kToolSlaveAddress, modbus::kReadHolding, reg::kOrigin, 3);
}

QByteArray caliParamQuery()
{
    return modbus::readRequest(kToolSlaveAddress, modbus::kReadHolding, reg::kCaliParam, 6);
}

QByteArray factoryConfigRequest()
{
    return modbus::writeSingleRequest(kToolSlaveAddress, reg::kFactoryReset,
                                      reg::kFactoryResetValue);
}

QByteArray changeToOwnProtocolRequest()
{
    return modbus::writeSingleRequest(kToolSlaveAddress, reg::kProtocolSelect,
                                      reg::kSelectOwnProtocol);
}

QByteArray changeToModbusRequest()
{
    return modbus::writeSingleRequest(kToolSlaveAddress, reg::kProtocolSelect, reg::kSelectModbus);
}

uint8_t deviceAddrFromText(const QString &text)
{
    const uint8_t addr = uint8_t(uint32_t(lenientInt(text, 16)) & 0xFF);
    return addr == 0 ? 1 : addr;
}

QByteArray setDeviceAddrRequest(uint8_t addr)
{
    return modbus::writeSingleRequest(kToolSlaveAddress, reg::kDeviceAddr, addr);
}

uint16_t calibrateRegister(int rangeIndex)
{
    switch (rangeIndex) {
    case 1:
        return reg::kCalibrateRange1;
    case 2:
        return reg::kCalibrateRange2;
    default:
        return reg::kCalibrateRange0;
    }
}

QByteArray calibrateReadRequest(int rangeIndex)
{
    return modbus::readRequest(kToolSlaveAddress, modbus::kReadHolding,
                               calibrateRegister(rangeIndex), 2);
}

QVector<uint16_t> calibrationRegisters(int offset, int factor)
{
    // The magnitude is taken in unsigned arithmetic, so the most negative
    // offset has a defined magnitude too (its low 8 bits are 00).
    const uint32_t magnitude = offset < 0 ? 0u - uint32_t(offset) : uint32_t(offset);
    const uint16_t sign = offset > 0 ? 0x01 : 0x00;
    return {uint16_t((sign << 8) | (magnitude & 0xFF)), uint16_t(uint32_t(factor) & 0xFF)};
}

QByteArray calibrateWriteRequest(int rangeIndex, int offset, int factor)
{
    return modbus::writeMultipleRequest(kToolSlaveAddress, calibrateRegister(rangeIndex),
                                        calibrationRegisters(offset, factor));
}

int32_t caliParamToWire(float value)
{
    const double hundredfold = double(value) * 100.0;
    // Checked before converting: a double outside the int32 range (or not a
    // number at all) has no defined integer value.
    constexpr double kLimit = 2147483648.0; // 2^31
    if (!std::isfinite(hundredfold) || hundredfold >= kLimit || hundredfold <= -kLimit - 1.0)
        return std::numeric_limits<int32_t>::min();
    return int32_t(hundredfold);
}

QVector<uint16_t> caliParamRegisters(int32_t a, int32_t b, int32_t c)
{
    QVector<uint16_t> registers;
    for (int32_t value : {a, b, c}) {
        registers.append(uint16_t(uint32_t(value) >> 16));
        registers.append(uint16_t(uint32_t(value) & 0xFFFF));
    }
    return registers;
}

QByteArray setCaliParamRequest(int32_t a, int32_t b, int32_t c)
{
    return modbus::writeMultipleRequest(kToolSlaveAddress, reg::kCaliParam,
                                        caliParamRegisters(a, b, c));
}

QByteArray ownIdentityQuery()
{
    return ownFrame(own::kIdentity);
}

QByteArray ownVersionQuery()
{
    return ownFrame(own::kVersion);
}

std::array<uint8_t, 4> identityFromText(const QString &text)
{
    const QStringList groups = text.split(QLatin1Char('-'));
    const uint32_t first = uint32_t(lenientInt(groups.first(), 16));
    const uint32_t last = uint32_t(lenientInt(groups.last(), 16));
    return {uint8_t(first >> 8), uint8_t(first), uint8_t(last >> 8), uint8_t(last)};
}

QByteArray ownSetIdentityRequest(const std::array<uint8_t, 4> &id)
{
    // Data bytes at offsets 8 to 11 of the frame, i.e. 6 to 9 of the data field.
    QByteArray data(6, '\0');
    for (uint8_t byte : id)
        data.append(char(byte));
    return ownFrame(own::kSetIdentity, data);
}

QByteArray ownCaliParamQuery()
{
    return ownFrame(own::kReadCaliParam, QByteArray(1, char(own::kCaliParamSelector)));
}

QByteArray ownSetCaliParamRequest(int32_t a, int32_t b, int32_t c)
{
    QByteArray data(1, char(own::kCaliParamSelector));
    appendBigEndian32(data, uint32_t(a));
    appendBigEndian32(data, uint32_t(b));
    appendBigEndian32(data, uint32_t(c));
    return ownFrame(own::kWriteCaliParam, data);
}
