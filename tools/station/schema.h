// The results schema, the same tables for SQLite and PostgreSQL. The tool
// creates it and brings older versions up to date step by step; steps only
// add, so no data is ever dropped. The version reached is kept in the table
// schema_version.
#pragma once

#include "databaseurl.h"

#include <QSqlDatabase>
#include <QString>

int latestSchemaVersion();

// Brings the schema to `target` (normally the latest) in one transaction,
// locked against other stations doing the same at once. Refuses a database
// whose schema is newer than this tool knows.
bool migrateSchema(QSqlDatabase db, DatabaseEngine engine, QString &error,
                   int target = latestSchemaVersion());

// The version the database is at; 0 for an empty one, -1 on error.
int schemaVersion(QSqlDatabase db);
