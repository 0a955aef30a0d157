#include "historyformat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

QString fieldText(const RecordField &field, const RunRecord &record)
{
    const QVariant value = field.get(record);
    switch (field.kind) {
    case RecordField::Address:
        return addressFieldText(value);
    case RecordField::Json:
        return compactJsonText(value.toJsonObject());
    case RecordField::Text:
    case RecordField::Integer:
        break;
    }
    return value.toString();
}

namespace {

// RFC 4180: a field with a comma, quote or line break is quoted, with inner
// quotes doubled. A leading =, +, - or @ would make a spreadsheet evaluate
// a typed-in name as a formula, so such a field gets a leading quote mark.
QString csvField(QString text)
{
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.front()) &&
        !(text.front() == QLatin1Char('-') && text.size() > 1 && text.at(1).isDigit()))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
        text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    return text;
}

QString csv(const QVector<RunRecord> &records)
{
    QStringList header;
    for (const RecordField &field : recordFields())
        header << QLatin1String(field.name);
    QString out = header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const RunRecord &record : records) {
        QStringList fields;
        for (const RecordField &field : recordFields())
            fields << csvField(fieldText(field, record));
        out += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out;
}

// One line a run: time, result, serial number, port, station, operator,
// seconds taken and, on a failure, the reason.
QString textLine(const RunRecord &r)
{
    QString line =
        QStringLiteral("%1  %2  %3  %4  %5  %6  %7 s")
            .arg(utcText(r.startedUtc), resultText(r.result).toUpper(),
                 r.serialNumber.isEmpty() ? QStringLiteral("-") : r.serialNumber, r.port, r.station,
                 r.operatorName.isEmpty() ? QStringLiteral("-") : r.operatorName)
            .arg(double(r.durationMs) / 1000.0, 0, 'f', 1);
    if (!r.reason.isEmpty())
        line += QStringLiteral("  ") + r.reason;
    return line + QLatin1Char('\n');
}

} // namespace

QString formatHistory(const QVector<RunRecord> &records, HistoryFormat format)
{
    switch (format) {
    case HistoryFormat::Csv:
        return csv(records);
    case HistoryFormat::Json: {
        QJsonArray array;
        for (const RunRecord &record : records)
            array.append(recordToJson(record));
        return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    }
    case HistoryFormat::Text:
        break;
    }
    QString out;
    for (const RunRecord &record : records)
        out += textLine(record);
    return out;
}
