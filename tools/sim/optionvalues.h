// Reading the values of the simulator's options: whole numbers and
// decimals in their ranges, levels, firmware versions, serial numbers, the
// calibration and parameter lists, bus addresses and the sensors of a bus.
// Each reader returns false for a text it refuses.
#pragma once

#include "registercodec.h"

#include <QString>
#include <cstdint>

struct SimOptions;
struct BusSensor;

bool parseInt(const QString &text, qint64 low, qint64 high, qint64 &value);
bool parseReal(const QString &text, double low, double high, double &value);
bool parseHundredths(const QString &text, int32_t &value);

// Also used by the control commands.
bool parseDecibels(const QString &text, int &tenths);
bool parseFirmware(const QString &text, FirmwareVersion &version);
bool parseSerialNumber(const QString &text, uint32_t &serialNumber);

// A slave address, 1 to f7, in hexadecimal (1f, 0x1f) as the tool shows
// addresses; three decimal digits (100 to 247) are read as decimal, since
// no address in hexadecimal has three.
bool parseSlaveAddress(const QString &text, uint8_t &address);

// OFFSET,FACTOR for every range; A,B,C; probabilities 0 to 1; hexadecimal
// bus addresses, comma-separated, each 1 to f7 and given once.
bool readCalibration(const QString &text, SimOptions &options);
bool readParams(const QString &text, SimOptions &options);
bool readProbability(const QString &text, double &target);
bool readBusAddresses(const QString &text, SimOptions &o);
// ADDR,SERIAL,PROTOCOL,BAUD[,FIRMWARE], e.g. 1f,2309-0452,own,4800; the rest
// of the settings from `options`.
bool readSensor(const QString &text, const SimOptions &options, BusSensor &sensor);

// Reads a whole number from `low` to `high` into `target`.
template <qint64 low, qint64 high, typename T> bool readInt(const QString &text, T &target)
{
    qint64 value = 0;
    if (!parseInt(text, low, high, value))
        return false;
    target = T(value);
    return true;
}
