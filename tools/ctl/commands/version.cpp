#include "ctlcommands.h"
#include "formats.h"
#include "sensorline.h"

namespace {

int runVersion(Session &session, const VersionOptions &options)
{
    return SensorLine::run(session, [&options](SensorLine &line) {
        const bool own = options.ownProtocol;
        const Result<FirmwareVersion> version =
            own ? line.client().readOwnVersion() : line.client().readVersion();
        const QString text = firmwareVersionText(version.value);
        return line.finish(version.outcome, text, {{QStringLiteral("version"), text}}, own);
    });
}

} // namespace

void addVersionCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub =
        cli::addCommand(root, inv, "version",
                        "version [--own-protocol]\n"
                        "  firmware version, over Modbus or in the sensor's own protocol\n"
                        "  ktr450ctl --port ttyUSB0 version                   17-6-11");
    const auto options = std::make_shared<VersionOptions>();
    sub->add_flag("--own-protocol", options->ownProtocol, "ask in the sensor's own protocol");
    cli::onChosen(*sub, inv, options, runVersion);
}
