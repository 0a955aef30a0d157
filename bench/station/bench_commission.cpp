// Prints how fast a commissioning station gets through sensors with 1, 2, 4
// and 8 fixtures: simulators pacing their replies at 9600 baud, the full
// profile without verification, one sensor per fixture (--once, so the wait
// for removal is left out). Each sensor's time is set against the wire time
// of its transactions, taken from the simulator's log: every byte at ten bit
// times plus the silence before each frame. ktr450ctl commission and the
// station window (ktr450-station, on the offscreen platform) take turns on
// the same simulators. Then the processor time each of them takes while 8
// fixtures verify for 10 s.
#include "serialline.h"
#include "stationfixtures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBaud = 9600;

// The commissioning programs compared.
struct Program {
    const char *name;
    QString path;
    QStringList head; // the words before the options
};

const Program kCommand{
    "ktr450ctl commission", QStringLiteral(KTR450CTL_PATH), {QStringLiteral("commission")}};
const Program kWindow{"ktr450-station", QStringLiteral(KTR450_STATION_PATH), {}};

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

// How one program's run went.
struct Round {
    double perSensorMs = 0; // mean over the fixtures
    double wireMs = 0;      // on a real line
    double pacedMs = 0;     // as the simulator paces it
    int passed = 0;
    double cpuShare = 0;  // the program's processor time over its run's time, of one core
    double mainShare = 0; // the same of its main thread alone: the window's own work
};

// User and system time of a running process (or of one of its threads) so
// far, in milliseconds.
double cpuMs(const QString &statPath)
{
    QFile stat(statPath);
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command's name, which is in parentheses.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

Sims startFixtures(int fixtures)
{
    Sims sims;
    for (int i = 0; i < fixtures; ++i) {
        sims.push_back(std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--line-rate"), QStringLiteral("--baud"), QString::number(kBaud),
            QStringLiteral("--serial"), QStringLiteral("7000-%1").arg(i, 4, 10, QLatin1Char('0')),
            QStringLiteral("--noise"), QStringLiteral("94"), QStringLiteral("--drift"),
            QStringLiteral("0.2")}));
        if (!sims.back()->waitForPath())
            return {};
    }
    return sims;
}

// Runs `program` with --once on `sims`; false unless every sensor passed.
bool runRound(const Program &program, const Sims &sims, const QString &profile, Round &round)
{
    QTemporaryDir dir;
    const QString db = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("r.sqlite"));
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program.path,
                  program.head +
                      QStringList{QStringLiteral("--once"), QStringLiteral("--profile"), profile,
                                  QStringLiteral("--db"), db} +
                      portArguments(sims));
    if (!process.waitForStarted())
        return false;
    QElapsedTimer clock;
    clock.start();
    double cpu = 0;
    double mainCpu = 0;
    const qint64 pid = process.processId();
    while (!process.waitForFinished(100)) {
        cpu = qMax(cpu, cpuMs(QStringLiteral("/proc/%1/stat").arg(pid)));
        mainCpu = qMax(mainCpu, cpuMs(QStringLiteral("/proc/%1/task/%1/stat").arg(pid)));
    }
    const double elapsed = double(qMax<qint64>(1, clock.elapsed()));
    round.cpuShare = cpu / elapsed;
    round.mainShare = mainCpu / elapsed;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;

    const QVector<RunRecord> all = records(db);
    for (const RunRecord &record : all) {
        round.perSensorMs += record.durationMs;
        round.passed += record.result == RunVerdict::Pass ? 1 : 0;
    }
    round.perSensorMs /= qMax(1, all.size());
    return all.size() == int(sims.size());
}

// The wire time of the run just made, from the simulators' logs.
void addWire(const Sims &sims, Round &round)
{
    for (const auto &sim : sims) {
        round.wireMs += wireMs(sim->log(), true);
        round.pacedMs += wireMs(sim->log(), false);
    }
    round.wireMs /= double(sims.size());
    round.pacedMs /= double(sims.size());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    const QString profile = writeTextFile(dir.filePath(QStringLiteral("profile.json")), kProfile);
    std::printf("commissioning at %d baud, full profile without verification\n", kBaud);
    std::printf("%8s %12s %10s %11s %7s %14s %16s %14s %12s\n", "fixtures", "sensor (ms)",
                "wire (ms)", "paced (ms)", "ratio", "sensors/min", "vs N x 1 fixture",
                "window (/min)", "window/ctl");
    double single = 0;
    for (const int fixtures : {1, 2, 4, 8}) {
        const Sims sims = startFixtures(fixtures);
        Round command;
        Round window;
        const bool ran = !sims.empty() && runRound(kCommand, sims, profile, command);
        if (ran)
            addWire(sims, command);
        if (!ran || !runRound(kWindow, sims, profile, window)) {
            std::printf("%8d   a station did not commission every sensor\n", fixtures);
            continue;
        }
        const double perMinute = fixtures * 60000.0 / command.perSensorMs;
        const double windowPerMinute = fixtures * 60000.0 / window.perSensorMs;
        if (fixtures == 1)
            single = perMinute;
        std::printf("%8d %12.0f %10.0f %11.0f %7.2f %14.1f %15.2fx %14.1f %11.2fx\n", fixtures,
                    command.perSensorMs, command.wireMs, command.pacedMs,
                    command.perSensorMs / command.pacedMs, perMinute,
                    single > 0 ? perMinute / (fixtures * single) : 0.0, windowPerMinute,
                    windowPerMinute / perMinute);
    }
    std::printf("wire: a real line, every byte at ten bit times and the silence before each\n"
                "frame; paced: what the simulator enforces (its replies at line rate, the\n"
                "silence before each request). ratio: sensor / paced.\n"
                "aim: ratio <= 1.2, at least 0.90x of N times one fixture's rate, and the\n"
                "window within 5 %% of the command (window/ctl 0.95x to 1.05x)\n\n");

    // Processor time while 8 fixtures verify: the whole process, fixture
    // threads included, so the command's figure is the baseline.
    const QString verifying = writeTextFile(dir.filePath(QStringLiteral("verifying.json")),
                                            QStringLiteral(R"({ "address": "1f",
            "verification": { "reference_db": 94.0, "tolerance_db": 0.5, "duration_s": 10 } })"));
    const Sims sims = startFixtures(8);
    std::printf("processor time of one core, 8 fixtures verifying for 10 s:\n");
    for (const Program *program : {&kCommand, &kWindow}) {
        Round round;
        if (sims.empty() || !runRound(*program, sims, verifying, round))
            std::printf("  %-22s did not commission every sensor\n", program->name);
        else
            std::printf("  %-22s %5.1f %%   main thread %5.1f %%\n", program->name,
                        round.cpuShare * 100.0, round.mainShare * 100.0);
    }
    std::printf("the station window's main thread draws the window and nothing else; the\n"
                "fixtures, the station and the results reader have threads of their own.\n"
                "aim: the window under 10 %% of one core\n");
    return 0;
}
