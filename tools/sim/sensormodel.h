// A KTR450 sensor as seen from its serial line: its settings, a noise level
// that drifts, and the answer to every request. No I/O: requests in, reply
// frames out, so the whole behaviour is testable without a line.
#pragma once

#include "registercodec.h"
#include "requestparser.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <random>

// The sensor's own settings: what a factory reset restores.
struct SensorConfig {
    uint8_t address = 1;                // own Modbus slave address, 1 to 247
    uint32_t serialNumber = 0x23090451; // also its own-protocol identity
    FirmwareVersion version{17, 6, 11};
    std::array<int32_t, 3> caliParams{{100, 50, -25}}; // A, B, C in hundredths
    // Offset and factor registers of calibration ranges 0 to 2: the offset
    // register holds a sign byte (0x01 positive, 0x00 otherwise) and the
    // magnitude, the factor register the factor in its low byte.
    std::array<uint16_t, 6> calibration{{0x0000, 100, 0x0000, 100, 0x0000, 100}};
    bool ownProtocol = false; // true: answers its own protocol instead of Modbus
    // A register whose writes are refused with exception 3, as on a sensor
    // with that setting locked; -1 for none.
    int refusedRegister = -1;
};

class SensorModel
{
  public:
    // levelTenths: the noise level in tenths of a dB; driftTenths: how far the
    // value wanders from it (0: always the level). The same seed gives the
    // same sequence of values.
    SensorModel(const SensorConfig &defaults, int levelTenths, int driftTenths, uint32_t seed);

    struct Answer {
        QByteArray reply; // empty: the sensor stays silent
        QString note;     // why it is silent, or what it did
    };
    Answer handle(const Request &request);

    // Frames the sensor sends unprompted.
    QByteArray reportFrame(); // 0xA5: raw value, noise and AD count
    QByteArray factoryDoneFrame() const;
    QByteArray calibrationFrame() const; // offset and factor of range 0
    QByteArray calibrateDoneFrame() const;

    const SensorConfig &config() const { return config_; }
    void factoryReset() { config_ = defaults_; }
    void setNoiseLevel(int levelTenths) { levelTenths_ = levelTenths; }
    int noiseLevel() const { return levelTenths_; }
    int noiseDrift() const { return driftTenths_; }

    // The next noise value in tenths of a dB, within level +- drift.
    int sampleNoise();
    // Raw amplitude and AD count that a noise value is mapped from.
    static uint32_t originFromNoise(int noiseTenths);
    static uint32_t adCountFromNoise(int noiseTenths);

  private:
    Answer handleModbus(const QByteArray &request);
    Answer handleOwn(const QByteArray &frame);
    Answer readRegisters(const QByteArray &request);
    Answer writeRegisters(const QByteArray &request, uint16_t first,
                          const QVector<uint16_t> &values);
    struct Block {
        uint16_t first;
        QVector<uint16_t> words;
    };
    QVector<Block> holdingRegisters(int noise) const;
    uint8_t checkWrite(uint16_t reg, uint16_t value) const; // 0 or an exception code
    void applyWrite(uint16_t reg, uint16_t value);

    SensorConfig defaults_;
    SensorConfig config_;
    int levelTenths_;
    int driftTenths_;
    int deviation_ = 0;
    std::mt19937 rng_;
};
