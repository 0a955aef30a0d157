#include "runrecord.h"

#include <QSysInfo>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ");

QJsonValue optionalInt(const std::optional<int> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

std::optional<int> intOrNothing(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    return value.toInt();
}

} // namespace

RunRecord newRunRecord()
{
    RunRecord record;
    record.runId = QUuid::createUuid();
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

QJsonObject recordToJson(const RunRecord &record)
{
    return QJsonObject{
        {QStringLiteral("run_id"), record.runId.toString(QUuid::WithoutBraces)},
        {QStringLiteral("started_utc"), utcText(record.startedUtc)},
        {QStringLiteral("station"), record.station},
        {QStringLiteral("operator"), record.operatorName},
        {QStringLiteral("port"), record.port},
        {QStringLiteral("baud"), record.baud},
        {QStringLiteral("address_before"), optionalInt(record.addressBefore)},
        {QStringLiteral("address_after"), optionalInt(record.addressAfter)},
        {QStringLiteral("serial_number"), record.serialNumber},
        {QStringLiteral("firmware"), record.firmware},
        {QStringLiteral("settings_asked"), record.settingsAsked},
        {QStringLiteral("settings_read_back"), record.settingsReadBack},
        {QStringLiteral("settings_written"), record.settingsWritten},
        {QStringLiteral("statistics"), record.statistics},
        {QStringLiteral("result"), resultText(record.result)},
        {QStringLiteral("reason"), record.reason},
        {QStringLiteral("duration_ms"), record.durationMs},
        {QStringLiteral("tool_version"), record.toolVersion},
    };
}

std::optional<RunRecord> recordFromJson(const QJsonObject &json)
{
    RunRecord record;
    record.runId = QUuid::fromString(json.value(QStringLiteral("run_id")).toString());
    record.startedUtc = utcFromText(json.value(QStringLiteral("started_utc")).toString());
    const std::optional<RunVerdict> result =
        resultFromText(json.value(QStringLiteral("result")).toString());
    if (record.runId.isNull() || !record.startedUtc.isValid() || !result)
        return std::nullopt;
    record.result = *result;
    record.station = json.value(QStringLiteral("station")).toString();
    record.operatorName = json.value(QStringLiteral("operator")).toString();
    record.port = json.value(QStringLiteral("port")).toString();
    record.baud = json.value(QStringLiteral("baud")).toInt();
    record.addressBefore = intOrNothing(json.value(QStringLiteral("address_before")));
    record.addressAfter = intOrNothing(json.value(QStringLiteral("address_after")));
    record.serialNumber = json.value(QStringLiteral("serial_number")).toString();
    record.firmware = json.value(QStringLiteral("firmware")).toString();
    record.settingsAsked = json.value(QStringLiteral("settings_asked")).toObject();
    record.settingsReadBack = json.value(QStringLiteral("settings_read_back")).toObject();
    record.settingsWritten = json.value(QStringLiteral("settings_written")).toObject();
    record.statistics = json.value(QStringLiteral("statistics")).toObject();
    record.reason = json.value(QStringLiteral("reason")).toString();
    record.durationMs = qint64(json.value(QStringLiteral("duration_ms")).toDouble());
    record.toolVersion = json.value(QStringLiteral("tool_version")).toString();
    return record;
}
