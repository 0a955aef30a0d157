#include "output.h"

#include <QJsonDocument>

Output::Output(bool json, Sink out, Sink err, bool outIsTerminal, bool errIsTerminal)
    : json_(json), out_(std::move(out)), err_(std::move(err)), outIsTerminal_(outIsTerminal),
      errIsTerminal_(errIsTerminal)
{
}

QString Output::compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void Output::result(const QString &text, const QJsonObject &object)
{
    line(json_ ? compact(object) : text);
}

void Output::line(const QString &text)
{
    out_(text.toUtf8() + '\n');
}

void Output::error(const QString &message)
{
    err_(QStringLiteral("ktr450ctl: %1\n").arg(message).toUtf8());
}
