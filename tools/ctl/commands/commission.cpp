#include "ctlcommands.h"
#include "serialtransport.h"
#include "station.h"

#include <csignal>

namespace {

// The station until Ctrl-C, SIGTERM or, with --once, one sensor per port;
// 1 for a refused profile or database URL, 6 for an SQLite file whose folder
// is missing or read-only, otherwise commissionStatus().
int runCommission(Session &session, const CommissionOptions &options)
{
    Output &out = session.out;
    const CommissionStart start = prepareCommission(options);
    if (!start.warning.isEmpty())
        out.error(start.warning);
    if (!start.ok()) {
        out.error(start.error);
        return start.status;
    }
    const StoreOptions storeOptions;
    const StationSettings settings = commissionSettings(options, session.link);
    if (session.stopOnSignals)
        session.stopOnSignals();
    StationStreams streams;
    streams.terminal = out.outIsTerminal();
    streams.write = [&out](const QByteArray &bytes) { out.raw(bytes); };
    streams.error = [&out](const QString &message) { out.error(message); };

    const StationSummary summary = runStation(settings, start.profile, start.url, storeOptions,
                                              session.makeTransport, session.stop, streams);
    return commissionStatus(summary, options.once);
}

// The ports once the whole line is read: a --port before the command counts
// too. Empty when they are sound.
QString settlePorts(Invocation &inv)
{
    QStringList &ports = std::any_cast<std::shared_ptr<CommissionOptions>>(inv.options)->ports;
    if (!inv.link.port.isEmpty())
        ports.prepend(inv.link.port);
    return checkCommissionPorts(ports);
}

} // namespace

QString checkCommissionPorts(const QStringList &ports)
{
    if (ports.isEmpty())
        return QStringLiteral("no port given: add --port NAME for each fixture (ktr450ctl ports "
                              "lists the serial ports)");
    for (int i = 0; i < ports.size(); ++i) {
        if (ports.indexOf(ports[i]) != i)
            return QStringLiteral("port %1 is given twice").arg(ports[i]);
    }
    return QString();
}

CommissionStart prepareCommission(const CommissionOptions &options)
{
    CommissionStart start;
    ProfileOutcome profile = loadProfile(options.profilePath);
    if (!profile.ok()) {
        start.status = kExitUsage;
        start.error = QStringLiteral("profile %1 refused: %2")
                          .arg(options.profilePath, profile.errorMessage());
        return start;
    }
    if (!options.referenceSource.isEmpty()) {
        if (!profile.profile.verification) {
            start.status = kExitUsage;
            start.error = QStringLiteral("--reference-source names the calibrator of a "
                                         "verification, and profile %1 has none")
                              .arg(options.profilePath);
            return start;
        }
        profile.profile.verification->referenceSource = options.referenceSource;
    }
    const DatabaseUrlOutcome url = parseDatabaseUrl(options.databaseUrl);
    if (!url.ok()) {
        start.status = kExitUsage;
        start.error = url.error;
        return start;
    }
    start.warning = passwordInUrlWarning(url.url);
    const QString pathProblem = sqlitePathProblem(url.url);
    if (!pathProblem.isEmpty()) {
        start.status = kExitFile;
        start.error = pathProblem;
        return start;
    }
    start.profile = profile.profile;
    start.url = url.url;
    return start;
}

StationSettings commissionSettings(const CommissionOptions &options, const LinkSettings &link)
{
    StationSettings settings;
    settings.ports = options.ports;
    settings.fixture.baud = link.baud;
    settings.fixture.timeoutMs = link.timeoutMs;
    settings.fixture.retries = link.retries;
    settings.fixture.operatorName = options.operatorName;
    settings.fixture.once = options.once;
    return settings;
}

int commissionStatus(const StationSummary &summary, bool once)
{
    if (summary.recordLost)
        return kExitFile;
    if (summary.anyFailed)
        return kExitFail;
    if (summary.portProblem && once)
        return kExitPort;
    return kExitSuccess;
}

void addCommissionCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(
        root, inv, "commission",
        "commission --profile FILE --port A [--port B ...] [--db URL] [--operator NAME]\n"
        "           [--reference-source TEXT] [--once]\n"
        "  a commissioning station: on every port at once, wait for a sensor, read\n"
        "  its serial number and firmware, write the profile's settings, read each\n"
        "  back, run the profile's verification, record the run in the results\n"
        "  database (URL as for history) and print one line: port, serial number,\n"
        "  PASS or FAIL, seconds, and the first reason of a FAIL; then wait until\n"
        "  the sensor is removed and for the next. On a terminal a status line per\n"
        "  port is updated in place. --once: one sensor per port, then exit (0 when\n"
        "  all passed, 5 when any failed). The profile is checked whole before\n"
        "  anything is sent. While the database cannot be reached, records wait in\n"
        "  a local spool (ktr450-results-spool.sqlite) and are written later; an\n"
        "  SQLite file whose folder is missing or read-only is refused (6).\n"
        "  --reference-source names the calibrator for the records and certificates\n"
        "  (the profile's verification member \"reference_source\" otherwise).\n"
        "  Ctrl-C stops the station once the sensors in the fixtures are done.\n"
        "  ktr450ctl commission --profile line3.json --port ttyUSB0 --port ttyUSB1\n"
        "                                                     ttyUSB0  2309-0451  PASS  4.1 s");
    const auto options = std::make_shared<CommissionOptions>();
    addCommissionOptions(*sub, *options);
    sub->get_option("--profile")->required();
    cli::onChosen(*sub, inv, options, runCommission, settlePorts);
}

void addCommissionOptions(CLI::App &sub, CommissionOptions &options)
{
    cli::addValue(sub, "--profile", "FILE", "the commissioning profile (JSON)", options.profilePath,
                  cli::checkFileName);
    sub.add_option_function<std::vector<std::string>>(
           "--port",
           [&options](const std::vector<std::string> &names) {
               for (const std::string &name : names)
                   options.ports << cli::accepted(cli::checkPort(cli::fromCli(name)));
           },
           "a fixture's serial port; one --port per fixture")
        ->type_name("NAME")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    cli::addDatabase(sub, options.databaseUrl);
    cli::addCertificateFields(sub, options.operatorName, options.referenceSource);
    sub.add_flag("--once", options.once, "one sensor per port, then exit");
}
