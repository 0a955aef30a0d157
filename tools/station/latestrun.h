// The latest run of one serial number in a results database, for the
// sensor's certificate (`ktr450ctl report`).
#pragma once

#include "runrecord.h"

#include <QString>

struct LatestRunRequest {
    QString databaseUrl; // empty: the default SQLite file
    QString serialNumber;
    QString spoolPath; // empty: the store's default
};

// True with `record` set; false with `error` saying why (the database
// cannot be read, or it holds no run of that serial number).
bool findLatestRun(const LatestRunRequest &request, RunRecord &record, QString &error);
