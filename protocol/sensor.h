// The sensor's vocabulary: Modbus function codes and registers, and the
// command codes of its own protocol. The tool, the simulator and the
// command-line companion all speak through these names.
#pragma once

#include <cstdint>

namespace modbus {
constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kReadInput = 0x04;
constexpr uint8_t kWriteSingle = 0x06;
constexpr uint8_t kWriteMultiple = 0x10;
constexpr uint8_t kExceptionBit = 0x80;

// Exception codes a slave answers with.
constexpr uint8_t kIllegalFunction = 0x01;
constexpr uint8_t kIllegalDataAddress = 0x02;
constexpr uint8_t kIllegalDataValue = 0x03;
constexpr uint8_t kSlaveDeviceFailure = 0x04;

// Every request the window sends goes to this address.
constexpr uint8_t kToolSlaveAddress = 0x00;
// The highest address a sensor may have (the lowest is 1).
constexpr uint8_t kMaxSlaveAddress = 247;
} // namespace modbus

namespace reg {
constexpr uint16_t kNoise = 0x0000;           // input register, tenths of a dB
constexpr uint16_t kSerialNumber = 0x0001;    // two holding registers
constexpr uint16_t kVersion = 0x0003;         // one holding register
constexpr uint16_t kDeviceAddr = 0x0009;      // own slave address in the low byte
constexpr uint16_t kOrigin = 0x00A1;          // raw and mapped values, three registers
constexpr uint16_t kFactoryReset = 0x00A5;    // write 0x0001
constexpr uint16_t kProtocolSelect = 0x00B1;  // 0x0000 own protocol, 0x0003 Modbus
constexpr uint16_t kCaliParam = 0x00B2;       // A, B, C: two registers each
constexpr uint16_t kCalibrateRange0 = 0x00C3; // offset and factor, two registers a range
constexpr uint16_t kCalibrateRange1 = 0x00C5;
constexpr uint16_t kCalibrateRange2 = 0x00C7;

constexpr uint16_t kCalibrationCount = 2; // offset, then factor, of one range
constexpr uint16_t kCaliParamCount = 6;   // A, B, C: a signed 32-bit value each

constexpr uint16_t kFactoryResetValue = 0x0001;
constexpr uint16_t kSelectOwnProtocol = 0x0000;
constexpr uint16_t kSelectModbus = 0x0003;
} // namespace reg

// One read the tool makes: function, first register and register count. Its
// reply carries two data bytes a register, so the count fixes the reply's
// byte count and length.
struct RegisterRead {
    uint8_t function;
    uint16_t firstRegister;
    uint16_t count;
    constexpr uint8_t replyByteCount() const { return uint8_t(2 * count); }
};

namespace reads {
constexpr RegisterRead kNoise{modbus::kReadInput, reg::kNoise, 1};
constexpr RegisterRead kSerialNumber{modbus::kReadHolding, reg::kSerialNumber, 2};
constexpr RegisterRead kVersion{modbus::kReadHolding, reg::kVersion, 1};
constexpr RegisterRead kDeviceAddr{modbus::kReadHolding, reg::kDeviceAddr, 1};
constexpr RegisterRead kOrigin{modbus::kReadHolding, reg::kOrigin, 3};
constexpr RegisterRead kCaliParam{modbus::kReadHolding, reg::kCaliParam, reg::kCaliParamCount};
// Range 0; the other ranges are read the same way at their own register.
constexpr RegisterRead kCalibration{modbus::kReadHolding, reg::kCalibrateRange0,
                                    reg::kCalibrationCount};
} // namespace reads

namespace own {
constexpr uint8_t kReport = 0xA5;   // unsolicited origin/noise/AD report
constexpr uint8_t kIdentity = 0xA6; // identity query and its reply
constexpr uint8_t kSetIdentity = 0xA7;
constexpr uint8_t kWriteCaliParam = 0xA8; // write parameters, and its confirmation
constexpr uint8_t kReadCaliParam = 0xA9;  // read parameters, and the reply carrying them
constexpr uint8_t kConfig = 0xB4;         // factory reset and calibration replies
constexpr uint8_t kVersion = 0xB5;        // version query and its reply

// Offsets within a 19-byte frame (head 0, command 1, data 2 to 16, checksum
// 17, tail 18).
constexpr int kSelectorOffset = 2;       // parameter selector, report marker, kind of 0xB4
constexpr int kIdentityOffset = 8;       // 4 bytes: two big-endian 16-bit groups
constexpr int kVersionOffset = 9;        // 3 signed bytes: major, minor, patch
constexpr int kCaliParamOffset = 3;      // A, B, C: 4 bytes each, big-endian, hundredths
constexpr int kReportOriginOffset = 5;   // 2 bytes, low byte first
constexpr int kReportNoiseOffset = 11;   // 2 bytes, low byte first, tenths of a dB
constexpr int kReportAdCountOffset = 13; // 4 bytes, big-endian
constexpr int kConfigSignOffset = 3;     // 0xB4 0B: sign, magnitude, factor; 0xB4 FD: done flag
constexpr int kConfigMagnitudeOffset = 4;
constexpr int kConfigFactorOffset = 5;

constexpr uint8_t kCaliParamSelector = 0x51; // selector of both parameter frames
constexpr uint8_t kReportMarker = 0x03;      // byte 2 of a 0xA5 report
constexpr uint8_t kConfigFactoryReset = 0xFD;
constexpr uint8_t kConfigCalibration = 0x0B;
constexpr uint8_t kConfigCalibrateDone = 0x0C;
constexpr uint8_t kFactoryResetDone = 0x01; // at kConfigSignOffset of 0xB4 FD
} // namespace own
