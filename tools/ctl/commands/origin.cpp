#include "ctlcommands.h"
#include "formats.h"
#include "sensorline.h"

namespace {

int runOrigin(Session &session, const NoOptions &)
{
    return SensorLine::run(session, [](SensorLine &line) {
        const Result<Origin> origin = line.client().readOrigin();
        const Origin &o = origin.value;
        return line.finish(origin.outcome,
                           QStringLiteral("%1 %2").arg(o.raw).arg(tenthsText(o.noiseTenths)),
                           {{QStringLiteral("origin"), double(o.raw)},
                            {QStringLiteral("noise"), o.noiseTenths / 10.0}});
    });
}

} // namespace

void addOriginCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub =
        cli::addCommand(root, inv, "origin",
                        "origin\n"
                        "  raw value and noise value in dB\n"
                        "  ktr450ctl --port ttyUSB0 origin                    191 45.6");
    cli::onChosen(*sub, inv, std::make_shared<NoOptions>(), runOrigin);
}
