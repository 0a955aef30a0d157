// The command line of ktr450ctl: options, the command and its arguments, and
// the checks that refuse values which do not fit their field on the wire.
#pragma once

#include "commissioncommand.h"
#include "historycommand.h"
#include "inputs.h"
#include "latestrun.h"
#include "scan.h"
#include "verify.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

enum class CommandKind {
    Noise,
    Serial,
    Version,
    Origin,
    Address,
    Calibration,
    Params,
    Identity,
    FactoryReset,
    Protocol,
    Ports,
    Watch,
    Verify,
    History,
    Scan,
    Commission,
    Report,
};

// How to reach the sensor.
struct LinkSettings {
    QString port;
    int32_t baud = 9600;
    uint8_t address = 0; // this sensor answers address 0 whatever its own address
    int timeoutMs = 1000;
    int retries = 2;
    bool localEcho = false; // the adapter sends back every byte written
};

struct CtlCommand {
    CommandKind kind = CommandKind::Noise;
    bool write = false;       // changes the sensor: arguments were given
    bool ownProtocol = false; // version and params: use the sensor's own frames
    int range = 0;            // calibration range 0 to 2
    uint8_t newAddress = 1;
    int offset = 0;
    int factor = 0;
    std::array<int32_t, 3> params{}; // A, B, C in hundredths
    std::array<uint8_t, 4> identity{};
    bool toOwnProtocol = false;
    int intervalMs = 1000; // watch: time from one reading's start to the next
    int count = 0;         // watch: readings to take, 0 until interrupted
    VerifyCommandOptions verify;
    ScanSettings scan;
};

struct Invocation {
    bool help = false;
    bool json = false;
    bool verbose = false;
    LinkSettings link;
    CtlCommand command;
    HistoryRequest history;       // the history command's database and filters
    bool csv = false;             // history: CSV instead of text lines
    CommissionRequest commission; // the commission command's profile, ports and database
    LatestRunRequest report;      // report: the database and the serial number
    QString reportPdf;            // report: the certificate's file
};

struct ParseOutcome {
    bool ok = false;
    QString error; // plain words, for standard error
    Invocation invocation;
};

// Reads the arguments that follow the program name.
ParseOutcome parseInvocation(const QStringList &arguments);

// The options, the commands with their examples, and the exit statuses.
QString helpText();
