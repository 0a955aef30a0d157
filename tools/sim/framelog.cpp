#include "framelog.h"

#include "frame.h"

#include <QTime>
#include <cstdio>

namespace framelog {

namespace {

bool enabled = true;

QString now()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

void writeLine(const QString &line)
{
    if (!enabled)
        return;
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

void frame(const char *direction, const QByteArray &bytes, const QString &note)
{
    QString line =
        QStringLiteral("%1 %2 %3").arg(QLatin1String(direction), now(), toHexText(bytes).trimmed());
    if (!note.isEmpty())
        line += QStringLiteral(" (%1)").arg(note);
    writeLine(line);
}

void message(const QString &text)
{
    writeLine(QStringLiteral("-- %1 %2").arg(now(), text));
}

void setEnabled(bool on)
{
    enabled = on;
}

} // namespace framelog
