#include "ctloutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace {

QString compact(const QJsonDocument &document)
{
    return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
}

} // namespace

QString readingLine(const Reading &reading, bool json)
{
    return json ? compact(QJsonDocument(reading.json)) : reading.text;
}

QString watchLine(const QDateTime &time, const Reading &reading, bool json)
{
    const QString stamp = time.toUTC().toString(Qt::ISODateWithMs);
    if (!json)
        return stamp + QLatin1Char(',') + reading.text;
    QJsonObject object = reading.json;
    object.insert(QStringLiteral("time"), stamp);
    return compact(QJsonDocument(object));
}

QString portsListing(const QList<QSerialPortInfo> &ports, bool json)
{
    if (json) {
        QJsonArray array;
        for (const QSerialPortInfo &info : ports) {
            QJsonObject object;
            object.insert(QStringLiteral("port"), info.portName());
            object.insert(QStringLiteral("location"), info.systemLocation());
            object.insert(QStringLiteral("description"), info.description());
            object.insert(QStringLiteral("manufacturer"), info.manufacturer());
            array.append(object);
        }
        return compact(QJsonDocument(array));
    }
    QStringList lines;
    for (const QSerialPortInfo &info : ports) {
        QString line = info.portName();
        if (!info.description().isEmpty())
            line += QLatin1Char('\t') + info.description();
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}
