#include "recordspool.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

DatabaseUrl spoolUrl(const QString &path)
{
    DatabaseUrl url;
    url.engine = DatabaseEngine::Sqlite;
    url.path = path;
    return url;
}

} // namespace

RecordSpool::RecordSpool(const QString &path, const QString &target)
    : path_(path), target_(target), connection_(spoolUrl(path))
{
}

bool RecordSpool::ensureOpen(QString &error)
{
    if (ready_ && connection_.isOpen())
        return true;
    if (!connection_.open(error))
        return false;
    QSqlQuery query(connection_.database());
    // AUTOINCREMENT: a sequence number is never handed out twice, so the
    // order of waiting records is the order they were spooled in.
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS spool ("
                                   "sequence INTEGER PRIMARY KEY AUTOINCREMENT,"
                                   " target TEXT NOT NULL,"
                                   " record TEXT NOT NULL)"))) {
        error = connection_.describe(QStringLiteral("cannot use the spool"),
                                     sqlErrorText(query.lastError()));
        return false;
    }
    ready_ = true;
    return true;
}

bool RecordSpool::append(const RunRecord &record, QString &error)
{
    if (!ensureOpen(error))
        return false;
    QSqlQuery query(connection_.database());
    const QString json = compactJsonText(recordToJson(record));
    if (!execBound(query, QStringLiteral("INSERT INTO spool (target, record) VALUES (?, ?)"),
                   {target_, json})) {
        error = connection_.describe(QStringLiteral("cannot write to the spool"),
                                     sqlErrorText(query.lastError()));
        return false;
    }
    return true;
}

bool RecordSpool::oldest(std::optional<SpooledRecord> &out, QString &error)
{
    out.reset();
    if (!QFileInfo::exists(path_))
        return true;
    if (!ensureOpen(error))
        return false;
    QSqlQuery query(connection_.database());
    if (!execBound(query,
                   QStringLiteral("SELECT sequence, record FROM spool WHERE target = ? "
                                  "ORDER BY sequence LIMIT 1"),
                   {target_})) {
        error = connection_.describe(QStringLiteral("cannot read the spool"),
                                     sqlErrorText(query.lastError()));
        return false;
    }
    if (!query.next())
        return true;
    const qint64 sequence = query.value(0).toLongLong();
    const std::optional<RunRecord> record =
        recordFromJson(QJsonDocument::fromJson(query.value(1).toString().toUtf8()).object());
    if (!record) {
        error = QStringLiteral("the spool %1 holds an unreadable record (sequence %2); it is "
                               "left there for inspection")
                    .arg(path_)
                    .arg(sequence);
        return false;
    }
    out = SpooledRecord{sequence, *record};
    return true;
}

bool RecordSpool::remove(qint64 sequence, QString &error)
{
    if (!ensureOpen(error))
        return false;
    QSqlQuery query(connection_.database());
    if (!execBound(query, QStringLiteral("DELETE FROM spool WHERE sequence = ?"), {sequence})) {
        error = connection_.describe(QStringLiteral("cannot update the spool"),
                                     sqlErrorText(query.lastError()));
        return false;
    }
    return true;
}

int RecordSpool::pending()
{
    if (!QFileInfo::exists(path_))
        return 0;
    QString error;
    if (!ensureOpen(error))
        return -1;
    QSqlQuery query(connection_.database());
    if (!execBound(query, QStringLiteral("SELECT COUNT(*) FROM spool WHERE target = ?"),
                   {target_}) ||
        !query.next())
        return -1;
    return query.value(0).toInt();
}
