#include "inputs.h"

#include <QRegularExpression>
#include <limits>

namespace {

// A whole decimal number; `error` names what is wrong with it.
bool readDecimal(const QString &text, qint64 &value, QString &error, const QString &what)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]+$"));
    if (!pattern.match(text).hasMatch()) {
        error = QStringLiteral("%1 '%2' is not a whole decimal number").arg(what, text);
        return false;
    }
    bool ok = false;
    value = text.toLongLong(&ok, 10);
    if (!ok) {
        error = QStringLiteral("%1 '%2' is far too large").arg(what, text);
        return false;
    }
    return true;
}

QString addressText(int value)
{
    return QStringLiteral("%1 (%2)").arg(QString::number(value, 16)).arg(value);
}

} // namespace

Checked<int> checkDecimalInRange(const QString &typed, qint64 low, qint64 high, const QString &what,
                                 const QString &why)
{
    const QString text = typed.trimmed();
    Checked<int> out;
    qint64 value = 0;
    if (!readDecimal(text, value, out.error, what))
        return out;
    if (value < low || value > high) {
        out.error = QStringLiteral("%1 %2 does not fit: %3").arg(what, text, why);
        return out;
    }
    out.value = int(value);
    return out;
}

Checked<uint8_t> checkSlaveAddress(const QString &typed, bool allowBroadcast)
{
    const QString text = typed.trimmed();
    static const QRegularExpression pattern(QStringLiteral("^(0[xX])?[0-9a-fA-F]+$"));
    constexpr int kHighest = 0xF7; // 248 to 255 are reserved in Modbus
    const int lowest = allowBroadcast ? 0 : 1;
    Checked<uint8_t> out;
    if (!pattern.match(text).hasMatch()) {
        out.error = QStringLiteral("address '%1' is not a hexadecimal number (like 1f)").arg(text);
        return out;
    }
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 16);
    if (!ok || value < qulonglong(lowest) || value > qulonglong(kHighest)) {
        out.error = QStringLiteral("address %1 does not fit: a slave address is %2 to %3, "
                                   "written in hexadecimal")
                        .arg(text, addressText(lowest), addressText(kHighest));
        if (!allowBroadcast && ok && value == 0)
            out.error += QStringLiteral("; 0 is the broadcast address every sensor answers");
        return out;
    }
    out.value = uint8_t(value);
    return out;
}

Checked<int> checkCalibrationOffset(const QString &text)
{
    return checkDecimalInRange(
        text, -255, 255, QStringLiteral("calibration offset"),
        QStringLiteral("the sensor keeps a sign and one byte of magnitude, so -255 to 255"));
}

Checked<int> checkCalibrationFactor(const QString &text)
{
    return checkDecimalInRange(text, 0, 255, QStringLiteral("calibration factor"),
                               QStringLiteral("the sensor keeps it in one byte, so 0 to 255"));
}

Checked<int> checkCalibrationRange(const QString &text)
{
    return checkDecimalInRange(text, 0, 2, QStringLiteral("calibration range"),
                               QStringLiteral("the sensor has ranges 0, 1 and 2"));
}

Checked<int32_t> checkHundredths(const QString &typed)
{
    const QString text = typed.trimmed();
    static const QRegularExpression pattern(QStringLiteral("^([+-]?)([0-9]*)(?:\\.([0-9]*))?$"));
    Checked<int32_t> out;
    const QRegularExpressionMatch match = pattern.match(text);
    const QString whole = match.captured(2);
    QString fraction = match.captured(3);
    if (!match.hasMatch() || (whole.isEmpty() && fraction.isEmpty())) {
        out.error = QStringLiteral("'%1' is not a decimal number (like 1.5 or -0.25)").arg(text);
        return out;
    }
    while (fraction.size() > 2 && fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (fraction.size() > 2) {
        out.error = QStringLiteral("%1 has more than two decimal places: the sensor keeps "
                                   "hundredths")
                        .arg(text);
        return out;
    }
    fraction = fraction.leftJustified(2, QLatin1Char('0'));

    // Digits beyond what a 64-bit value holds are out of range anyway.
    QString digits = whole + fraction;
    while (digits.size() > 1 && digits.startsWith(QLatin1Char('0')))
        digits.remove(0, 1);
    bool ok = digits.size() <= 18;
    qint64 hundredths = ok ? digits.toLongLong(&ok, 10) : 0;
    if (match.captured(1) == QLatin1String("-"))
        hundredths = -hundredths;
    if (!ok || hundredths < std::numeric_limits<int32_t>::min() ||
        hundredths > std::numeric_limits<int32_t>::max()) {
        out.error = QStringLiteral("%1 does not fit: the sensor keeps hundredths in a signed "
                                   "32-bit value, so -21474836.48 to 21474836.47")
                        .arg(text);
        return out;
    }
    out.value = int32_t(hundredths);
    return out;
}

Checked<std::array<uint8_t, 4>> checkIdentity(const QString &typed)
{
    const QString text = typed.trimmed();
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9a-fA-F]{1,4})-([0-9a-fA-F]{1,4})$"));
    Checked<std::array<uint8_t, 4>> out;
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        out.error = QStringLiteral("identity '%1' does not fit: it is two groups of one to four "
                                   "hexadecimal digits (16 bits each) joined by '-', like "
                                   "12ab-00ff")
                        .arg(text);
        return out;
    }
    const uint16_t first = uint16_t(match.captured(1).toUInt(nullptr, 16));
    const uint16_t last = uint16_t(match.captured(2).toUInt(nullptr, 16));
    out.value = {uint8_t(first >> 8), uint8_t(first), uint8_t(last >> 8), uint8_t(last)};
    return out;
}
