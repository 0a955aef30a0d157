#include "formats.h"

#include "frame.h"

QString realText(double value)
{
    return QStringLiteral("%1").arg(value);
}

QString tenthsText(unsigned tenths)
{
    return realText(tenths / 10.0);
}

QString realHundredthsText(int32_t hundredths)
{
    return realText(hundredths / 100.0);
}

QString exactHundredthsText(int32_t hundredths)
{
    const int64_t value = hundredths;
    const int64_t magnitude = value < 0 ? -value : value;
    QString text = QString::number(magnitude / 100);
    const int cents = int(magnitude % 100);
    if (cents != 0) {
        text += QLatin1Char('.') + QString::number(cents / 10);
        if (cents % 10 != 0)
            text += QString::number(cents % 10);
    }
    return value < 0 ? QLatin1Char('-') + text : text;
}

QString parametersText(const CalibrationParameters &params)
{
    return QStringLiteral("%1 %2 %3")
        .arg(exactHundredthsText(params.a), exactHundredthsText(params.b),
             exactHundredthsText(params.c));
}

QString identityText(const uint8_t *bytes)
{
    return hexPair(bytes[0]) + hexPair(bytes[1]) + QLatin1Char('-') + hexPair(bytes[2]) +
           hexPair(bytes[3]);
}

QString identityText(uint32_t identity)
{
    const uint8_t bytes[4] = {uint8_t(identity >> 24), uint8_t(identity >> 16),
                              uint8_t(identity >> 8), uint8_t(identity)};
    return identityText(bytes);
}

QString firmwareVersionText(const FirmwareVersion &version)
{
    return QStringLiteral("%1-%2-%3").arg(version.major).arg(version.minor).arg(version.patch);
}

QString zeroOffsetText(uint8_t signByte, uint8_t magnitude)
{
    return QString::number(calibrationOffset(signByte, magnitude));
}
