// How long ktr450ctl scan takes against the simulator on a paced line
// (--line-rate):
//  - every address (1 to f7) at 9600, 4800 and 2400 baud (--all) with three
//    sensors on the bus, one at each rate; the time is split into the wire
//    time of the probes (request, reply and the silence that ends a frame,
//    as if every address answered) and the rest, mostly the margin spent
//    waiting for absent sensors. Aim: under 60 s with the default margin.
//  - a lone sensor at each of the three rates, found by the query to
//    address 0. Aim: under 1 s each.
#include "commands.h"
#include "ctlprocess.h"
#include "modbus.h"
#include "scanner.h"
#include "serialline.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

namespace {

struct Timed {
    bool ok = false;
    double seconds = 0;
    int sensors = 0;
};

Timed timeScan(const QStringList &bus, const QStringList &options)
{
    Timed timed;
    SimProcess sim(
        QStringList{QStringLiteral("--seed"), QStringLiteral("1"), QStringLiteral("--line-rate")} +
        bus);
    if (!sim.waitForPath())
        return timed;
    QElapsedTimer clock;
    clock.start();
    const CtlRun run = runCtl(
        QStringList{QStringLiteral("--port"), sim.path(), QStringLiteral("scan")} + options,
        [] { QCoreApplication::processEvents(); }, 600000);
    timed.seconds = clock.nsecsElapsed() / 1e9;
    timed.ok = run.status == 0;
    timed.sensors = run.lines().size();
    return timed;
}

// The wire time of one probe at `baud` in seconds.
double probeWireSeconds(int32_t baud)
{
    const QByteArray request = serialNumberQuery(1);
    const int reply = modbus::expectedReplyLength(request);
    return (frameGapUs(baud) + (request.size() + reply) * characterUs(baud)) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QVector<int32_t> bauds{9600, 4800, 2400};
    const int addresses = modbus::kMaxSlaveAddress;

    double wire = 0;
    for (const int32_t baud : bauds)
        wire += addresses * probeWireSeconds(baud);
    const double margin = bauds.size() * addresses * kDefaultScanMarginMs / 1000.0;
    const Timed full =
        timeScan({QStringLiteral("--sensor"), QStringLiteral("1,2309-0451,modbus,9600"),
                  QStringLiteral("--sensor"), QStringLiteral("5,2309-0452,modbus,4800"),
                  QStringLiteral("--sensor"), QStringLiteral("1f,2309-0453,modbus,2400")},
                 {QStringLiteral("--all")});
    out << "full scan, " << addresses << " addresses at 9600, 4800 and 2400 baud, margin "
        << kDefaultScanMarginMs << " ms:\n"
        << QStringLiteral("  total %1 s (%2 sensors found%3; aim: under 60 s)\n")
               .arg(full.seconds, 0, 'f', 1)
               .arg(full.sensors)
               .arg(full.ok ? QString() : QStringLiteral(", FAILED"))
        << QStringLiteral("  wire time of the probes %1 s, margin for absent sensors %2 s, "
                          "the rest (reads of the sensors found, scheduling) %3 s\n")
               .arg(wire, 0, 'f', 1)
               .arg(margin, 0, 'f', 1)
               .arg(full.seconds - wire - margin, 0, 'f', 1);

    for (const int32_t baud : bauds) {
        const Timed lone = timeScan(
            {QStringLiteral("--sensor"), QStringLiteral("7,2309-0451,modbus,%1").arg(baud)}, {});
        out << QStringLiteral("lone sensor at %1 baud: %2 s%3 (aim: under 1 s)\n")
                   .arg(baud)
                   .arg(lone.seconds, 0, 'f', 2)
                   .arg(lone.ok && lone.sensors == 1 ? QString() : QStringLiteral(", FAILED"));
    }
    out.flush();
    return full.ok ? 0 : 1;
}
