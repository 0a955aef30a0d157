#include "optionvalues.h"

#include "commands.h"
#include "options.h"
#include "sensor.h"

#include <QRegularExpression>
#include <cmath>

bool parseInt(const QString &text, qint64 low, qint64 high, qint64 &value)
{
    bool ok = false;
    value = text.trimmed().toLongLong(&ok, 0);
    return ok && value >= low && value <= high;
}

bool parseReal(const QString &text, double low, double high, double &value)
{
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) && value >= low && value <= high;
}

bool parseHundredths(const QString &text, int32_t &value)
{
    double real = 0;
    if (!parseReal(text, -21474836.48, 21474836.47, real))
        return false;
    value = int32_t(std::llround(real * 100.0));
    return true;
}

bool parseDecibels(const QString &text, int &tenths)
{
    double decibels = 0;
    if (!parseReal(text, 0.0, 6553.5, decibels))
        return false;
    tenths = int(std::lround(decibels * 10.0));
    return true;
}

bool parseFirmware(const QString &text, FirmwareVersion &version)
{
    static const QRegularExpression form(QStringLiteral("^(\\d+)[.-](\\d+)[.-](-?\\d+)$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    const int major = match.captured(1).toInt();
    const int minor = match.captured(2).toInt();
    const int patch = match.captured(3).toInt();
    if (major < 16 || major > 31 || minor < 0 || minor > 15 || patch < -128 || patch > 127)
        return false;
    version = {major, minor, patch};
    return true;
}

bool parseSerialNumber(const QString &text, uint32_t &serialNumber)
{
    QString digits = text.trimmed();
    digits.remove(QLatin1Char('-'));
    if (digits.isEmpty() || digits.size() > 8)
        return false;
    bool ok = false;
    serialNumber = digits.toUInt(&ok, 16);
    return ok;
}

bool parseSlaveAddress(const QString &text, uint8_t &address)
{
    static const QRegularExpression decimal(QStringLiteral("^\\d{3}$"));
    const QString word = text.trimmed();
    bool ok = false;
    const uint value = decimal.match(word).hasMatch() ? word.toUInt(&ok, 10) : word.toUInt(&ok, 16);
    if (!ok || value < 1 || value > modbus::kMaxSlaveAddress)
        return false;
    address = uint8_t(value);
    return true;
}

bool readCalibration(const QString &text, SimOptions &options)
{
    const QStringList texts = text.split(QLatin1Char(','));
    qint64 offset = 0;
    qint64 factor = 0;
    if (texts.size() != 2 || !parseInt(texts[0], -255, 255, offset) ||
        !parseInt(texts[1], 0, 255, factor))
        return false;
    const QVector<uint16_t> pair = calibrationRegisters(int(offset), int(factor));
    for (size_t range = 0; range < 3; ++range) {
        options.config.calibration[2 * range] = pair[0];
        options.config.calibration[2 * range + 1] = pair[1];
    }
    return true;
}

bool readParams(const QString &text, SimOptions &options)
{
    const QStringList texts = text.split(QLatin1Char(','));
    if (texts.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        if (!parseHundredths(texts[i], options.config.caliParams[size_t(i)]))
            return false;
    }
    return true;
}

bool readProbability(const QString &text, double &target)
{
    return parseReal(text, 0.0, 1.0, target);
}

bool readBusAddresses(const QString &text, SimOptions &o)
{
    o.busAddresses.clear();
    for (const QString &word : text.split(QLatin1Char(','))) {
        uint8_t address = 0;
        if (!parseSlaveAddress(word, address) || o.busAddresses.contains(address))
            return false;
        o.busAddresses << address;
    }
    return !o.busAddresses.isEmpty();
}

bool readSensor(const QString &text, const SimOptions &options, BusSensor &sensor)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4 && fields.size() != 5)
        return false;
    sensor.config = options.config;
    if (!parseSlaveAddress(fields[0], sensor.config.address))
        return false;
    if (!parseSerialNumber(fields[1], sensor.config.serialNumber))
        return false;
    const QString protocol = fields[2].trimmed();
    if (protocol != QLatin1String("modbus") && protocol != QLatin1String("own"))
        return false;
    sensor.config.ownProtocol = protocol == QLatin1String("own");
    bool ok = false;
    sensor.baud = fields[3].trimmed().toInt(&ok);
    if (!ok || sensor.baud < 50 || sensor.baud > 4000000)
        return false;
    return fields.size() == 4 || parseFirmware(fields[4], sensor.config.version);
}
