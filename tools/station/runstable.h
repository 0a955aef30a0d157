// Run records in and out of the runs table, every value bound.
#pragma once

#include "runrecord.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// Writes one record in its own transaction. A run id already there is left
// as it is, so writing a record twice (a spool flushed again after a crash)
// still leaves it there exactly once.
bool insertRecord(QSqlDatabase db, const RunRecord &record, QString &error);

// The column list for a SELECT whose rows recordFromRow() reads.
QString recordColumns();
RunRecord recordFromRow(const QSqlQuery &query);
