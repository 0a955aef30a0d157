#include "verification.h"

#include "readingrecord.h"
#include "statisticsoutput.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

// Levels come in tenths of a dB; a limit met exactly must not fail on the
// rounding of a double.
constexpr double kSlackDb = 1e-9;

bool moreToRead(const VerifySettings &settings, int taken, qint64 elapsedMs)
{
    if (settings.count > 0)
        return taken < settings.count;
    return taken == 0 || elapsedMs < settings.durationMs;
}

QString signedFixed(double value)
{
    const QString text = fixedText(value);
    return text.startsWith(QLatin1Char('-')) ? text : QLatin1Char('+') + text;
}

} // namespace

Verdict judge(const NoiseStatistics &statistics, const VerifySettings &settings)
{
    Verdict verdict;
    verdict.levelWithin = statistics.count > 0 && std::fabs(statistics.leq - settings.reference) <=
                                                      settings.tolerance + kSlackDb;
    if (settings.hasMaxSpread)
        verdict.spreadWithin = statistics.l10 - statistics.l90 <= settings.maxSpread + kSlackDb;
    return verdict;
}

VerifyOutcome runVerify(SensorClient &client, const VerifySettings &settings,
                        const std::function<void(const TimedReading &)> &onReading)
{
    VerifyOutcome outcome;
    ReadingRecord record;
    if (!settings.recordPath.isEmpty() && !record.open(settings.recordPath, outcome.error)) {
        outcome.end = VerifyOutcome::RecordFailed;
        return outcome;
    }
    const qint64 startUs = client.exchange().nowUs();
    const auto elapsedUs = [&] { return client.exchange().nowUs() - startUs; };
    while (moreToRead(settings, outcome.readings.size(), elapsedUs() / 1000)) {
        const Result<uint16_t> noise = client.readNoise();
        if (!noise.ok()) {
            outcome.end = VerifyOutcome::LineFailed;
            outcome.line = noise.outcome;
            outcome.error = noise.outcome.message();
            break;
        }
        TimedReading timed;
        timed.time = QDateTime::currentDateTimeUtc();
        timed.sample.seconds = elapsedUs() / 1e6;
        timed.sample.level = noise.value / 10.0;
        outcome.readings << timed;
        if (record.isOpen() && !record.append(timed.time, timed.sample.level, outcome.error)) {
            outcome.end = VerifyOutcome::RecordFailed;
            break;
        }
        if (onReading)
            onReading(timed);
    }

    QVector<LevelSample> samples;
    samples.reserve(outcome.readings.size());
    for (const TimedReading &r : qAsConst(outcome.readings))
        samples << LevelSample{r.sample.seconds - outcome.readings.first().sample.seconds,
                               r.sample.level};
    outcome.statistics = noiseStatistics(samples);
    if (!outcome.judged()) {
        outcome.error = QStringLiteral("%1; stopped after %2 readings, no verdict")
                            .arg(outcome.error)
                            .arg(outcome.readings.size());
        return outcome;
    }
    outcome.verdict = judge(outcome.statistics, settings);
    return outcome;
}

QString failureReason(const VerifyOutcome &outcome, const VerifySettings &settings)
{
    if (!outcome.judged() || outcome.passed())
        return QString();
    const NoiseStatistics &s = outcome.statistics;
    if (!outcome.verdict.levelWithin)
        return QStringLiteral("Leq %1 dB is off the reference %2 dB by more than %3 dB")
            .arg(fixedText(s.leq), fixedText(settings.reference), fixedText(settings.tolerance));
    return QStringLiteral("L10 - L90 is %1 dB, more than %2 dB")
        .arg(fixedText(s.l10 - s.l90), fixedText(settings.maxSpread));
}

QString verdictText(const VerifyOutcome &outcome, const VerifySettings &settings)
{
    const NoiseStatistics &s = outcome.statistics;
    QString text = statisticsText(s);
    text += QStringLiteral("\nreference %1 dB +/- %2 dB, Leq - reference %3 dB")
                .arg(fixedText(settings.reference), fixedText(settings.tolerance),
                     signedFixed(s.leq - settings.reference));
    if (settings.hasMaxSpread)
        text += QStringLiteral("\nL10 - L90 %1 dB, at most %2 dB")
                    .arg(fixedText(s.l10 - s.l90), fixedText(settings.maxSpread));
    if (outcome.judged())
        text += outcome.verdict.passed() ? QStringLiteral("\nPASS") : QStringLiteral("\nFAIL");
    return text;
}

QString verdictJson(const VerifyOutcome &outcome, const VerifySettings &settings)
{
    QJsonObject json = statisticsJson(outcome.statistics);
    json.insert(QStringLiteral("reference"), settings.reference);
    json.insert(QStringLiteral("tolerance"), settings.tolerance);
    if (settings.hasMaxSpread)
        json.insert(QStringLiteral("maxSpread"), settings.maxSpread);
    if (outcome.judged())
        json.insert(QStringLiteral("result"),
                    outcome.verdict.passed() ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    return QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact));
}
