#include "commands.h"

#include "frame.h"
#include "modbus.h"
#include "registercodec.h"
#include "sensor.h"

QByteArray readRequest(const RegisterRead &read, uint8_t slave)
{
    return modbus::readRequest(slave, read.function, read.firstRegister, read.count);
}

QByteArray noiseQuery(uint8_t slave)
{
    return readRequest(reads::kNoise, slave);
}

QByteArray serialNumberQuery(uint8_t slave)
{
    return readRequest(reads::kSerialNumber, slave);
}

QByteArray versionQuery(uint8_t slave)
{
    return readRequest(reads::kVersion, slave);
}

QByteArray deviceAddrQuery(uint8_t slave)
{
    return readRequest(reads::kDeviceAddr, slave);
}

QByteArray originQuery(uint8_t slave)
{
    return readRequest(reads::kOrigin, slave);
}

QByteArray caliParamQuery(uint8_t slave)
{
    return readRequest(reads::kCaliParam, slave);
}

QByteArray factoryConfigRequest(uint8_t slave)
{
    return modbus::writeSingleRequest(slave, reg::kFactoryReset, reg::kFactoryResetValue);
}

QByteArray changeToOwnProtocolRequest(uint8_t slave)
{
    return modbus::writeSingleRequest(slave, reg::kProtocolSelect, reg::kSelectOwnProtocol);
}

QByteArray changeToModbusRequest(uint8_t slave)
{
    return modbus::writeSingleRequest(slave, reg::kProtocolSelect, reg::kSelectModbus);
}

QByteArray setDeviceAddrRequest(uint8_t addr, uint8_t slave)
{
    return modbus::writeSingleRequest(slave, reg::kDeviceAddr, addr);
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

QByteArray calibrateReadRequest(int rangeIndex, uint8_t slave)
{
    RegisterRead read = reads::kCalibration;
    read.firstRegister = calibrateRegister(rangeIndex);
    return readRequest(read, slave);
}

QVector<uint16_t> calibrationRegisters(int offset, int factor)
{
    return encodeCalibration({offset, factor});
}

QByteArray calibrateWriteRequest(int rangeIndex, int offset, int factor, uint8_t slave)
{
    return modbus::writeMultipleRequest(slave, calibrateRegister(rangeIndex),
                                        calibrationRegisters(offset, factor));
}

QVector<uint16_t> caliParamRegisters(int32_t a, int32_t b, int32_t c)
{
    return encodeCaliParams({a, b, c});
}

QByteArray setCaliParamRequest(int32_t a, int32_t b, int32_t c, uint8_t slave)
{
    return modbus::writeMultipleRequest(slave, reg::kCaliParam, caliParamRegisters(a, b, c));
}

QByteArray ownIdentityQuery()
{
    return ownFrame(own::kIdentity);
}

QByteArray ownVersionQuery()
{
    return ownFrame(own::kVersion);
}

QByteArray ownSetIdentityRequest(const std::array<uint8_t, 4> &id)
{
    return ownIdentityFrame(own::kSetIdentity, bigEndian32(id.data()));
}

QByteArray ownCaliParamQuery()
{
    return ownFrame(own::kReadCaliParam,
                    {{own::kSelectorOffset, QByteArray(1, char(own::kCaliParamSelector))}});
}

QByteArray ownSetCaliParamRequest(int32_t a, int32_t b, int32_t c)
{
    return ownCaliParamFrame(own::kWriteCaliParam, {a, b, c});
}
