// Everything a verification certificate shows, as plain values: the report
// code reads nothing from the line or the clock itself.
#pragma once

#include "noisestatistics.h"

#include <QDateTime>
#include <QString>
#include <QVector>

struct CertificateData {
    // The sensor, as ktr450ctl prints each reading.
    QString serial;
    QString firmware;
    QString address;
    QString protocol;
    QString calibration; // offset and factor of calibration range 0
    QString params;      // calibration parameters A B C

    double reference = 94.0; // dB
    double tolerance = 0.5;  // dB
    bool hasMaxSpread = false;
    double maxSpread = 0.0; // dB, largest L10 - L90 allowed

    NoiseStatistics statistics;
    QVector<LevelSample> readings; // seconds since the first reading
    bool passed = false;
    QString failureReason; // why it failed, for a FAIL

    // What a calibration lab files with it.
    QString certificateNumber;
    QString operatorName;
    QString referenceSource; // the calibrator: make, serial number, level, frequency

    QDateTime utc;
    QDateTime local;
    QString hostName;
    QString toolVersion;
};
