#include "noisestatistics.h"

#include <algorithm>
#include <cmath>
#include <numeric>

const char *const kPercentileRule =
    "Lx is the level exceeded x % of the time, the (100 - x)th percentile of the "
    "readings: sorted ascending, rank p/100 * (n - 1) counted from 0, interpolated "
    "linearly between the two neighbouring readings.";

double energyMean(const QVector<double> &levels)
{
    if (levels.isEmpty())
        return 0.0;
    // Relative to the loudest reading, so that 10^(L/10) cannot overflow.
    const double top = *std::max_element(levels.cbegin(), levels.cend());
    const double sum =
        std::accumulate(levels.cbegin(), levels.cend(), 0.0, [top](double total, double level) {
            return total + std::pow(10.0, (level - top) / 10.0);
        });
    return top + 10.0 * std::log10(sum / levels.size());
}

double percentile(QVector<double> levels, double p)
{
    if (levels.isEmpty())
        return 0.0;
    std::sort(levels.begin(), levels.end());
    const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * (levels.size() - 1);
    const int below = int(std::floor(rank));
    const int above = std::min(below + 1, int(levels.size()) - 1);
    const double fraction = rank - below;
    return levels[below] + fraction * (levels[above] - levels[below]);
}

double driftPerMinute(const QVector<LevelSample> &samples)
{
    const int n = samples.size();
    if (n < 2)
        return 0.0;
    double meanT = 0.0;
    double meanL = 0.0;
    for (const LevelSample &s : samples) {
        meanT += s.seconds;
        meanL += s.level;
    }
    meanT /= n;
    meanL /= n;
    double covariance = 0.0;
    double spread = 0.0;
    for (const LevelSample &s : samples) {
        covariance += (s.seconds - meanT) * (s.level - meanL);
        spread += (s.seconds - meanT) * (s.seconds - meanT);
    }
    if (spread <= 0.0)
        return 0.0;
    return covariance / spread * 60.0;
}

NoiseStatistics noiseStatistics(const QVector<LevelSample> &samples)
{
    NoiseStatistics stats;
    if (samples.isEmpty())
        return stats;
    QVector<double> levels;
    levels.reserve(samples.size());
    for (const LevelSample &s : samples)
        levels << s.level;

    stats.count = samples.size();
    stats.durationSeconds = samples.last().seconds - samples.first().seconds;
    stats.minimum = *std::min_element(levels.cbegin(), levels.cend());
    stats.maximum = *std::max_element(levels.cbegin(), levels.cend());
    stats.mean = std::accumulate(levels.cbegin(), levels.cend(), 0.0) / stats.count;
    if (stats.count > 1) {
        const double mean = stats.mean;
        const double squares = std::accumulate(
            levels.cbegin(), levels.cend(), 0.0,
            [mean](double total, double level) { return total + (level - mean) * (level - mean); });
        stats.standardDeviation = std::sqrt(squares / (stats.count - 1));
    }
    stats.leq = energyMean(levels);
    stats.l10 = percentile(levels, 90.0);
    stats.l50 = percentile(levels, 50.0);
    stats.l90 = percentile(levels, 10.0);
    stats.driftPerMinute = driftPerMinute(samples);
    return stats;
}
