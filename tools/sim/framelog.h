// The simulator's log on standard error: one line per frame received or sent,
// "RX 12:34:56.789 00 03 00 09 00 01 55 d9" with a note in parentheses when
// there is something to say about it, and plain lines for everything else.
#pragma once

#include <QByteArray>
#include <QString>

namespace framelog {

void frame(const char *direction, const QByteArray &bytes, const QString &note = QString());
void message(const QString &text);
// On by default; a program that runs the simulator inside itself may not
// want its log.
void setEnabled(bool enabled);

} // namespace framelog
