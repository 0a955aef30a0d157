#include "stationoutput.h"

namespace {
const char *const kCursorUp = "\033[%1A";
const char *const kClearBelow = "\r\033[J";
} // namespace

StationOutput::StationOutput(const QStringList &ports, bool terminal,
                             std::function<void(const QByteArray &)> write)
    : ports_(ports), terminal_(terminal), write_(std::move(write))
{
    for (int i = 0; i < ports_.size(); ++i)
        status_ << QStringLiteral("starting");
}

void StationOutput::setStatus(int fixture, const QString &text)
{
    if (fixture < 0 || fixture >= status_.size() || status_[fixture] == text)
        return;
    status_[fixture] = text;
    if (!terminal_)
        return;
    eraseStatus();
    drawStatus();
}

void StationOutput::print(const QString &line)
{
    eraseStatus();
    write_(line.toUtf8() + '\n');
    drawStatus();
}

void StationOutput::eraseStatus()
{
    if (!terminal_ || drawn_ == 0)
        return;
    write_(QString::fromLatin1(kCursorUp).arg(drawn_).toLatin1() + kClearBelow);
    drawn_ = 0;
}

void StationOutput::drawStatus()
{
    if (!terminal_)
        return;
    QByteArray block;
    for (int i = 0; i < ports_.size(); ++i)
        block += QStringLiteral("%1: %2\n").arg(ports_[i], status_[i]).toUtf8();
    write_(block);
    drawn_ = ports_.size();
}
