// Prints how fast a commissioning station gets through sensors with 1, 2, 4
// and 8 fixtures: simulators pacing their replies at 9600 baud, the full
// profile without verification, one sensor per fixture (--once, so the wait
// for removal is left out). Each sensor's time is set against the wire time
// of its transactions, taken from the simulator's log: every byte at ten bit
// times plus the silence before each frame.
#include "ctlprocess.h"
#include "resultsstore.h"
#include "serialline.h"
#include "simprocess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kBaud = 9600;

const char *const kProfile = R"({
    "address": "1f",
    "calibration": [ { "range": 0, "offset": -3, "factor": 128 },
                     { "range": 1, "offset": 0, "factor": 100 },
                     { "range": 2, "offset": 7, "factor": 90 } ],
    "parameters": { "A": 1.25, "B": 0, "C": -0.5 },
    "protocol": "modbus"
})";

// Wire time of the frames in a simulator's log, leaving out the first
// request and reply: the probe that found the sensor, before its run began.
// `full`: every byte at ten bit times and the silence before each frame, as
// on a real line. Otherwise only what the simulator's pseudo-terminal
// enforces: reply bytes at line rate, and the silence the tool keeps before
// each request.
double wireMs(const QString &log, bool full)
{
    qint64 bytes = 0;
    int frames = 0;
    for (const QString &line : log.split(QLatin1Char('\n'))) {
        const bool reply = line.startsWith(QLatin1String("TX "));
        if (!reply && !line.startsWith(QLatin1String("RX ")))
            continue;
        if (++frames <= 2 || !(full || reply))
            continue;
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (int i = 2; i < words.size() && !words[i].startsWith(QLatin1Char('(')); ++i)
            ++bytes;
    }
    frames = qMax(0, frames - 2);
    const int silences = full ? frames : frames / 2;
    return (bytes * characterUs(kBaud) + silences * frameGapUs(kBaud)) / 1000.0;
}

struct Round {
    double perSensorMs = 0; // mean over the fixtures
    double wireMs = 0;      // on a real line
    double pacedMs = 0;     // as the simulator paces it
    int passed = 0;
};

bool runRound(int fixtures, Round &round)
{
    QTemporaryDir dir;
    QFile profile(dir.filePath(QStringLiteral("profile.json")));
    if (!profile.open(QIODevice::WriteOnly) || profile.write(kProfile) < 0)
        return false;
    profile.close();
    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList arguments{QStringLiteral("commission"),
                          QStringLiteral("--once"),
                          QStringLiteral("--profile"),
                          profile.fileName(),
                          QStringLiteral("--db"),
                          QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("r.sqlite"))};
    for (int i = 0; i < fixtures; ++i) {
        sims.push_back(std::make_unique<SimProcess>(
            QStringList{QStringLiteral("--line-rate"), QStringLiteral("--baud"),
                        QString::number(kBaud), QStringLiteral("--serial"),
                        QStringLiteral("7000-%1").arg(i, 4, 10, QLatin1Char('0'))}));
        if (!sims.back()->waitForPath())
            return false;
        arguments << QStringLiteral("--port") << sims.back()->path();
    }
    if (runCtl(
            arguments, [] {}, 120000, dir.path())
            .status != 0)
        return false;

    StoreOptions options;
    options.spoolPath = dir.filePath(QStringLiteral("spool.sqlite"));
    ResultsStore store(
        parseDatabaseUrl(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("r.sqlite"))).url,
        options);
    const HistoryOutcome history = store.history({});
    for (const RunRecord &record : history.records) {
        round.perSensorMs += record.durationMs;
        round.passed += record.result == RunVerdict::Pass ? 1 : 0;
    }
    for (const auto &sim : sims) {
        round.wireMs += wireMs(sim->log(), true);
        round.pacedMs += wireMs(sim->log(), false);
    }
    round.perSensorMs /= qMax(1, history.records.size());
    round.wireMs /= fixtures;
    round.pacedMs /= fixtures;
    return history.records.size() == fixtures;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::printf("commissioning at %d baud, full profile without verification\n", kBaud);
    std::printf("%8s %12s %10s %11s %7s %14s %16s\n", "fixtures", "sensor (ms)", "wire (ms)",
                "paced (ms)", "ratio", "sensors/min", "vs N x 1 fixture");
    double single = 0;
    for (const int fixtures : {1, 2, 4, 8}) {
        Round round;
        if (!runRound(fixtures, round)) {
            std::printf("%8d   the station did not commission every sensor\n", fixtures);
            continue;
        }
        const double perMinute = fixtures * 60000.0 / round.perSensorMs;
        if (fixtures == 1)
            single = perMinute;
        std::printf("%8d %12.0f %10.0f %11.0f %7.2f %14.1f %15.2fx\n", fixtures, round.perSensorMs,
                    round.wireMs, round.pacedMs, round.perSensorMs / round.pacedMs, perMinute,
                    single > 0 ? perMinute / (fixtures * single) : 0.0);
    }
    std::printf("wire: a real line, every byte at ten bit times and the silence before each\n"
                "frame; paced: what the simulator enforces (its replies at line rate, the\n"
                "silence before each request). ratio: sensor / paced.\n"
                "aim: ratio <= 1.2, and at least 0.90x of N times one fixture's rate\n");
    return 0;
}
