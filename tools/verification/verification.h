// Verifying a sensor against a reference level (a sound calibrator on its
// microphone): noise readings as fast as the line allows for a time or a
// count, their statistics, and the verdict.
#pragma once

#include "noisestatistics.h"
#include "sensorclient.h"

#include <QDateTime>
#include <QString>
#include <QVector>
#include <functional>

struct VerifySettings {
    double reference = 94.0; // dB
    double tolerance = 0.5;  // dB either side of the reference
    int durationMs = 10000;  // how long to read, unless `count` is given
    int count = 0;           // readings to take; 0: read for `durationMs`
    bool hasMaxSpread = false;
    double maxSpread = 0.0; // largest L10 - L90 allowed, dB
    QString recordPath;     // CSV of every reading; empty for none
};

struct TimedReading {
    QDateTime time; // UTC
    LevelSample sample;
};

struct Verdict {
    bool levelWithin = false; // |Leq - reference| <= tolerance
    bool spreadWithin = true; // L10 - L90 <= max spread, or no limit given
    bool passed() const { return levelWithin && spreadWithin; }
};

struct VerifyOutcome {
    enum End {
        Judged,       // every reading was taken: `verdict` stands
        LineFailed,   // a reading failed as `line` says: no verdict
        RecordFailed, // the record could not be written: no verdict
    };
    End end = Judged;
    Outcome line;  // the failed reading's outcome, when the line failed
    QString error; // plain words when the readings could not all be taken
    QVector<TimedReading> readings;
    NoiseStatistics statistics;
    Verdict verdict;
    bool judged() const { return end == Judged; }
    bool passed() const { return judged() && verdict.passed(); }
};

Verdict judge(const NoiseStatistics &statistics, const VerifySettings &settings);

// Takes the readings, records and judges them. `onReading` sees each reading
// as it arrives (for progress). A line that stops answering, a damaged reply
// or a lost port ends the run with no verdict. Times are taken on the
// client's line clock.
VerifyOutcome runVerify(SensorClient &client, const VerifySettings &settings,
                        const std::function<void(const TimedReading &)> &onReading = {});

// Why a judged run failed, in one line ("Leq 93.20 dB is off the reference
// 94.00 dB by more than 0.50 dB"); empty when it passed or was not judged.
QString failureReason(const VerifyOutcome &outcome, const VerifySettings &settings);

// "PASS" or "FAIL" and the figures it was judged on, for standard output.
QString verdictText(const VerifyOutcome &outcome, const VerifySettings &settings);
// The same as one JSON object: the statistics, the limits and "result".
QString verdictJson(const VerifyOutcome &outcome, const VerifySettings &settings);
