// Noise readings per second of `ktr450ctl watch noise --interval 0` against
// the sensor simulator with a paced line, as a share of what the wire allows,
// and of mbpoll reading the same input register from the same simulator.
//
// Wire limit of one reading: request (8 bytes) and reply (7 bytes) at ten bit
// times a byte, plus the 3.5 characters of silence that end each frame:
// 220 bit times.
//
// The simulator's --line-rate paces only what it sends; a request written to
// the pseudo-terminal arrives at once. Each rate is therefore measured twice:
// on the simulator as it is, and with --reply-delay standing in for the
// request's own time on the wire and the silence after it (plus one character,
// since a paced reply is complete once its last byte starts). The second is
// the figure to hold against the wire limit.
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTextStream>
#include <cmath>
#include <csignal>
#include <sys/types.h>

namespace {

constexpr double kBitsPerReading = (8 + 7) * 10 + 2 * 3.5 * 10;

struct Rate {
    bool ok = false;
    int readings = 0;
    double seconds = 0;
    double perSecond() const { return seconds > 0 ? readings / seconds : 0; }
};

// Runs a polling program for `seconds`, interrupts it as Ctrl-C would, and
// counts the lines of its output that hold a reading.
Rate measure(const QString &program, const QStringList &arguments, int seconds,
             bool (*isReading)(const QByteArray &line))
{
    Rate rate;
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return rate;
    QElapsedTimer clock;
    clock.start();
    QByteArray output;
    while (clock.elapsed() < seconds * 1000 && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        output += process.readAllStandardOutput();
    }
    rate.seconds = clock.nsecsElapsed() / 1e9;
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), SIGINT);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(2000);
    }
    output += process.readAllStandardOutput();
    for (const QByteArray &line : output.split('\n')) {
        if (isReading(line))
            ++rate.readings;
    }
    rate.ok = rate.readings > 0;
    return rate;
}

bool isCtlReading(const QByteArray &line)
{
    return line.contains(',');
}

bool isMbpollReading(const QByteArray &line)
{
    return line.startsWith("[1]:");
}

QString column(const Rate &rate, double limit)
{
    if (!rate.ok)
        return QStringLiteral("%1").arg(QStringLiteral("n/a"), -18);
    return QStringLiteral("%1 %2%")
        .arg(rate.perSecond(), 7, 'f', 2)
        .arg(100.0 * rate.perSecond() / limit, 7, 'f', 1)
        .leftJustified(18);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int seconds = 8;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--seconds"));
    if (at > 0 && at + 1 < args.size())
        seconds = qMax(1, args.at(at + 1).toInt());

    const QString ctl = QStringLiteral(KTR450CTL_PATH);
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));

    QTextStream out(stdout);
    out << "Noise readings per second against ktr450-sim --line-rate, " << seconds
        << " s a run, slave address 1 for both programs\n"
        << "wire limit: (8 + 7 bytes) x 10 bits + 2 x 3.5 characters = " << kBitsPerReading
        << " bit times a reading\n"
        << "mbpoll: " << (mbpoll.isEmpty() ? QStringLiteral("not found") : mbpoll)
        << " (its shortest poll period, -l 10, adds 10 ms after each reading)\n\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
               .arg(QStringLiteral("baud"), -5)
               .arg(QStringLiteral("simulated line"), -28)
               .arg(QStringLiteral("limit/s"), 8)
               .arg(QStringLiteral("ktr450ctl/s  share"), -18)
               .arg(QStringLiteral("mbpoll/s     share"), -18)
               .arg(QStringLiteral("ctl/mbpoll"));
    out.flush();

    for (int baud : {9600, 2400}) {
        const double limit = baud / kBitsPerReading;
        const double characterMs = 10.0 * 1000.0 / baud;
        const int requestDelayMs = int(std::lround((8 + 3.5 + 1) * characterMs));
        for (int delay : {0, requestDelayMs}) {
            QStringList options = {QStringLiteral("--line-rate"),
                                   QStringLiteral("--baud"),
                                   QString::number(baud),
                                   QStringLiteral("--drift"),
                                   QStringLiteral("0"),
                                   QStringLiteral("--seed"),
                                   QStringLiteral("1")};
            if (delay > 0)
                options << QStringLiteral("--reply-delay") << QString::number(delay);
            SimProcess simulator(options);
            if (!simulator.waitForPath()) {
                out << "the simulator did not start\n";
                return 1;
            }
            const Rate ctlRate =
                measure(ctl,
                        {QStringLiteral("--port"), simulator.path(), QStringLiteral("--baud"),
                         QString::number(baud), QStringLiteral("--address"), QStringLiteral("1"),
                         QStringLiteral("watch"), QStringLiteral("noise"),
                         QStringLiteral("--interval"), QStringLiteral("0")},
                        seconds, isCtlReading);
            Rate mbpollRate;
            if (!mbpoll.isEmpty())
                mbpollRate =
                    measure(mbpoll,
                            {QStringLiteral("-m"), QStringLiteral("rtu"), QStringLiteral("-b"),
                             QString::number(baud), QStringLiteral("-P"), QStringLiteral("none"),
                             QStringLiteral("-a"), QStringLiteral("1"), QStringLiteral("-t"),
                             QStringLiteral("3"), QStringLiteral("-r"), QStringLiteral("1"),
                             QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-l"),
                             QStringLiteral("10"), simulator.path()},
                            seconds, isMbpollReading);
            const QString line = delay == 0
                                     ? QStringLiteral("replies paced")
                                     : QStringLiteral("plus request time (%1 ms)").arg(delay);
            const QString versus =
                ctlRate.ok && mbpollRate.ok
                    ? QString::number(ctlRate.perSecond() / mbpollRate.perSecond(), 'f', 2)
                    : QStringLiteral("n/a");
            out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                       .arg(baud, -5)
                       .arg(line, -28)
                       .arg(limit, 8, 'f', 2)
                       .arg(column(ctlRate, limit))
                       .arg(column(mbpollRate, limit))
                       .arg(versus);
            out.flush();
        }
    }
    return 0;
}
