// `ktr450ctl history`: the records of a results database, filtered, as text
// lines, CSV or JSON. The command line hands its option texts over as typed;
// they are checked here.
#pragma once

#include "historyformat.h"

#include <QString>
#include <QTextStream>

// Exit statuses beyond ktr450ctl's usage error (1).
enum StationExitStatus {
    kExitDatabase = 6, // the results database cannot be reached or read
};

struct HistoryRequest {
    QString databaseUrl; // empty: the default SQLite file
    QString serialNumber;
    QString since;  // empty: no limit
    QString result; // "pass", "fail" or empty
    HistoryFormat format = HistoryFormat::Text;
    QString spoolPath; // empty: the store's default
};

// Prints the records to `out` and what went wrong to `err`; returns 0, 1
// for a value that does not fit, or kExitDatabase.
int runHistory(const HistoryRequest &request, QTextStream &out, QTextStream &err);
