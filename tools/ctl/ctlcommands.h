// ktr450ctl's commands, one file each: every file declares its subcommand
// with its options and runs it. The options structs are here so that the
// command line can be checked on its own.
#pragma once

#include "commandline.h"
#include "databaseurl.h"
#include "exitstatus.h"
#include "historyfilter.h"
#include "registercodec.h"
#include "scanner.h"
#include "station.h"
#include "verification.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

using AddCommand = void (*)(CLI::App &root, Invocation &inv);

// Reads without options.
struct NoOptions {
};
void addNoiseCommand(CLI::App &root, Invocation &inv);
void addSerialCommand(CLI::App &root, Invocation &inv);
void addOriginCommand(CLI::App &root, Invocation &inv);
void addPortsCommand(CLI::App &root, Invocation &inv);
void addFactoryResetCommand(CLI::App &root, Invocation &inv);

struct VersionOptions {
    bool ownProtocol = false;
};
void addVersionCommand(CLI::App &root, Invocation &inv);

struct AddressOptions {
    std::optional<uint8_t> newAddress; // set it; nothing: read it
};
void addAddressCommand(CLI::App &root, Invocation &inv);

struct CalibrationOptions {
    int range = 0;
    std::optional<int> offset; // with `factor`: write them
    std::optional<int> factor;
};
void addCalibrationCommand(CLI::App &root, Invocation &inv);

struct ParamsOptions {
    bool ownProtocol = false;
    std::optional<CalibrationParameters> values; // write them; nothing: read them
};
void addParamsCommand(CLI::App &root, Invocation &inv);

struct IdentityOptions {
    std::optional<std::array<uint8_t, 4>> identity; // write it; nothing: read it
};
void addIdentityCommand(CLI::App &root, Invocation &inv);

struct ProtocolOptions {
    bool toOwnProtocol = false;
};
void addProtocolCommand(CLI::App &root, Invocation &inv);

struct WatchOptions {
    int intervalMs = 1000; // time from one reading's start to the next
    int count = 0;         // readings to take, 0 until interrupted
};
void addWatchCommand(CLI::App &root, Invocation &inv);

struct VerifyOptions {
    VerifySettings settings;
    QString operatorName;    // for the certificate
    QString referenceSource; // the calibrator, for the certificate
    QString pdfPath;         // the certificate; empty for none
    QString svgPath;         // the chart alone
    QString pngPath;
};
void addVerifyCommand(CLI::App &root, Invocation &inv);

// scan's options are the scanner's settings (scanner.h).
void addScanCommand(CLI::App &root, Invocation &inv);

struct HistoryOptions {
    QString databaseUrl = QLatin1String(kDefaultDatabaseUrl);
    HistoryFilter filter;
    bool csv = false;
};
void addHistoryCommand(CLI::App &root, Invocation &inv);

struct CommissionOptions {
    QString profilePath;
    QStringList ports; // with the --port of the line, if any, first
    QString databaseUrl = QLatin1String(kDefaultDatabaseUrl);
    QString operatorName;
    QString referenceSource; // empty: the profile's, if any
    bool once = false;
};
void addCommissionCommand(CLI::App &root, Invocation &inv);
// commission's own options, declared on `sub`: the station window takes the
// same ones through this.
void addCommissionOptions(CLI::App &sub, CommissionOptions &options);
// What is wrong with a station's ports (none, or one given twice); empty when
// they are sound.
QString checkCommissionPorts(const QStringList &ports);

// What a station needs before anything is sent: its profile, read and checked
// whole (with --reference-source put in), and the results database's URL,
// whose SQLite folder must exist and be writable.
struct CommissionStart {
    CommissioningProfile profile;
    DatabaseUrl url;
    int status = kExitSuccess; // otherwise the exit status, with `error` saying why
    QString error;
    QString warning; // said even when the start is sound (a password in the URL)
    bool ok() const { return status == kExitSuccess; }
};
CommissionStart prepareCommission(const CommissionOptions &options);
// A station's settings from the options and the line's timing.
StationSettings commissionSettings(const CommissionOptions &options, const LinkSettings &link);
// How a station's run ends: 0 all passed (or stopped), 2 when a port could
// not be opened with --once, 5 when any sensor failed, 6 when a record could
// be neither written nor spooled.
int commissionStatus(const StationSummary &summary, bool once);

struct ReportOptions {
    QString databaseUrl = QLatin1String(kDefaultDatabaseUrl);
    QString serialNumber;
    QString pdfPath;
};
void addReportCommand(CLI::App &root, Invocation &inv);

// Every command, in the order the help lists them.
constexpr AddCommand kCommands[] = {
    addNoiseCommand,        addSerialCommand,      addVersionCommand, addOriginCommand,
    addAddressCommand,      addCalibrationCommand, addParamsCommand,  addIdentityCommand,
    addFactoryResetCommand, addProtocolCommand,    addPortsCommand,   addWatchCommand,
    addVerifyCommand,       addHistoryCommand,     addScanCommand,    addCommissionCommand,
    addReportCommand,
};
