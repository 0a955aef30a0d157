// Noise readings per second of the verify engine against the sensor
// simulator on a paced line (--line-rate --baud), as a share of what the
// wire allows at 9600 and 2400 baud, and the time to write the certificate
// (PDF) and the chart alone (SVG, PNG).
//
// The simulator paces only what it sends; a request written to the
// pseudo-terminal arrives at once. --reply-delay stands in for the request's
// own time on the wire and the silence after it (plus one character, since a
// paced reply is complete once its last byte starts), as in ktr450ctl-bench.
#include "certificate.h"
#include "certificatechart.h"
#include "certificates.h"
#include "modbus.h"
#include "sensor.h"
#include "serialline.h"
#include "serialtransport.h"
#include "simprocess.h"
#include "verification.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <cmath>

namespace {

int requestCharacters()
{
    return modbus::readRequest(1, modbus::kReadInput, reg::kNoise, 1).size();
}

int replyCharacters()
{
    return modbus::readReply(1, modbus::kReadInput, {0}).size();
}

// Request, reply and the silence after each, in microseconds of the line.
qint64 wireUsPerReading(qint32 baud)
{
    return (requestCharacters() + replyCharacters()) * characterUs(baud) + 2 * frameGapUs(baud);
}

double millisecondsOf(const std::function<bool()> &job, int runs)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < runs; ++i) {
        if (!job())
            return -1.0;
    }
    return clock.nsecsElapsed() / 1e6 / runs;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    int seconds = 5;
    QString keep;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = qMax(1, args[i + 1].toInt());
        if (args[i] == QLatin1String("--keep"))
            keep = args[i + 1];
    }

    QTextStream out(stdout);
    out << "verify against ktr450-sim --line-rate --noise 94.2 --drift 0.3, " << seconds
        << " s a run\nwire limit: " << requestCharacters() << " + " << replyCharacters()
        << " characters and two frame gaps a reading\n\n"
        << QStringLiteral("%1 %2 %3 %4 %5\n")
               .arg(QStringLiteral("baud"), -5)
               .arg(QStringLiteral("request time"), -13)
               .arg(QStringLiteral("limit/s"), 8)
               .arg(QStringLiteral("readings/s"), 10)
               .arg(QStringLiteral("share"), 7);
    out.flush();

    VerifyOutcome lastRun;
    VerifySettings settings;
    settings.reference = 94.0;
    settings.tolerance = 0.5;
    settings.durationMs = seconds * 1000;
    SensorIdentity identity;
    for (int baud : {9600, 2400}) {
        const double limit = 1e6 / wireUsPerReading(baud);
        const int requestMs = int(std::lround(
            ((requestCharacters() + 1) * characterUs(baud) + frameGapUs(baud)) / 1000.0));
        SimProcess sim({QStringLiteral("--line-rate"), QStringLiteral("--baud"),
                        QString::number(baud), QStringLiteral("--noise"), QStringLiteral("94.2"),
                        QStringLiteral("--drift"), QStringLiteral("0.3"), QStringLiteral("--seed"),
                        QStringLiteral("1"), QStringLiteral("--reply-delay"),
                        QString::number(requestMs)});
        SerialTransport line;
        SensorClient client(line);
        QString error;
        if (!sim.waitForPath() || !client.open(sim.path(), baud, error)) {
            out << "cannot reach the simulator: " << error << "\n";
            return 1;
        }
        if (readSensorIdentity(client, identity, error) != 0) {
            out << error << "\n";
            return 1;
        }
        lastRun = runVerify(client, settings);
        const double perSecond =
            lastRun.statistics.durationSeconds > 0
                ? (lastRun.statistics.count - 1) / lastRun.statistics.durationSeconds
                : 0.0;
        out << QStringLiteral("%1 %2 %3 %4 %5%\n")
                   .arg(baud, -5)
                   .arg(QStringLiteral("%1 ms").arg(requestMs), -13)
                   .arg(limit, 8, 'f', 2)
                   .arg(perSecond, 10, 'f', 2)
                   .arg(100.0 * perSecond / limit, 6, 'f', 1);
        out.flush();
    }

    QTemporaryDir scratch;
    const QString dir = keep.isEmpty() ? scratch.path() : keep;
    const CertificateData data = certificateFor(
        identity, settings, lastRun, QDateTime::currentDateTime(), QStringLiteral(KTR450_VERSION));
    QString error;
    const QString pdf = dir + QStringLiteral("/certificate.pdf");
    const QString svg = dir + QStringLiteral("/chart.svg");
    const QString png = dir + QStringLiteral("/chart.png");
    constexpr int kRuns = 5;
    out << "\nwriting " << data.readings.size() << " readings, mean of " << kRuns << " runs:\n";
    out << "  certificate PDF  "
        << millisecondsOf([&] { return writeCertificatePdf(data, pdf, error); }, kRuns) << " ms, "
        << QFileInfo(pdf).size() << " bytes\n";
    out << "  chart SVG        "
        << millisecondsOf([&] { return writeChartSvg(data, svg, error); }, kRuns) << " ms, "
        << QFileInfo(svg).size() << " bytes\n";
    out << "  chart PNG        "
        << millisecondsOf([&] { return writeChartPng(data, png, error); }, kRuns) << " ms, "
        << QFileInfo(png).size() << " bytes\n";
    if (!error.isEmpty())
        out << error << "\n";
    return 0;
}
