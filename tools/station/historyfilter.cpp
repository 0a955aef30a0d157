#include "historyfilter.h"

std::optional<QDateTime> parseSince(const QString &text)
{
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid() && text.size() == 10)
        return QDateTime(date, QTime(0, 0), Qt::UTC);
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid() || !text.contains(QLatin1Char('T')))
        return std::nullopt;
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeSpec(Qt::UTC);
    return time.toUTC();
}
