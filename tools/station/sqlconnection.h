// One Qt Sql connection to a results database or spool, under a name of its
// own so several stores can live in one process. Used from the thread that
// made it, as Qt Sql requires.
#pragma once

#include "databaseurl.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

// A driver error on one line: the database's own words when there are any.
QString sqlErrorText(const QSqlError &error);

// Prepares `sql`, binds `values` to its placeholders in order and runs it.
bool execBound(QSqlQuery &query, const QString &sql, const QVariantList &values);

class SqlConnection
{
  public:
    explicit SqlConnection(const DatabaseUrl &url);
    ~SqlConnection();
    SqlConnection(const SqlConnection &) = delete;
    SqlConnection &operator=(const SqlConnection &) = delete;

    // Connects if not yet connected. SQLite files are put in WAL mode (so
    // several processes share one file) with a busy timeout, so a writer
    // waits for another instead of failing. On failure `error` says why,
    // naming the database by its display form.
    bool open(QString &error);
    bool isOpen() const;
    void close();
    QSqlDatabase database() const;
    const DatabaseUrl &url() const { return url_; }
    // A driver message with the URL's password masked, should it echo it.
    QString describe(const QString &what, const QString &driverText) const;

  private:
    bool prepareSqlite(QString &error);
    bool preparePostgresql(QString &error);

    DatabaseUrl url_;
    QString name_;
};
