// `ktr450ctl commission`: a commissioning station. One fixture thread per
// port commissions the sensors plugged into it; this thread keeps the
// results database (whose connect may block for seconds) and the output, so
// neither a slow database nor a silent fixture holds up the other fixtures.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

struct CommissionRequest {
    QString profilePath;
    QStringList ports;
    QString databaseUrl; // empty: the default SQLite file
    QString operatorName;
    bool once = false;
    int32_t baud = 9600;
    int timeoutMs = 1000;
    int retries = 2;
    QString spoolPath; // empty: the store's default
};

struct StationStreams {
    bool terminal = false;                         // status lines updated in place
    std::function<void(const QByteArray &)> write; // standard output
    std::function<void(const QString &)> error;    // one line to standard error
};

// Runs until `stop` is set, or with `once` until each port has had one
// sensor. Returns 0 (all passed, or stopped), 1 for a refused profile or
// database URL, 2 when a port cannot be opened with `once`, 5 when any
// sensor failed, 6 when a record could be neither written nor spooled.
int runCommission(const CommissionRequest &request, const std::atomic<bool> &stop,
                  const StationStreams &streams);
