#include "runrecord.h"

#include <QJsonDocument>
#include <QSysInfo>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ");

QVariant optionalInt(const std::optional<int> &value)
{
    return value ? QVariant(*value) : QVariant();
}

std::optional<int> intOrNothing(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return value.toInt();
}

} // namespace

RunRecord newRunRecord()
{
    RunRecord record;
    record.runId = QUuid::createUuid();
    record.certificateNumber = record.runId.toString(QUuid::WithoutBraces);
    record.startedUtc = QDateTime::currentDateTimeUtc();
    record.station = QSysInfo::machineHostName();
    record.toolVersion = QStringLiteral(KTR450_VERSION);
    return record;
}

QString resultText(RunVerdict result)
{
    return result == RunVerdict::Pass ? QStringLiteral("pass") : QStringLiteral("fail");
}

std::optional<RunVerdict> resultFromText(const QString &text)
{
    if (text == QLatin1String("pass"))
        return RunVerdict::Pass;
    if (text == QLatin1String("fail"))
        return RunVerdict::Fail;
    return std::nullopt;
}

QString utcText(const QDateTime &time)
{
    return time.toUTC().toString(kTimeFormat);
}

QDateTime utcFromText(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, kTimeFormat);
    time.setTimeSpec(Qt::UTC);
    return time;
}

const QVector<RecordField> &recordFields()
{
    static const QVector<RecordField> fields = {
        {"run_id", RecordField::Text,
         [](const RunRecord &r) { return QVariant(r.runId.toString(QUuid::WithoutBraces)); },
         [](RunRecord &r, const QVariant &v) { r.runId = QUuid::fromString(v.toString()); }},
        {"started_utc", RecordField::Text,
         [](const RunRecord &r) { return QVariant(utcText(r.startedUtc)); },
         [](RunRecord &r, const QVariant &v) { r.startedUtc = utcFromText(v.toString()); }},
        {"station", RecordField::Text, [](const RunRecord &r) { return QVariant(r.station); },
         [](RunRecord &r, const QVariant &v) { r.station = v.toString(); }},
        {"operator", RecordField::Text, [](const RunRecord &r) { return QVariant(r.operatorName); },
         [](RunRecord &r, const QVariant &v) { r.operatorName = v.toString(); }},
        {"port", RecordField::Text, [](const RunRecord &r) { return QVariant(r.port); },
         [](RunRecord &r, const QVariant &v) { r.port = v.toString(); }},
        {"baud", RecordField::Integer, [](const RunRecord &r) { return QVariant(r.baud); },
         [](RunRecord &r, const QVariant &v) { r.baud = v.toInt(); }},
        {"address_before", RecordField::Address,
         [](const RunRecord &r) { return QVariant(optionalInt(r.addressBefore)); },
         [](RunRecord &r, const QVariant &v) { r.addressBefore = intOrNothing(v); }},
        {"address_after", RecordField::Address,
         [](const RunRecord &r) { return QVariant(optionalInt(r.addressAfter)); },
         [](RunRecord &r, const QVariant &v) { r.addressAfter = intOrNothing(v); }},
        {"serial_number", RecordField::Text,
         [](const RunRecord &r) { return QVariant(r.serialNumber); },
         [](RunRecord &r, const QVariant &v) { r.serialNumber = v.toString(); }},
        {"firmware", RecordField::Text, [](const RunRecord &r) { return QVariant(r.firmware); },
         [](RunRecord &r, const QVariant &v) { r.firmware = v.toString(); }},
        {"settings_asked", RecordField::Json,
         [](const RunRecord &r) { return QVariant(r.settingsAsked); },
         [](RunRecord &r, const QVariant &v) { r.settingsAsked = v.toJsonObject(); }},
        {"settings_read_back", RecordField::Json,
         [](const RunRecord &r) { return QVariant(r.settingsReadBack); },
         [](RunRecord &r, const QVariant &v) { r.settingsReadBack = v.toJsonObject(); }},
        {"settings_written", RecordField::Json,
         [](const RunRecord &r) { return QVariant(r.settingsWritten); },
         [](RunRecord &r, const QVariant &v) { r.settingsWritten = v.toJsonObject(); }},
        {"statistics", RecordField::Json, [](const RunRecord &r) { return QVariant(r.statistics); },
         [](RunRecord &r, const QVariant &v) { r.statistics = v.toJsonObject(); }},
        {"result", RecordField::Text,
         [](const RunRecord &r) { return QVariant(resultText(r.result)); },
         [](RunRecord &r, const QVariant &v) {
             r.result = resultFromText(v.toString()).value_or(RunVerdict::Fail);
         }},
        {"reason", RecordField::Text, [](const RunRecord &r) { return QVariant(r.reason); },
         [](RunRecord &r, const QVariant &v) { r.reason = v.toString(); }},
        {"duration_ms", RecordField::Integer,
         [](const RunRecord &r) { return QVariant(qlonglong(r.durationMs)); },
         [](RunRecord &r, const QVariant &v) { r.durationMs = v.toLongLong(); }},
        {"tool_version", RecordField::Text,
         [](const RunRecord &r) { return QVariant(r.toolVersion); },
         [](RunRecord &r, const QVariant &v) { r.toolVersion = v.toString(); }},
        // Added by schema version 3.
        {"certificate_number", RecordField::Text,
         [](const RunRecord &r) { return QVariant(r.certificateNumber); },
         [](RunRecord &r, const QVariant &v) { r.certificateNumber = v.toString(); }},
        {"reference_source", RecordField::Text,
         [](const RunRecord &r) { return QVariant(r.referenceSource); },
         [](RunRecord &r, const QVariant &v) { r.referenceSource = v.toString(); }},
    };
    return fields;
}

QString compactJsonText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString addressFieldText(const QVariant &value)
{
    return value.isNull() ? QString() : QString::number(value.toInt(), 16);
}

QVariant addressFieldValue(const QJsonValue &value)
{
    if (value.isDouble())
        return value.toInt();
    bool ok = false;
    const int address = value.toString().toInt(&ok, 16);
    return ok ? QVariant(address) : QVariant();
}

QJsonObject recordToJson(const RunRecord &record)
{
    QJsonObject json;
    for (const RecordField &field : recordFields()) {
        const QVariant value = field.get(record);
        json.insert(QLatin1String(field.name),
                    field.kind == RecordField::Address
                        ? (value.isNull() ? QJsonValue() : QJsonValue(addressFieldText(value)))
                        : QJsonValue::fromVariant(value));
    }
    return json;
}

std::optional<RunRecord> recordFromJson(const QJsonObject &json)
{
    RunRecord record;
    for (const RecordField &field : recordFields()) {
        const QJsonValue value = json.value(QLatin1String(field.name));
        switch (field.kind) {
        case RecordField::Text:
            field.set(record, value.toString());
            break;
        case RecordField::Integer:
            field.set(record, qlonglong(value.toDouble()));
            break;
        case RecordField::Address:
            field.set(record, addressFieldValue(value));
            break;
        case RecordField::Json:
            field.set(record, value.toObject());
            break;
        }
    }
    // Records spooled before certificates were numbered take their run id.
    if (record.certificateNumber.isEmpty())
        record.certificateNumber = record.runId.toString(QUuid::WithoutBraces);
    if (record.runId.isNull() || !record.startedUtc.isValid() ||
        !resultFromText(json.value(QStringLiteral("result")).toString()))
        return std::nullopt;
    return record;
}
