// The results database of a commissioning station. Each record is written in
// one transaction; while the database cannot be reached, records wait in a
// local spool and are written later, in order and exactly once, so the
// station keeps commissioning. Synchronous, for the thread that made it.
#pragma once

#include "databaseurl.h"
#include "historyfilter.h"
#include "recordspool.h"
#include "runrecord.h"
#include "sqlconnection.h"

#include <QElapsedTimer>
#include <QString>
#include <QVector>
#include <memory>
#include <optional>

struct StoreOptions {
    QString spoolPath = QStringLiteral("ktr450-results-spool.sqlite");
    // While the database is away, how long to wait between attempts to
    // reach it again; writes in between go straight to the spool.
    int retryIntervalMs = 5000;
};

enum class WriteOutcome {
    Written, // in the database (and any earlier spooled records with it)
    Spooled, // waiting in the spool; the database could not be reached
    Failed,  // neither the database nor the spool took it: see lastError()
};

struct HistoryOutcome {
    QVector<RunRecord> records; // oldest first
    QString error;
    bool ok() const { return error.isEmpty(); }
};

class ResultsStore
{
  public:
    explicit ResultsStore(const DatabaseUrl &url, const StoreOptions &options = {});
    ~ResultsStore();

    // Connects and brings the schema up to date. False when the database
    // cannot be reached or is unusable (lastError() says why); records
    // written meanwhile are spooled.
    bool open();
    WriteOutcome write(const RunRecord &record);
    // Writes spooled records, oldest first, while the database takes them.
    // True when none is left waiting.
    bool flushSpool();
    // Records wait in the spool (the station should say so).
    bool isSpooling();
    int spooledCount();

    HistoryOutcome history(const HistoryFilter &filter);
    // The newest `count` runs, newest first, for a display of the latest.
    HistoryOutcome latestRuns(const HistoryFilter &filter, int count);
    // A key that grows with every record written to the database, by any
    // station: a display reads the runs again only when it has changed.
    // Nothing, with `error` set, when the database cannot be read.
    std::optional<qint64> newestKey(QString &error);
    // The latest run of a serial number, for its certificate.
    std::optional<RunRecord> latestRun(const QString &serialNumber, QString &error);

    // The last failure, naming the database by its display form only.
    QString lastError() const { return lastError_; }
    const DatabaseUrl &url() const { return url_; }

  private:
    bool connect();
    bool retryDue() const;
    void markUnreachable(const QString &error);
    WriteOutcome spool(const RunRecord &record);
    // `newest` > 0: that many runs, newest first; otherwise all, oldest first.
    HistoryOutcome select(const HistoryFilter &filter, int newest);

    DatabaseUrl url_;
    StoreOptions options_;
    SqlConnection connection_;
    RecordSpool spool_;
    bool migrated_ = false;
    QElapsedTimer sinceFailure_;
    QString lastError_;
    QString databaseError_; // why the database was last out of reach
};
