#include "sqlconnection.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <QVariant>

namespace {

constexpr int kBusyTimeoutMs = 30000;
constexpr int kConnectTimeoutSeconds = 5;

QString driverName(DatabaseEngine engine)
{
    return engine == DatabaseEngine::Sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
}

QString driverPackage(DatabaseEngine engine)
{
    return engine == DatabaseEngine::Sqlite ? QStringLiteral("libqt5sql5-sqlite")
                                            : QStringLiteral("libqt5sql5-psql");
}

} // namespace

bool execBound(QSqlQuery &query, const QString &sql, const QVariantList &values)
{
    if (!query.prepare(sql))
        return false;
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec();
}

QString sqlErrorText(const QSqlError &error)
{
    const QString text = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    return text.simplified();
}

SqlConnection::SqlConnection(const DatabaseUrl &url)
    : url_(url), name_(QStringLiteral("ktr450-") + QUuid::createUuid().toString(QUuid::Id128))
{
}

SqlConnection::~SqlConnection()
{
    close();
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase SqlConnection::database() const
{
    return QSqlDatabase::database(name_, false);
}

bool SqlConnection::isOpen() const
{
    return QSqlDatabase::contains(name_) && database().isOpen();
}

void SqlConnection::close()
{
    if (QSqlDatabase::contains(name_))
        database().close();
}

QString SqlConnection::describe(const QString &what, const QString &driverText) const
{
    return url_.withoutSecret(
        QStringLiteral("%1 %2: %3").arg(what, url_.displayText(), driverText.simplified()));
}

bool SqlConnection::open(QString &error)
{
    if (isOpen())
        return true;
    const QString driver = driverName(url_.engine);
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        error = QStringLiteral("cannot open %1: the Qt %2 driver is missing (Debian package %3)")
                    .arg(url_.displayText(), driver, driverPackage(url_.engine));
        return false;
    }
    QSqlDatabase db =
        QSqlDatabase::contains(name_) ? database() : QSqlDatabase::addDatabase(driver, name_);
    if (url_.engine == DatabaseEngine::Sqlite) {
        db.setDatabaseName(url_.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    } else {
        db.setHostName(url_.host);
        db.setPort(url_.port);
        db.setUserName(url_.user);
        if (!url_.password.isEmpty())
            db.setPassword(url_.password);
        db.setDatabaseName(url_.database);
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds));
    }
    if (!db.open()) {
        error = describe(QStringLiteral("cannot open"), sqlErrorText(db.lastError()));
        return false;
    }
    const bool prepared =
        url_.engine == DatabaseEngine::Sqlite ? prepareSqlite(error) : preparePostgresql(error);
    if (!prepared)
        db.close();
    return prepared;
}

// Creating what already exists is routine during schema checks; the
// server's notices about it would only clutter a station's terminal.
bool SqlConnection::preparePostgresql(QString &error)
{
    QSqlQuery query(database());
    if (query.exec(QStringLiteral("SET client_min_messages TO WARNING")))
        return true;
    error = describe(QStringLiteral("cannot use"), sqlErrorText(query.lastError()));
    return false;
}

// Switching a file to WAL needs it to itself for a moment, and SQLite
// reports "locked" at once rather than waiting out the busy timeout, so a
// station that opens the file just as another one does tries again.
bool SqlConnection::prepareSqlite(QString &error)
{
    QElapsedTimer clock;
    clock.start();
    QSqlQuery query(database());
    while (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !query.next()) {
        if (clock.elapsed() > kBusyTimeoutMs) {
            error = describe(QStringLiteral("cannot use"), sqlErrorText(query.lastError()));
            return false;
        }
        QThread::msleep(20);
    }
    const QString mode = query.value(0).toString();
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        error = describe(QStringLiteral("cannot use"),
                         QStringLiteral("the file does not take write-ahead logging (journal "
                                        "mode %1), which several stations sharing it need")
                             .arg(mode));
        return false;
    }
    return true;
}
