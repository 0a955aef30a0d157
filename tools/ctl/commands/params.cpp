#include "ctlcommands.h"
#include "formats.h"
#include "sensorline.h"

namespace {

QJsonObject paramsJson(const CalibrationParameters &params)
{
    // Hundredths as doubles: exact to the last digit for 32-bit values.
    return {{QStringLiteral("a"), params.a / 100.0},
            {QStringLiteral("b"), params.b / 100.0},
            {QStringLiteral("c"), params.c / 100.0}};
}

int runParams(Session &session, const ParamsOptions &options)
{
    return SensorLine::run(session, [&options](SensorLine &line) {
        SensorClient &client = line.client();
        const bool own = options.ownProtocol;
        if (options.values) {
            const CalibrationParameters &values = *options.values;
            return line.finish(own ? client.writeOwnParameters(values)
                                   : client.writeParameters(values),
                               QStringLiteral("parameters set to %1").arg(parametersText(values)),
                               paramsJson(values), own);
        }
        const Result<CalibrationParameters> read =
            own ? client.readOwnParameters() : client.readParameters();
        return line.finish(read.outcome, parametersText(read.value), paramsJson(read.value), own);
    });
}

} // namespace

void addParamsCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(
        root, inv, "params",
        "params [--own-protocol] [A B C]\n"
        "  read or set calibration parameters A, B and C: decimal numbers with\n"
        "  at most two decimal places, -21474836.48 to 21474836.47\n"
        "  ktr450ctl --port ttyUSB0 params                    1 0.5 -0.25\n"
        "  ktr450ctl --port ttyUSB0 params 1.5 -1 0           parameters set to 1.5 -1 0");
    const auto options = std::make_shared<ParamsOptions>();
    sub->add_flag("--own-protocol", options->ownProtocol, "use the sensor's own protocol");
    int32_t CalibrationParameters::*const fields[] = {
        &CalibrationParameters::a, &CalibrationParameters::b, &CalibrationParameters::c};
    CLI::Option *previous = nullptr;
    for (int i = 0; i < 3; ++i) {
        const char name = char('A' + i);
        const auto store = [options, name, field = fields[i]](const QString &text) {
            const Checked<int32_t> value = checkHundredths(text);
            if (!value.ok())
                return QStringLiteral("parameter %1: %2").arg(QLatin1Char(name)).arg(value.error);
            if (!options->values)
                options->values.emplace();
            (*options->values).*field = value.value;
            return QString();
        };
        CLI::Option *param =
            cli::addArgument(*sub, inv, std::string(1, name), "a value to write", store);
        if (previous)
            previous->needs(param);
        previous = param;
    }
    cli::onChosen(*sub, inv, options, runParams);
}
