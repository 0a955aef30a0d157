#include "ctlcommands.h"
#include "sensorline.h"

namespace {

int runFactoryReset(Session &session, const NoOptions &)
{
    return SensorLine::run(session, [](SensorLine &line) {
        return line.finish(line.client().factoryReset(),
                           QStringLiteral("factory settings restored"),
                           {{QStringLiteral("factoryReset"), true}});
    });
}

} // namespace

void addFactoryResetCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(
        root, inv, "factory-reset",
        "factory-reset\n"
        "  restore the sensor's factory settings\n"
        "  ktr450ctl --port ttyUSB0 factory-reset             factory settings restored");
    cli::onChosen(*sub, inv, std::make_shared<NoOptions>(), runFactoryReset);
}
