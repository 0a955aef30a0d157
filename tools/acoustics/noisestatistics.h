// The statistics of a run of noise readings, the same for every command that
// reports them (verify, watch noise): pure functions over (time, level) pairs.
#pragma once

#include <QVector>

struct LevelSample {
    double seconds = 0.0; // since the first reading
    double level = 0.0;   // dB
};

struct NoiseStatistics {
    int count = 0;
    double durationSeconds = 0.0; // first to last reading
    double minimum = 0.0;
    double maximum = 0.0;
    double mean = 0.0;              // arithmetic mean of the levels
    double standardDeviation = 0.0; // sample standard deviation (n - 1), 0 for one reading
    double leq = 0.0;               // energy mean: 10 log10(mean(10^(L/10)))
    double l10 = 0.0;               // exceeded 10 % of the time: the 90th percentile
    double l50 = 0.0;
    double l90 = 0.0;            // exceeded 90 % of the time: the 10th percentile
    double driftPerMinute = 0.0; // least-squares slope of level against time, dB/min
};

// The rule for percentiles, for help texts and reports.
extern const char *const kPercentileRule;

// All zero for no readings.
NoiseStatistics noiseStatistics(const QVector<LevelSample> &samples);

double energyMean(const QVector<double> &levels);
// The p-th percentile (0 to 100) of `levels`: sorted ascending, rank
// p/100 * (n - 1), linear interpolation between the two neighbouring ranks.
double percentile(QVector<double> levels, double p);
// dB per minute; 0 for fewer than two readings or readings all at one time.
double driftPerMinute(const QVector<LevelSample> &samples);
