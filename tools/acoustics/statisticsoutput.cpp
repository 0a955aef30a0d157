#include "statisticsoutput.h"

#include <QStringList>
#include <cmath>

namespace {

QString fixed(double value)
{
    return QString::number(value, 'f', 2);
}

// Hundredths are far below what a sound level meter resolves; rounding keeps
// 94.19999999 out of the JSON.
double rounded(double value)
{
    return std::round(value * 1000.0) / 1000.0;
}

} // namespace

QString statisticsText(const NoiseStatistics &stats)
{
    const auto row = [](const char *name, const QString &value) {
        return QStringLiteral("%1 %2").arg(QLatin1String(name), -9).arg(value);
    };
    QStringList lines;
    lines << row("count", QString::number(stats.count))
          << row("duration", fixed(stats.durationSeconds) + QStringLiteral(" s"))
          << row("Lmin", fixed(stats.minimum) + QStringLiteral(" dB"))
          << row("Lmax", fixed(stats.maximum) + QStringLiteral(" dB"))
          << row("mean", fixed(stats.mean) + QStringLiteral(" dB"))
          << row("stddev", fixed(stats.standardDeviation) + QStringLiteral(" dB"))
          << row("Leq", fixed(stats.leq) + QStringLiteral(" dB"))
          << row("L10", fixed(stats.l10) + QStringLiteral(" dB"))
          << row("L50", fixed(stats.l50) + QStringLiteral(" dB"))
          << row("L90", fixed(stats.l90) + QStringLiteral(" dB"))
          << row("drift", fixed(stats.driftPerMinute) + QStringLiteral(" dB/min"));
    return lines.join(QLatin1Char('\n'));
}

QJsonObject statisticsJson(const NoiseStatistics &stats)
{
    QJsonObject json;
    json.insert(QStringLiteral("count"), stats.count);
    json.insert(QStringLiteral("duration"), rounded(stats.durationSeconds));
    json.insert(QStringLiteral("lmin"), rounded(stats.minimum));
    json.insert(QStringLiteral("lmax"), rounded(stats.maximum));
    json.insert(QStringLiteral("mean"), rounded(stats.mean));
    json.insert(QStringLiteral("stddev"), rounded(stats.standardDeviation));
    json.insert(QStringLiteral("leq"), rounded(stats.leq));
    json.insert(QStringLiteral("l10"), rounded(stats.l10));
    json.insert(QStringLiteral("l50"), rounded(stats.l50));
    json.insert(QStringLiteral("l90"), rounded(stats.l90));
    json.insert(QStringLiteral("driftPerMinute"), rounded(stats.driftPerMinute));
    return json;
}
