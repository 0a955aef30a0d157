#include "registercodec.h"

#include "frame.h"

namespace {

QVector<uint16_t> words32(uint32_t value)
{
    return {uint16_t(value >> 16), uint16_t(value & 0xFFFF)};
}

QByteArray oneByte(uint8_t value)
{
    return QByteArray(1, char(value));
}

uint16_t littleEndian16(const uint8_t *bytes)
{
    return uint16_t(bytes[0] | (bytes[1] << 8));
}

void appendLittleEndian16(QByteArray &out, uint16_t value)
{
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}

CalibrationParameters paramsAt(const uint8_t *bytes)
{
    return {int32_t(bigEndian32(bytes)), int32_t(bigEndian32(bytes + 4)),
            int32_t(bigEndian32(bytes + 8))};
}

} // namespace

uint16_t decodeNoise(const uint8_t *data)
{
    return bigEndian16(data);
}

QVector<uint16_t> encodeNoise(uint16_t tenths)
{
    return {tenths};
}

uint32_t decodeSerialNumber(const uint8_t *data)
{
    return bigEndian32(data);
}

QVector<uint16_t> encodeSerialNumber(uint32_t serialNumber)
{
    return words32(serialNumber);
}

FirmwareVersion decodeVersion(const uint8_t *data)
{
    const uint8_t high = data[0];
    return {(high >> 4) + 16, high & 0x0F, int(int8_t(data[1]))};
}

QVector<uint16_t> encodeVersion(const FirmwareVersion &version)
{
    return {uint16_t((((version.major - 16) & 0x0F) << 12) | ((version.minor & 0x0F) << 8) |
                     uint8_t(version.patch))};
}

uint8_t decodeDeviceAddr(const uint8_t *data)
{
    return data[1];
}

QVector<uint16_t> encodeDeviceAddr(uint8_t address)
{
    return {address};
}

Origin decodeOrigin(const uint8_t *data)
{
    return {bigEndian32(data), bigEndian16(data + 4)};
}

QVector<uint16_t> encodeOrigin(const Origin &origin)
{
    return words32(origin.raw) << origin.noiseTenths;
}

CalibrationParameters decodeCaliParams(const uint8_t *data)
{
    return paramsAt(data);
}

QVector<uint16_t> encodeCaliParams(const CalibrationParameters &params)
{
    return words32(uint32_t(params.a)) + words32(uint32_t(params.b)) + words32(uint32_t(params.c));
}

int calibrationOffset(uint8_t signByte, uint8_t magnitude)
{
    return signByte == 0x00 ? -int(magnitude) : int(magnitude);
}

Calibration decodeCalibration(const uint8_t *data)
{
    return {calibrationOffset(data[0], data[1]), data[3]};
}

QVector<uint16_t> encodeCalibration(const Calibration &calibration)
{
    // The magnitude is taken in unsigned arithmetic, so the most negative
    // offset has a defined magnitude too (its low 8 bits are 00).
    const int offset = calibration.offset;
    const uint32_t magnitude = offset < 0 ? 0u - uint32_t(offset) : uint32_t(offset);
    const uint16_t sign = offset > 0 ? 0x01 : 0x00;
    return {uint16_t((sign << 8) | (magnitude & 0xFF)),
            uint16_t(uint32_t(calibration.factor) & 0xFF)};
}

uint16_t encodeProtocolSelect(bool ownProtocol)
{
    return ownProtocol ? reg::kSelectOwnProtocol : reg::kSelectModbus;
}

bool decodeProtocolSelect(uint16_t value)
{
    return value == reg::kSelectOwnProtocol;
}

uint32_t decodeOwnIdentity(const uint8_t *frame)
{
    return bigEndian32(frame + own::kIdentityOffset);
}

QByteArray ownIdentityFrame(uint8_t command, uint32_t identity)
{
    QByteArray id;
    appendBigEndian32(id, identity);
    return ownFrame(command, {{own::kIdentityOffset, id}});
}

FirmwareVersion ownVersionAt(const uint8_t *bytes)
{
    return {int(int8_t(bytes[0])), int(int8_t(bytes[1])), int(int8_t(bytes[2]))};
}

FirmwareVersion decodeOwnVersion(const uint8_t *frame)
{
    return ownVersionAt(frame + own::kVersionOffset);
}

QByteArray ownVersionFrame(const FirmwareVersion &version)
{
    QByteArray bytes;
    for (int part : {version.major, version.minor, version.patch})
        bytes.append(char(part & 0xFF));
    return ownFrame(own::kVersion, {{own::kVersionOffset, bytes}});
}

CalibrationParameters decodeOwnCaliParams(const uint8_t *frame)
{
    return paramsAt(frame + own::kCaliParamOffset);
}

QByteArray ownCaliParamFrame(uint8_t command, const CalibrationParameters &params)
{
    QByteArray bytes;
    for (int32_t value : {params.a, params.b, params.c})
        appendBigEndian32(bytes, uint32_t(value));
    return ownFrame(command, {{own::kSelectorOffset, oneByte(own::kCaliParamSelector)},
                              {own::kCaliParamOffset, bytes}});
}

Calibration decodeOwnCalibration(const uint8_t *frame)
{
    return {calibrationOffset(frame[own::kConfigSignOffset], frame[own::kConfigMagnitudeOffset]),
            frame[own::kConfigFactorOffset]};
}

OwnReport decodeOwnReport(const uint8_t *frame)
{
    return {littleEndian16(frame + own::kReportOriginOffset),
            littleEndian16(frame + own::kReportNoiseOffset),
            bigEndian32(frame + own::kReportAdCountOffset)};
}

QByteArray ownReportFrame(const OwnReport &report)
{
    QByteArray origin;
    appendLittleEndian16(origin, report.origin);
    QByteArray noise;
    appendLittleEndian16(noise, report.noiseTenths);
    QByteArray count;
    appendBigEndian32(count, report.adCount);
    return ownFrame(own::kReport, {{own::kSelectorOffset, oneByte(own::kReportMarker)},
                                   {own::kReportOriginOffset, origin},
                                   {own::kReportNoiseOffset, noise},
                                   {own::kReportAdCountOffset, count}});
}
