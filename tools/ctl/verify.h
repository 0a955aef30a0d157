// Verifying a sensor against a reference level (a sound calibrator on its
// microphone): noise readings as fast as the line allows for a time or a
// count, their statistics, and the verdict.
#pragma once

#include "noisestatistics.h"
#include "serialexchange.h"

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

// The verify command as the command line gives it: the run, and the files
// the verdict goes into.
struct VerifyCommandOptions {
    VerifySettings settings;
    QString pdfPath; // the certificate; empty for none
    QString svgPath; // the chart alone
    QString pngPath;
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
    int status = 0; // an ExitStatus: success on a pass, kExitFail on a fail
    QString error;  // plain words when the readings could not all be taken
    QVector<TimedReading> readings;
    NoiseStatistics statistics;
    Verdict verdict;
    // True when every reading was taken and the verdict stands.
    bool judged() const;
};

Verdict judge(const NoiseStatistics &statistics, const VerifySettings &settings);

// Takes the readings, records and judges them. `onReading` sees each reading
// as it arrives (for progress). A line that stops answering, a damaged reply
// or a lost port ends the run with that command's status and no verdict.
VerifyOutcome runVerify(SerialExchange &exchange, const VerifySettings &settings, uint8_t slave,
                        const std::function<void(const TimedReading &)> &onReading = {});

// "PASS" or "FAIL" and the figures it was judged on, for standard output.
QString verdictText(const VerifyOutcome &outcome, const VerifySettings &settings);
// The same as one JSON object: the statistics, the limits and "result".
QString verdictJson(const VerifyOutcome &outcome, const VerifySettings &settings);
