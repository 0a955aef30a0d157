// The sensor's values and how they travel: for each entry of the register
// table (sensor.h), the typed value its register data decodes to and the
// register words it encodes to; and the same values in the own protocol's
// 19-byte frames. The window's decoder, the sensor client and the simulator
// all read and write the values through here.
#pragma once

#include "sensor.h"

#include <QByteArray>
#include <QVector>
#include <cstdint>

// A firmware version as the sensor reports it: 17-6-11.
struct FirmwareVersion {
    int major = 0; // 16 to 31 over Modbus, which carries it as four bits plus 16
    int minor = 0; // 0 to 15 over Modbus
    int patch = 0; // -128 to 127
    bool operator==(const FirmwareVersion &o) const
    {
        return major == o.major && minor == o.minor && patch == o.patch;
    }
};

// Offset and factor of one calibration range. The offset travels as a sign
// byte (01 positive, 00 otherwise) and the low 8 bits of its magnitude, the
// factor as its low 8 bits.
struct Calibration {
    int offset = 0;
    int factor = 0;
    bool operator==(const Calibration &o) const { return offset == o.offset && factor == o.factor; }
};

// Calibration parameters A, B and C in hundredths, signed 32-bit each.
struct CalibrationParameters {
    int32_t a = 0;
    int32_t b = 0;
    int32_t c = 0;
    bool operator==(const CalibrationParameters &o) const
    {
        return a == o.a && b == o.b && c == o.c;
    }
    bool operator!=(const CalibrationParameters &o) const { return !(*this == o); }
};

// The raw value a noise value is mapped from, with that noise value.
struct Origin {
    uint32_t raw = 0;
    uint16_t noiseTenths = 0;
};

// `data` below is a read reply's register data (two bytes a register,
// big-endian), at least as long as its read of the register table asks for;
// the words returned are the registers in order, ready for a write request
// or a read reply.

// reads::kNoise: tenths of a dB.
uint16_t decodeNoise(const uint8_t *data);
QVector<uint16_t> encodeNoise(uint16_t tenths);

// reads::kSerialNumber: also the identity in the own protocol.
uint32_t decodeSerialNumber(const uint8_t *data);
QVector<uint16_t> encodeSerialNumber(uint32_t serialNumber);

// reads::kVersion: the high four bits plus 16, the next four, then the low
// byte signed: 0x160B is 17-6-11.
FirmwareVersion decodeVersion(const uint8_t *data);
QVector<uint16_t> encodeVersion(const FirmwareVersion &version);

// reads::kDeviceAddr: the sensor's own slave address in the low byte.
uint8_t decodeDeviceAddr(const uint8_t *data);
QVector<uint16_t> encodeDeviceAddr(uint8_t address);

// reads::kOrigin: a 32-bit raw value, then the noise.
Origin decodeOrigin(const uint8_t *data);
QVector<uint16_t> encodeOrigin(const Origin &origin);

// reads::kCaliParam: A, B and C, each value's high half first.
CalibrationParameters decodeCaliParams(const uint8_t *data);
QVector<uint16_t> encodeCaliParams(const CalibrationParameters &params);

// reads::kCalibration (and the other ranges at calibrateRegister()): the
// offset register holds sign and magnitude, the factor register the factor
// in its low byte.
Calibration decodeCalibration(const uint8_t *data);
QVector<uint16_t> encodeCalibration(const Calibration &calibration);
// The offset of a sign byte (0x00 negative, any other value positive) and a
// magnitude, as the sensor keeps it.
int calibrationOffset(uint8_t signByte, uint8_t magnitude);

// reg::kProtocolSelect.
uint16_t encodeProtocolSelect(bool ownProtocol);
bool decodeProtocolSelect(uint16_t value); // true: the own protocol

// The same values in the own protocol's frames, read from a whole 19-byte
// frame and written as one.
uint32_t decodeOwnIdentity(const uint8_t *frame); // reply to own::kIdentity
QByteArray ownIdentityFrame(uint8_t command, uint32_t identity);
FirmwareVersion decodeOwnVersion(const uint8_t *frame); // reply to own::kVersion
// The version's three signed bytes at own::kVersionOffset: 11 06 07 is 17-6-7.
FirmwareVersion ownVersionAt(const uint8_t *bytes);
QByteArray ownVersionFrame(const FirmwareVersion &version);
// own::kReadCaliParam and own::kWriteCaliParam frames, with their selector.
CalibrationParameters decodeOwnCaliParams(const uint8_t *frame);
QByteArray ownCaliParamFrame(uint8_t command, const CalibrationParameters &params);
// 0xB4 0B: offset and factor of range 0.
Calibration decodeOwnCalibration(const uint8_t *frame);

// The unprompted 0xA5 report: raw value and noise low byte first, the AD
// count big-endian.
struct OwnReport {
    uint16_t origin = 0;
    uint16_t noiseTenths = 0;
    uint32_t adCount = 0;
};
OwnReport decodeOwnReport(const uint8_t *frame);
QByteArray ownReportFrame(const OwnReport &report);
