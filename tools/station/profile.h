// The commissioning profile: the settings every sensor on a station leaves
// with, and the verification it must pass. Read from JSON and checked as a
// whole before anything is sent, so a mistake stops the station at start-up
// instead of half-way through a batch of sensors.
#pragma once

#include "inputs.h"
#include "registercodec.h"

#include <QJsonObject>
#include <QString>
#include <QVector>
#include <cstdint>
#include <optional>

// Offset and factor of one calibration range; the sensor takes both in one
// write.
struct RangeCalibration {
    int range = 0;
    int offset = 0;
    int factor = 0;
};

enum class LinkProtocol { Modbus, Own };

// dB values in hundredths; the spread limit and the reference source are
// optional.
struct VerificationTarget {
    int32_t referenceHundredths = 0;
    int32_t toleranceHundredths = 0;
    int durationSeconds = 0;
    std::optional<int32_t> maxSpreadHundredths;
    // The calibrator or reference source (make, serial number, level and
    // frequency), for the record and the certificate.
    QString referenceSource;
};

// The reference source as the profile's "reference_source" and ktr450ctl's
// --reference-source take it: one line of 1 to 200 characters.
Checked<QString> checkReferenceSource(const QString &text);

struct CommissioningProfile {
    std::optional<uint8_t> address;
    QVector<RangeCalibration> calibration;           // at most one entry per range
    std::optional<CalibrationParameters> parameters; // one write takes all three
    std::optional<LinkProtocol> protocol;
    std::optional<VerificationTarget> verification;

    // The settings asked for, as a run record keeps them.
    QJsonObject settingsJson() const;
};

// A refused profile: `field` is a JSON path such as "calibration[1].factor"
// (empty when the file as a whole is at fault), `reason` says what is wrong.
struct ProfileError {
    QString field;
    QString reason;
    QString message() const;
};

struct ProfileOutcome {
    CommissioningProfile profile;
    std::optional<ProfileError> error;
    bool ok() const { return !error; }
    QString errorMessage() const { return error ? error->message() : QString(); }
};

// JSON with whole-line "//" comments (a line whose first non-blank
// characters are "//"); the comment lines are dropped before parsing. A
// member given twice in one object, and a profile that neither writes nor
// verifies anything, are refused.
ProfileOutcome parseProfile(const QByteArray &text);
ProfileOutcome loadProfile(const QString &path);
