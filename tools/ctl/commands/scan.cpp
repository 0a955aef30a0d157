#include "ctlcommands.h"
#include "scanner.h"
#include "sensorline.h"

#include <QJsonValue>

namespace {

// One line of scan's output: "9600 1f modbus 2309-0451 17-6-11", with "-" as
// the address of a sensor in its own protocol, or one JSON object.
void printFound(Output &out, const FoundSensor &sensor)
{
    const QString address =
        sensor.ownProtocol() ? QStringLiteral("-") : QString::number(sensor.address, 16);
    const QString protocol =
        sensor.ownProtocol() ? QStringLiteral("own") : QStringLiteral("modbus");
    out.result(
        QStringLiteral("%1 %2 %3 %4 %5")
            .arg(sensor.baud)
            .arg(address, protocol, sensor.serial, sensor.version),
        {{QStringLiteral("baud"), sensor.baud},
         {QStringLiteral("address"), sensor.ownProtocol() ? QJsonValue() : QJsonValue(address)},
         {QStringLiteral("protocol"), protocol},
         {QStringLiteral("serial"), sensor.serial},
         {QStringLiteral("version"), sensor.version}});
}

// One line on a terminal, rewritten in place; cleared before anything else
// is written there.
class ProgressLine
{
  public:
    explicit ProgressLine(Output &out) : out_(out) {}
    void show(const ScanProgress &at)
    {
        if (!out_.errIsTerminal())
            return;
        const QString where = at.address == 0 ? QStringLiteral("address 0")
                                              : QStringLiteral("address %1").arg(at.address, 0, 16);
        const QString left = at.msLeft > 0
                                 ? QStringLiteral(", about %1 s left").arg((at.msLeft + 999) / 1000)
                                 : QString();
        out_.rawError(QStringLiteral("\rscan: %1 baud, %2, %3 found%4\033[K")
                          .arg(at.baud)
                          .arg(where)
                          .arg(at.found)
                          .arg(left)
                          .toUtf8());
    }
    void clear()
    {
        if (out_.errIsTerminal())
            out_.rawError("\r\033[K");
    }

  private:
    Output &out_;
};

// Each sensor on standard output as soon as it is read, warnings on
// standard error, and a progress line there while it is a terminal.
int runScanCommand(Session &session, const ScanSettings &settings)
{
    return SensorLine::run(session, [&session, &settings](SensorLine &line) {
        Output &out = session.out;
        ProgressLine progress(out);
        ScanCallbacks callbacks;
        callbacks.found = [&](const FoundSensor &sensor) {
            progress.clear();
            printFound(out, sensor);
        };
        callbacks.warn = [&](const QString &message) {
            progress.clear();
            out.error(message);
        };
        callbacks.progress = [&](const ScanProgress &at) { progress.show(at); };
        const int status = runScan(line.client(), session.link.port, settings, callbacks);
        progress.clear();
        return status;
    });
}

// Baud rates separated by commas, each given once.
Checked<QVector<qint32>> checkBauds(const QString &text)
{
    Checked<QVector<qint32>> out;
    for (const QString &word : text.split(QLatin1Char(','))) {
        const Checked<qint32> baud = cli::checkBaud(word.trimmed());
        if (!baud.ok()) {
            out.error = QStringLiteral("--bauds: %1").arg(baud.error);
            return out;
        }
        if (out.value.contains(baud.value)) {
            out.error = QStringLiteral("--bauds: %1 is given twice").arg(baud.value);
            return out;
        }
        out.value << baud.value;
    }
    return out;
}

// FIRST-LAST or a single address, hexadecimal, 1 to f7.
Checked<std::pair<uint8_t, uint8_t>> checkAddressRange(const QString &text)
{
    Checked<std::pair<uint8_t, uint8_t>> out;
    const QStringList ends = text.split(QLatin1Char('-'));
    if (ends.size() > 2) {
        out.error = QStringLiteral("--addresses: give FIRST-LAST such as 1-f7, not %1").arg(text);
        return out;
    }
    const Checked<uint8_t> first = checkSlaveAddress(ends.front().trimmed(), false);
    const Checked<uint8_t> last = checkSlaveAddress(ends.back().trimmed(), false);
    out.error = !first.ok() ? first.error : last.error;
    if (out.ok() && first.value > last.value)
        out.error = QStringLiteral("--addresses: %1 comes after %2").arg(ends[0], ends[1]);
    if (!out.ok() && !out.error.startsWith(QLatin1String("--addresses")))
        out.error = QStringLiteral("--addresses: %1").arg(out.error);
    out.value = {first.value, last.value};
    return out;
}

} // namespace

void addScanCommand(CLI::App &root, Invocation &inv)
{
    const auto options = std::make_shared<ScanSettings>();
    ScanSettings &scan = *options;
    CLI::App *sub = cli::addCommand(
        root, inv, "scan",
        "scan [--bauds 9600,4800,2400] [--addresses 1-f7] [--own-protocol] [--all]\n"
        "     [--margin MS]\n"
        "  find every sensor on the line: one line a sensor (baud, address, protocol,\n"
        "  serial number, firmware version), or a JSON object a line with --json.\n"
        "  First one query to address 0 at each baud rate; unless that finds a lone\n"
        "  sensor (or with --all), then each address at each baud rate. --own-protocol\n"
        "  also asks for the identity in the sensor's own protocol (address \"-\").\n"
        "  An absent address costs the wire time of query and reply plus MS ms\n"
        "  (default 20: a sensor's turnaround, the computer's scheduling and a USB\n"
        "  adapter's latency); widen it for slow sensors or adapters. --timeout and\n"
        "  --retries do not apply. Progress on standard error when it is a terminal.\n"
        "  Exit 0 when a sensor is found, 3 when none answered.\n"
        "  ktr450ctl --port ttyUSB0 scan                      9600 1 modbus 2309-0451 17-6-11");
    cli::addValue(*sub, "--bauds", "LIST", "baud rates to try, in this order", scan.bauds,
                  checkBauds);
    cli::addValue(*sub, "--addresses", "FIRST-LAST", "addresses to try, hexadecimal",
                  scan.addresses, checkAddressRange);
    cli::addValue(*sub, "--margin", "MS", "time beyond the wire time for an answer", scan.marginMs,
                  [](const QString &text) {
                      return checkDecimalInRange(
                          text, 0, 60000, QStringLiteral("margin"),
                          QStringLiteral("give milliseconds from 0 to 60000"));
                  });
    sub->add_flag("--own-protocol", scan.ownProtocol,
                  "also look for sensors in their own protocol");
    sub->add_flag("--all", scan.all, "scan every address even after a lone sensor answered");
    cli::onChosen(*sub, inv, options, runScanCommand);
}
