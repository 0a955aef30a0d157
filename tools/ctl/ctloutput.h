// What ktr450ctl prints: readings as text or JSON, watch lines, the port
// list, and the exit statuses.
#pragma once

#include "sensorcommands.h"

#include <QDateTime>
#include <QList>
#include <QSerialPortInfo>
#include <QString>

enum ExitStatus {
    kExitSuccess = 0,
    kExitUsage = 1,
    kExitPort = 2,     // the port cannot be opened, or fails while in use
    kExitNoReply = 3,  // no reply in time
    kExitBadReply = 4, // CRC or checksum, exception, unexpected frame, unconfirmed write
    kExitFail = 5,     // verify: the sensor's readings are outside the tolerance
    kExitFile = 6,     // a file asked for (record, report, chart) cannot be written
};

// One line (without its newline) for a reading.
QString readingLine(const Reading &reading, bool json);
// One watch line: the UTC time with milliseconds and the reading, as CSV
// ("2024-05-01T10:00:00.123Z,45.6") or as a JSON object with a "time" member.
QString watchLine(const QDateTime &time, const Reading &reading, bool json);
// One line a port (name, then its description after a tab, if it has one),
// or one JSON array.
QString portsListing(const QList<QSerialPortInfo> &ports, bool json);
