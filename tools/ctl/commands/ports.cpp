#include "ctlcommands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSerialPortInfo>

namespace {

// One line a port (name, then its description after a tab, if it has one),
// or one JSON array.
QString portsListing(const QList<QSerialPortInfo> &ports, bool json)
{
    if (json) {
        QJsonArray array;
        for (const QSerialPortInfo &info : ports) {
            array.append(QJsonObject{{QStringLiteral("port"), info.portName()},
                                     {QStringLiteral("location"), info.systemLocation()},
                                     {QStringLiteral("description"), info.description()},
                                     {QStringLiteral("manufacturer"), info.manufacturer()}});
        }
        return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
    }
    QStringList lines;
    for (const QSerialPortInfo &info : ports) {
        QString line = info.portName();
        if (!info.description().isEmpty())
            line += QLatin1Char('\t') + info.description();
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

int runPorts(Session &session, const NoOptions &)
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    const QString listing = portsListing(ports, session.out.json());
    if (!listing.isEmpty())
        session.out.line(listing);
    if (ports.isEmpty())
        session.out.error(QStringLiteral("no serial ports found"));
    return kExitSuccess;
}

} // namespace

void addPortsCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(root, inv, "ports",
                                    "ports\n"
                                    "  list the serial ports of this computer (name, then "
                                    "description)\n"
                                    "  ktr450ctl ports                                    "
                                    "ttyUSB0\tUSB-Serial Controller");
    cli::onChosen(*sub, inv, std::make_shared<NoOptions>(), runPorts,
                  [](Invocation &) { return QString(); });
}
