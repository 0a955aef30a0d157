#include "stationarguments.h"

#include <memory>
#include <string>
#include <vector>

namespace {

const char *const kDescription =
    "Usage: ktr450-station [OPTIONS]\n"
    "\n"
    "The commissioning station as a window for a production line: a tile per\n"
    "fixture shows its port, what it is doing (waiting for a sensor, reading,\n"
    "writing, reading back, verifying with the running Leq, recording), the\n"
    "sensor's serial number, the time taken and PASS or FAIL with the first\n"
    "reason. Below the tiles: the shift's passed, failed, yield and sensors per\n"
    "hour, the results database's state, and the latest runs of the database\n"
    "(this station's and other stations'), filtered by serial number, with the\n"
    "certificate of a run and CSV export.\n"
    "\n"
    "It takes the options of ktr450ctl commission and works as it does. Without\n"
    "--profile and --port it asks for the profile, the ports, the database and\n"
    "the operator in a start dialog. The profile and the database URL are\n"
    "checked before anything is sent. Stop finishes the sensors in the\n"
    "fixtures, then stops the station.";

const char *const kFooter =
    "URL is sqlite:PATH (default sqlite:ktr450-results.sqlite) or\n"
    "postgresql://USER@HOST[:PORT]/DB; PGPASSWORD or ~/.pgpass supply the password.\n"
    "While the database cannot be reached, records wait in the local spool\n"
    "ktr450-results-spool.sqlite and are written when it is back.\n"
    "\n"
    "Exit status (with --once when every fixture has had its sensor, otherwise\n"
    "when the window is closed), as ktr450ctl commission's:\n"
    "  0  every sensor passed, or none was commissioned\n"
    "  1  a refused option, profile or database URL\n"
    "  2  with --once: a port could not be opened\n"
    "  5  a sensor failed\n"
    "  6  a record could be neither written nor spooled";

// The usage line heads the description.
class HelpFormatter : public CLI::Formatter
{
  public:
    std::string make_usage(const CLI::App *, std::string) const override { return ""; }
};

void declare(CLI::App &app, StationArguments &out)
{
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_help_flag("-h,--help", "show this text");
    app.footer(kFooter);
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.option_defaults()->disable_flag_override();
    addCommissionOptions(app, out.options);
    cli::addLineTiming(app, out.link);
}

} // namespace

bool asksForStationHelp(const QStringList &arguments)
{
    for (const QString &arg : arguments) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help"))
            return true;
    }
    return false;
}

StationArguments parseStationArguments(const QStringList &arguments)
{
    StationArguments out;
    CLI::App app(kDescription, "ktr450-station");
    declare(app, out);
    if (asksForStationHelp(arguments)) {
        out.help = true;
        out.helpText = QString::fromStdString(app.help());
        return out;
    }
    // CLI11 takes the words last first.
    std::vector<std::string> words;
    for (auto it = arguments.crbegin(); it != arguments.crend(); ++it)
        words.push_back(it->toStdString());
    try {
        app.parse(words);
    } catch (const CLI::ParseError &error) {
        out.error = QString::fromStdString(error.what());
        return out;
    }
    if (!out.options.ports.isEmpty())
        out.error = checkCommissionPorts(out.options.ports);
    if (out.error.isEmpty() && out.options.once && !out.complete())
        out.error = QStringLiteral("--once runs unattended: give --profile and a --port for each "
                                   "fixture");
    return out;
}
