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

QVariantList recordValues(const RunRecord &record)
{
    return {
        record.runId.toString(QUuid::WithoutBraces),
        utcText(record.startedUtc),
        text(record.station),
        text(record.operatorName),
        text(record.port),
        record.baud,
        optionalInt(record.addressBefore),
        optionalInt(record.addressAfter),
        text(record.serialNumber),
        text(record.firmware),
        jsonText(record.settingsAsked),
        jsonText(record.settingsReadBack),
        jsonText(record.settingsWritten),
        jsonText(record.statistics),
        resultText(record.result),
        text(record.reason),
        qlonglong(record.durationMs),
        text(record.toolVersion),
    };
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
    const bool inserted =
        execBound(query,
                  QStringLiteral("INSERT INTO runs (%1) VALUES "
                                 "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                 "ON CONFLICT (run_id) DO NOTHING")
                      .arg(recordColumns()),
                  recordValues(record));
    if (!inserted) {
        error = sqlErrorText(query.lastError());
        query.finish();
        // A failed rollback leaves nothing more to undo: the caller drops
        // the connection after any failed write.
        // cppcheck-suppress ignoredReturnErrorCode
        db.rollback();
        return false;
    }
    query.finish();
    if (!db.commit()) {
        error = sqlErrorText(db.lastError());
        // cppcheck-suppress ignoredReturnErrorCode
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
    record.result = resultFromText(query.value(14).toString()).value_or(RunVerdict::Fail);
    record.reason = query.value(15).toString();
    record.durationMs = query.value(16).toLongLong();
    record.toolVersion = query.value(17).toString();
    return record;
}
