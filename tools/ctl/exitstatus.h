// ktr450ctl's exit statuses: one table, for the program and its help text.
#pragma once

#include "outcome.h"

#include <QString>

enum ExitStatus {
    kExitSuccess = 0,
    kExitUsage = 1,
    kExitPort = 2,     // the port cannot be opened, or fails while in use
    kExitNoReply = 3,  // no reply in time
    kExitBadReply = 4, // CRC or checksum, exception, unexpected frame, unconfirmed write
    kExitFail = 5,     // verify: outside the tolerance; commission: a sensor failed
    kExitFile = 6,     // a file or database asked for cannot be written or read
};

// The status for how a call of the sensor client ended.
ExitStatus exitStatusFor(const Outcome &outcome);

// The statuses as the help text lists them, one meaning each.
QString exitStatusHelp();
