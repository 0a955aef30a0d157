#include "runstable.h"

#include "sqlconnection.h"

#include <QJsonDocument>
#include <QSqlError>
#include <QVariant>

namespace {

// A field's value as it is bound: texts never as SQL NULL (a null QString
// would bind as one; an empty text is not a missing one), JSON as compact
// text.
QVariant sqlValue(const RecordField &field, const RunRecord &record)
{
    const QVariant value = field.get(record);
    switch (field.kind) {
    case RecordField::Text:
        return value.isNull() ? QVariant(QLatin1String("")) : value;
    case RecordField::Json:
        return compactJsonText(value.toJsonObject());
    case RecordField::Address:
        return value.isNull() ? QVariant(QVariant::Int) : value;
    case RecordField::Integer:
        break;
    }
    return value;
}

QVariant fromSql(const RecordField &field, const QVariant &value)
{
    switch (field.kind) {
    case RecordField::Json:
        return QJsonDocument::fromJson(value.toString().toUtf8()).object();
    case RecordField::Address:
        return value.isNull() ? QVariant() : QVariant(value.toInt());
    case RecordField::Text:
    case RecordField::Integer:
        break;
    }
    return value;
}

} // namespace

QString recordColumns()
{
    QStringList names;
    for (const RecordField &field : recordFields())
        names << QLatin1String(field.name);
    return names.join(QStringLiteral(", "));
}

bool insertRecord(QSqlDatabase db, const RunRecord &record, QString &error)
{
    if (!db.transaction()) {
        error = sqlErrorText(db.lastError());
        return false;
    }
    QVariantList values;
    QStringList placeholders;
    for (const RecordField &field : recordFields()) {
        values << sqlValue(field, record);
        placeholders << QStringLiteral("?");
    }
    QSqlQuery query(db);
    const bool inserted = execBound(
        query,
        QStringLiteral("INSERT INTO runs (%1) VALUES (%2) ON CONFLICT (run_id) DO NOTHING")
            .arg(recordColumns(), placeholders.join(QStringLiteral(", "))),
        values);
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
    const QVector<RecordField> &fields = recordFields();
    for (int i = 0; i < fields.size(); ++i)
        fields[i].set(record, fromSql(fields[i], query.value(i)));
    return record;
}
