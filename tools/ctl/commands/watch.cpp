#include "ctlcommands.h"
#include "formats.h"
#include "noisestatistics.h"
#include "sensorline.h"
#include "statisticsoutput.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <chrono>
#include <limits>
#include <thread>

namespace {

// Sleeps until `untilMs` on `clock`, waking early when `stop` is set.
void sleepUntil(const QElapsedTimer &clock, qint64 untilMs, const std::atomic<bool> &stop)
{
    constexpr qint64 kSliceMs = 50;
    for (;;) {
        const qint64 left = untilMs - clock.elapsed();
        if (left <= 0 || stop.load())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(qMin(left, kSliceMs)));
    }
}

// The statistics of a watch, when it ends: a heading and one line a figure
// for standard error, or one last JSON object for standard output, so that
// the reading lines stay a clean CSV or JSON stream.
void printStatistics(Output &out, const QVector<LevelSample> &samples)
{
    const NoiseStatistics stats = noiseStatistics(samples);
    if (out.json()) {
        out.line(Output::compact({{QStringLiteral("statistics"), statisticsJson(stats)}}));
        return;
    }
    out.error(QStringLiteral("statistics of %1 readings:\n%2")
                  .arg(stats.count)
                  .arg(statisticsText(stats)));
}

// Readings of the noise value until the count is done or a stop is asked
// for; each line as soon as it is known, each failure on standard error.
int runWatch(Session &session, const WatchOptions &options)
{
    return SensorLine::run(session, [&options, &session](SensorLine &line) {
        if (session.stopOnSignals)
            session.stopOnSignals();
        Output &out = session.out;
        QElapsedTimer clock;
        clock.start();
        qint64 nextStartMs = 0;
        int status = kExitSuccess;
        QVector<LevelSample> samples;
        for (int taken = 0; (options.count == 0 || taken < options.count) && !session.stop.load();
             ++taken) {
            sleepUntil(clock, nextStartMs, session.stop);
            if (session.stop.load())
                break;
            // Readings keep their pace; one that ran late does not cause a burst.
            nextStartMs = qMax(nextStartMs + options.intervalMs, clock.elapsed());

            const Result<uint16_t> noise = line.client().readNoise();
            const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
            if (!noise.ok()) {
                out.error(QStringLiteral("%1: %2").arg(stamp, noise.outcome.message()));
                status = exitStatusFor(noise.outcome);
                if (noise.outcome.kind == Outcome::PortFailure)
                    break;
                continue;
            }
            const double level = noise.value / 10.0;
            out.result(stamp + QLatin1Char(',') + tenthsText(noise.value),
                       {{QStringLiteral("noise"), level}, {QStringLiteral("time"), stamp}});
            samples << LevelSample{clock.nsecsElapsed() / 1e9, level};
        }
        printStatistics(out, samples);
        return status;
    });
}

} // namespace

void addWatchCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(
        root, inv, "watch",
        "watch noise [--interval MS] [--count N]\n"
        "  one timestamped noise reading a line: UTC time and value as CSV, or a\n"
        "  JSON object a line with --json. A reading starts every MS ms (default\n"
        "  1000; 0: one after the other, as fast as the line allows), N times or\n"
        "  until interrupted (Ctrl-C). A failed reading is reported on standard\n"
        "  error and the watch goes on. When it ends, the statistics of its\n"
        "  readings (as for verify) follow on standard error, or with --json as a\n"
        "  last line {\"statistics\":{...}}.\n"
        "  ktr450ctl --port ttyUSB0 watch noise --interval 500 --count 2\n"
        "                                                     2024-05-01T10:00:00.000Z,45.6\n"
        "                                                     2024-05-01T10:00:00.500Z,45.7\n"
        "  ktr450ctl --port ttyUSB0 --json watch noise --count 1\n"
        "                                                     "
        "{\"noise\":45.6,\"time\":\"2024-05-01T10:00:00.000Z\"}");
    const auto options = std::make_shared<WatchOptions>();
    cli::addValue(*sub, "--interval", "MS", "time from one reading's start to the next",
                  options->intervalMs, [](const QString &text) {
                      return checkDecimalInRange(
                          text, 0, 86400000, QStringLiteral("interval"),
                          QStringLiteral("give milliseconds from 0 to 86400000"));
                  });
    cli::addValue(
        *sub, "--count", "N", "readings to take", options->count, [](const QString &text) {
            return checkDecimalInRange(text, 1, std::numeric_limits<int>::max(),
                                       QStringLiteral("count"), QStringLiteral("give at least 1"));
        });
    // The one thing a watch watches.
    cli::addArgument(*sub, inv, "WHAT", "noise", [&inv](const QString &what) {
        return what == QLatin1String("noise") ? QString() : cli::wrongCount(inv.usage);
    })->required();
    cli::onChosen(*sub, inv, options, runWatch);
}
