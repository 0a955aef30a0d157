#include "statisticsoutput.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

// Hundredths are far below what a sound level meter resolves; rounding keeps
// 94.19999999 out of the JSON.
double rounded(double value)
{
    return std::round(value * 1000.0) / 1000.0;
}

} // namespace

QString fixedText(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    const bool zero = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == QLatin1Char('-') || c == QLatin1Char('0') || c == QLatin1Char('.');
    });
    if (zero && text.startsWith(QLatin1Char('-')))
        text.remove(0, 1);
    return text;
}

QString statisticsText(const NoiseStatistics &stats)
{
    const auto row = [](const char *name, const QString &value) {
        return QStringLiteral("%1 %2").arg(QLatin1String(name), -9).arg(value);
    };
    QStringList lines;
    lines << row("count", QString::number(stats.count))
          << row("duration", fixedText(stats.durationSeconds) + QStringLiteral(" s"))
          << row("Lmin", fixedText(stats.minimum) + QStringLiteral(" dB"))
          << row("Lmax", fixedText(stats.maximum) + QStringLiteral(" dB"))
          << row("mean", fixedText(stats.mean) + QStringLiteral(" dB"))
          << row("stddev", fixedText(stats.standardDeviation) + QStringLiteral(" dB"))
          << row("Leq", fixedText(stats.leq) + QStringLiteral(" dB"))
          << row("L10", fixedText(stats.l10) + QStringLiteral(" dB"))
          << row("L50", fixedText(stats.l50) + QStringLiteral(" dB"))
          << row("L90", fixedText(stats.l90) + QStringLiteral(" dB"))
          << row("drift", fixedText(stats.driftPerMinute) + QStringLiteral(" dB/min"));
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
