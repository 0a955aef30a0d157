#include "readingrecord.h"

bool ReadingRecord::open(const QString &path, QString &error)
{
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file_.errorString());
        return false;
    }
    return writeLine("time,level_db\n", error);
}

bool ReadingRecord::append(const QDateTime &time, double level, QString &error)
{
    const QString line = QStringLiteral("%1,%2\n")
                             .arg(time.toUTC().toString(Qt::ISODateWithMs))
                             .arg(QString::number(level, 'f', 1));
    return writeLine(line.toUtf8(), error);
}

bool ReadingRecord::writeLine(const QByteArray &line, QString &error)
{
    if (file_.write(line) != line.size() || !file_.flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(file_.fileName(), file_.errorString());
        file_.close();
        return false;
    }
    return true;
}
