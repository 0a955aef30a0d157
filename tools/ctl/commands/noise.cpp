#include "ctlcommands.h"
#include "formats.h"
#include "sensorline.h"

namespace {

int runNoise(Session &session, const NoOptions &)
{
    return SensorLine::run(session, [](SensorLine &line) {
        const Result<uint16_t> noise = line.client().readNoise();
        return line.finish(noise.outcome, tenthsText(noise.value),
                           {{QStringLiteral("noise"), noise.value / 10.0}});
    });
}

} // namespace

void addNoiseCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(root, inv, "noise",
                                    "noise\n"
                                    "  current noise value in dB\n"
                                    "  ktr450ctl --port ttyUSB0 noise                     45.6");
    cli::onChosen(*sub, inv, std::make_shared<NoOptions>(), runNoise);
}
