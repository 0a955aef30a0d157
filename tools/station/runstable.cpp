#include "runstable.h"

#include "sqlconnection.h"

#include <QJsonDocument>
#include <QSqlError>
#include <QVariant>

namespace {

QString jsonText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject jsonObject(const QVariant &value)
{
    return QJsonDocument::fromJson(value.toString().toUtf8()).object();
}

QVariant optionalInt(const std::optional<int> &value)
{
    return value ? QVariant(*value) : QVariant(QVariant::Int);
}

std::optional<int> intOrNothing(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return value.toInt();
}

// A null QString binds as SQL NULL; an empty text is not a missing one.
QString text(const QString &value)
{
    return value.isNull() ? QLatin1String("") : value;
}

void bindRecord(QSqlQuery &query, const RunRecord &record)
{
    query.addBindValue(record.runId.toString(QUuid::WithoutBraces));
    query.addBindValue(utcText(record.startedUtc));
    query.addBindValue(text(record.station));
    query.addBindValue(text(record.operatorName));
    query.addBindValue(text(record.port));
    query.addBindValue(record.baud);
    query.addBindValue(optionalInt(record.addressBefore));
    query.addBindValue(optionalInt(record.addressAfter));
    query.addBindValue(text(record.serialNumber));
    query.addBindValue(text(record.firmware));
    query.addBindValue(jsonText(record.settingsAsked));
    query.addBindValue(jsonText(record.settingsReadBack));
    query.addBindValue(jsonText(record.settingsWritten));
    query.addBindValue(jsonText(record.statistics));
    query.addBindValue(resultText(record.result));
    query.addBindValue(text(record.reason));
    query.addBindValue(qlonglong(record.durationMs));
    query.addBindValue(text(record.toolVersion));
}

const char kColumns[] = "run_id, started_utc, station, operator, port, baud, address_before, "
                        "address_after, serial_number, firmware, settings_asked, "
                        "settings_read_back, settings_written, statistics, result, reason, "
                        "duration_ms, tool_version";

} // namespace

QString recordColumns()
{
    return QLatin1String(kColumns);
}

bool insertRecord(QSqlDatabase db, const RunRecord &record, QString &error)
{
    if (!db.transaction()) {
        error = sqlErrorText(db.lastError());
        return false;
    }
    QSqlQuery query(db);
    bool inserted =
        query.prepare(QStringLiteral("INSERT INTO runs (%1) VALUES "
                                     "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                     "ON CONFLICT (run_id) DO NOTHING")
                          .arg(recordColumns()));
    if (inserted) {
        bindRecord(query, record);
        inserted = query.exec();
    }
    if (!inserted) {
        error = sqlErrorText(query.lastError());
        query.finish();
        db.rollback();
        return false;
    }
    query.finish();
    if (!db.commit()) {
        error = sqlErrorText(db.lastError());
        db.rollback();
        return false;
    }
    return true;
}

RunRecord recordFromRow(const QSqlQuery &query)
{
    RunRecord record;
    record.runId = QUuid::fromString(query.value(0).toString());
    record.startedUtc = utcFromText(query.value(1).toString());
    record.station = query.value(2).toString();
    record.operatorName = query.value(3).toString();
    record.port = query.value(4).toString();
    record.baud = query.value(5).toInt();
    record.addressBefore = intOrNothing(query.value(6));
    record.addressAfter = intOrNothing(query.value(7));
    record.serialNumber = query.value(8).toString();
    record.firmware = query.value(9).toString();
    record.settingsAsked = jsonObject(query.value(10));
    record.settingsReadBack = jsonObject(query.value(11));
    record.settingsWritten = jsonObject(query.value(12));
    record.statistics = jsonObject(query.value(13));
    record.result = resultFromText(query.value(14).toString()).value_or(RunResult::Fail);
    record.reason = query.value(15).toString();
    record.durationMs = query.value(16).toLongLong();
    record.toolVersion = query.value(17).toString();
    return record;
}
