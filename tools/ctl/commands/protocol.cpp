#include "ctlcommands.h"
#include "sensorline.h"

namespace {

int runProtocol(Session &session, const ProtocolOptions &options)
{
    return SensorLine::run(session, [&options](SensorLine &line) {
        const QString name =
            options.toOwnProtocol ? QStringLiteral("own") : QStringLiteral("modbus");
        return line.finish(line.client().switchProtocol(options.toOwnProtocol),
                           QStringLiteral("protocol switched to %1").arg(name),
                           {{QStringLiteral("protocol"), name}});
    });
}

Checked<bool> checkProtocol(const QString &text)
{
    Checked<bool> out;
    out.value = text == QLatin1String("own");
    if (!out.value && text != QLatin1String("modbus"))
        out.error = QStringLiteral("unknown protocol '%1': use modbus or own").arg(text);
    return out;
}

} // namespace

void addProtocolCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(
        root, inv, "protocol",
        "protocol modbus|own\n"
        "  switch the sensor to Modbus or to its own protocol\n"
        "  ktr450ctl --port ttyUSB0 protocol own              protocol switched to own");
    const auto options = std::make_shared<ProtocolOptions>();
    cli::addArgument(*sub, inv, "PROTOCOL", "modbus or own", options->toOwnProtocol, checkProtocol)
        ->required();
    cli::onChosen(*sub, inv, options, runProtocol);
}
