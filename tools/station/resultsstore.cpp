#include "resultsstore.h"

#include "runstable.h"
#include "schema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

ResultsStore::ResultsStore(const DatabaseUrl &url, const StoreOptions &options)
    : url_(url), options_(options), connection_(url), spool_(options.spoolPath, url.displayText())
{
}

ResultsStore::~ResultsStore() = default;

bool ResultsStore::open()
{
    return connect();
}

bool ResultsStore::connect()
{
    if (connection_.isOpen() && migrated_)
        return true;
    QString error;
    if (!connection_.open(error)) {
        markUnreachable(error);
        return false;
    }
    if (!migrateSchema(connection_.database(), url_.engine, error)) {
        markUnreachable(
            connection_.describe(QStringLiteral("cannot prepare the results database"), error));
        return false;
    }
    migrated_ = true;
    return true;
}

bool ResultsStore::retryDue() const
{
    return connection_.isOpen() || !sinceFailure_.isValid() ||
           sinceFailure_.elapsed() >= options_.retryIntervalMs;
}

// A failed query may leave a dead connection behind (a restarted server):
// it is closed, and opened afresh at the next attempt.
void ResultsStore::markUnreachable(const QString &error)
{
    lastError_ = error;
    databaseError_ = error;
    connection_.close();
    migrated_ = false;
    sinceFailure_.start();
}

WriteOutcome ResultsStore::spool(const RunRecord &record)
{
    QString error;
    if (spool_.append(record, error))
        return WriteOutcome::Spooled;
    lastError_ =
        databaseError_.isEmpty() ? error : databaseError_ + QStringLiteral("; and ") + error;
    return WriteOutcome::Failed;
}

WriteOutcome ResultsStore::write(const RunRecord &record)
{
    // Behind records already waiting, a record waits too: order is kept.
    if (spool_.pending() > 0) {
        const WriteOutcome outcome = spool(record);
        if (outcome == WriteOutcome::Failed)
            return outcome;
        return flushSpool() ? WriteOutcome::Written : WriteOutcome::Spooled;
    }
    if (!retryDue())
        return spool(record);
    if (connect()) {
        QString error;
        if (insertRecord(connection_.database(), record, error))
            return WriteOutcome::Written;
        markUnreachable(connection_.describe(QStringLiteral("cannot write to"), error));
    }
    return spool(record);
}

bool ResultsStore::flushSpool()
{
    for (;;) {
        std::optional<SpooledRecord> next;
        QString error;
        if (!spool_.oldest(next, error)) {
            lastError_ = error;
            return false;
        }
        if (!next)
            return true;
        if (!retryDue() || !connect())
            return false;
        if (!insertRecord(connection_.database(), next->record, error)) {
            markUnreachable(connection_.describe(QStringLiteral("cannot write to"), error));
            return false;
        }
        // Should this fail, the record is written again later, harmlessly.
        if (!spool_.remove(next->sequence, error)) {
            lastError_ = error;
            return false;
        }
    }
}

int ResultsStore::spooledCount()
{
    return spool_.pending();
}

bool ResultsStore::isSpooling()
{
    return spooledCount() != 0;
}

HistoryOutcome ResultsStore::select(const HistoryFilter &filter, int newest)
{
    HistoryOutcome out;
    if (!connect()) {
        out.error = lastError_;
        return out;
    }
    // Only fixed fragments go into the text; every value is bound.
    QString sql = QStringLiteral("SELECT %1 FROM runs WHERE 1 = 1").arg(recordColumns());
    QVariantList values;
    // Serial numbers are hexadecimal: 2309-0A01 is 2309-0a01.
    if (!filter.serialNumber.isEmpty()) {
        sql += QStringLiteral(" AND LOWER(serial_number) = LOWER(?)");
        values << filter.serialNumber;
    }
    if (filter.since) {
        sql += QStringLiteral(" AND started_utc >= ?");
        values << utcText(*filter.since);
    }
    if (filter.result) {
        sql += QStringLiteral(" AND result = ?");
        values << resultText(*filter.result);
    }
    sql += newest > 0 ? QStringLiteral(" ORDER BY started_utc DESC, id DESC LIMIT %1").arg(newest)
                      : QStringLiteral(" ORDER BY started_utc, id");
    QSqlQuery query(connection_.database());
    query.setForwardOnly(true);
    if (!execBound(query, sql, values)) {
        out.error =
            connection_.describe(QStringLiteral("cannot read"), sqlErrorText(query.lastError()));
        markUnreachable(out.error);
        return out;
    }
    while (query.next())
        out.records.append(recordFromRow(query));
    return out;
}

HistoryOutcome ResultsStore::history(const HistoryFilter &filter)
{
    return select(filter, 0);
}

HistoryOutcome ResultsStore::latestRuns(const HistoryFilter &filter, int count)
{
    return select(filter, qMax(1, count));
}

std::optional<qint64> ResultsStore::newestKey(QString &error)
{
    if (!connect()) {
        error = lastError_;
        return std::nullopt;
    }
    QSqlQuery query(connection_.database());
    if (!query.exec(QStringLiteral("SELECT MAX(id) FROM runs")) || !query.next()) {
        error =
            connection_.describe(QStringLiteral("cannot read"), sqlErrorText(query.lastError()));
        markUnreachable(error);
        return std::nullopt;
    }
    return query.value(0).isNull() ? 0 : query.value(0).toLongLong();
}

std::optional<RunRecord> ResultsStore::latestRun(const QString &serialNumber, QString &error)
{
    HistoryFilter filter;
    filter.serialNumber = serialNumber;
    const HistoryOutcome outcome = select(filter, 1);
    error = outcome.error;
    if (outcome.records.isEmpty())
        return std::nullopt;
    return outcome.records.first();
}
