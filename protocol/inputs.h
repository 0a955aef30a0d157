// Strict readings of values a person types, for the window and ktr450ctl
// alike: a value is taken exactly as written or refused with the reason,
// never cut to its field's low bits or read as 0. Blanks and line ends
// around a value are not part of it.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

// A value read from text, or the reason it was refused.
template <typename T> struct Checked {
    T value{};
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// A whole decimal number from `low` to `high`; `what` names it in the error
// and `why` says where the limits come from.
Checked<int> checkDecimalInRange(const QString &text, qint64 low, qint64 high, const QString &what,
                                 const QString &why);

// Addresses are hexadecimal, as the window shows them ("1f", "0x1f").
// A new address for the sensor is 1 to f7; a request may also go to 0.
Checked<uint8_t> checkSlaveAddress(const QString &text, bool allowBroadcast);
// The offset travels as a sign and one byte of magnitude: -255 to 255.
Checked<int> checkCalibrationOffset(const QString &text);
// The factor travels as one byte: 0 to 255.
Checked<int> checkCalibrationFactor(const QString &text);
Checked<int> checkCalibrationRange(const QString &text);
// A decimal number as a whole count of hundredths that fits a signed 32-bit
// value; more decimal places than two are refused unless they are zeros.
// Read digit by digit, so 0.29 is 29 (no binary floating point on the way).
Checked<int32_t> checkHundredths(const QString &text);
// Two groups of one to four hex digits joined by "-", as in 12ab-00ff.
Checked<std::array<uint8_t, 4>> checkIdentity(const QString &text);
