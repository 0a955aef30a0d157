#include "ctlcommands.h"
#include "formats.h"
#include "sensorline.h"

namespace {

int runSerial(Session &session, const NoOptions &)
{
    return SensorLine::run(session, [](SensorLine &line) {
        const Result<uint32_t> serial = line.client().readSerialNumber();
        const QString text = identityText(serial.value);
        return line.finish(serial.outcome, text, {{QStringLiteral("serial"), text}});
    });
}

} // namespace

void addSerialCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub =
        cli::addCommand(root, inv, "serial",
                        "serial\n"
                        "  serial number\n"
                        "  ktr450ctl --port ttyUSB0 serial                    2309-0451");
    cli::onChosen(*sub, inv, std::make_shared<NoOptions>(), runSerial);
}
