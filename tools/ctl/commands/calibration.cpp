#include "ctlcommands.h"
#include "sensorline.h"

namespace {

QJsonObject calibrationJson(int range, const Calibration &calibration)
{
    return {{QStringLiteral("range"), range},
            {QStringLiteral("offset"), calibration.offset},
            {QStringLiteral("factor"), calibration.factor}};
}

int runCalibration(Session &session, const CalibrationOptions &options)
{
    return SensorLine::run(session, [&options](SensorLine &line) {
        const int range = options.range;
        if (options.offset) {
            const Calibration written{*options.offset, *options.factor};
            return line.finish(line.client().writeCalibration(range, written),
                               QStringLiteral("calibration range %1 set to %2 %3")
                                   .arg(range)
                                   .arg(written.offset)
                                   .arg(written.factor),
                               calibrationJson(range, written));
        }
        const Result<Calibration> read = line.client().readCalibration(range);
        return line.finish(read.outcome,
                           QStringLiteral("%1 %2").arg(read.value.offset).arg(read.value.factor),
                           calibrationJson(range, read.value));
    });
}

} // namespace

void addCalibrationCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(
        root, inv, "calibration",
        "calibration [--range R] [OFFSET FACTOR]\n"
        "  read or set offset (-255 to 255) and factor (0 to 255) of calibration\n"
        "  range R (0, 1 or 2; default 0)\n"
        "  ktr450ctl --port ttyUSB0 calibration               -5 100\n"
        "  ktr450ctl --port ttyUSB0 calibration --range 1 -5 100\n"
        "                                                     calibration range 1 set to -5 100",
        QStringLiteral("calibration [--range 0-2] [OFFSET FACTOR]"));
    const auto options = std::make_shared<CalibrationOptions>();
    cli::addValue(*sub, "--range", "R", "calibration range 0, 1 or 2", options->range,
                  checkCalibrationRange);
    CLI::Option *offset = cli::addArgument(*sub, inv, "OFFSET", "offset to write", options->offset,
                                           checkCalibrationOffset);
    offset->needs(cli::addArgument(*sub, inv, "FACTOR", "factor to write", options->factor,
                                   checkCalibrationFactor));
    cli::onChosen(*sub, inv, options, runCalibration);
}
