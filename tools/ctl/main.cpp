// ktr450ctl: the sensor's commands from a terminal, for scripts and
// production lines.
#include "arguments.h"
#include "commissioncommand.h"
#include "ctloutput.h"
#include "reportcommand.h"
#include "runner.h"
#include "scan.h"
#include "serialexchange.h"
#include "verifycommand.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSerialPortInfo>
#include <QTextStream>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

std::atomic<bool> stopRequested{false};

void requestStop(int)
{
    stopRequested.store(true);
}

void writeLine(FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void writeError(const QString &message)
{
    writeLine(stderr, QStringLiteral("ktr450ctl: %1").arg(message));
}

void writeOutput(const QString &line)
{
    writeLine(stdout, line);
}

// Qt Charts draws through the graphics view, which needs a QApplication; only
// the commands that write a chart get one, on the offscreen platform, since a
// production line or a CI machine has no display.
std::unique_ptr<QCoreApplication> makeApplication(int &argc, char *argv[])
{
    if (!argumentsAskForRendering(argc, argv))
        return std::make_unique<QCoreApplication>(argc, argv);
    useOffscreenPlatformForRendering();
    return std::make_unique<QApplication>(argc, argv);
}

// The commissioning station until Ctrl-C, SIGTERM or, with --once, one
// sensor per port.
int runStation(const CommissionRequest &request)
{
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    StationStreams streams;
    streams.terminal = isatty(STDOUT_FILENO) != 0;
    streams.write = [](const QByteArray &bytes) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    };
    streams.error = writeError;
    return runCommission(request, stopRequested, streams);
}

} // namespace

int main(int argc, char *argv[])
{
    const std::unique_ptr<QCoreApplication> app = makeApplication(argc, argv);
    const ParseOutcome parsed = parseInvocation(QCoreApplication::arguments().mid(1));
    if (!parsed.ok) {
        writeError(parsed.error);
        return kExitUsage;
    }
    const Invocation &inv = parsed.invocation;
    if (inv.help) {
        std::fputs(helpText().toUtf8().constData(), stdout);
        return kExitSuccess;
    }
    if (inv.command.kind == CommandKind::History) {
        QTextStream out(stdout);
        QTextStream err(stderr);
        return runHistory(inv.history, out, err);
    }
    if (inv.command.kind == CommandKind::Report)
        return runReport(inv.report, inv.reportPdf, writeOutput, writeError);
    if (inv.command.kind == CommandKind::Commission)
        return runStation(inv.commission);
    if (inv.command.kind == CommandKind::Ports) {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        const QString listing = portsListing(ports, inv.json);
        if (!listing.isEmpty())
            writeOutput(listing);
        if (ports.isEmpty())
            writeError(QStringLiteral("no serial ports found"));
        return kExitSuccess;
    }

    SerialExchange exchange;
    QString reason;
    if (!exchange.open(inv.link.port, inv.link.baud, reason)) {
        writeError(QStringLiteral("cannot open port %1: %2").arg(inv.link.port, reason));
        return kExitPort;
    }
    exchange.setTimeout(inv.link.timeoutMs);
    exchange.setRetries(inv.link.retries);
    exchange.setLocalEcho(inv.link.localEcho);
    if (inv.verbose)
        exchange.setTrace([](const QString &line) { writeLine(stderr, line); });

    if (inv.command.kind == CommandKind::Watch) {
        std::signal(SIGINT, requestStop);
        std::signal(SIGTERM, requestStop);
        return runWatch(exchange, inv.command, inv.link.address, inv.json, stopRequested,
                        writeOutput, writeError);
    }
    if (inv.command.kind == CommandKind::Scan)
        return runScanCommand(exchange, inv.link.port, inv.command.scan, inv.json, writeOutput,
                              writeError);
    if (inv.command.kind == CommandKind::Verify)
        return runVerifyCommand(exchange, inv.command.verify, inv.link.address, inv.json,
                                QStringLiteral(KTR450_VERSION), writeOutput, writeError);

    const RunResult run = runCommand(exchange, inv.command, inv.link.address, inv.json);
    if (!run.output.isEmpty())
        writeOutput(run.output);
    if (!run.error.isEmpty())
        writeError(run.error);
    return run.status;
}
