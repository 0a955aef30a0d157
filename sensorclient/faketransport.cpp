#include "faketransport.h"

#include <algorithm>

bool FakeTransport::open(const QString &name, qint32, QString &error)
{
    if (!openError_.isEmpty()) {
        error = openError_;
        return false;
    }
    open_ = !name.isEmpty();
    if (!open_)
        error = QStringLiteral("no port name");
    return open_;
}

void FakeTransport::close()
{
    open_ = false;
    pending_.clear();
}

bool FakeTransport::lineLost(QString &error) const
{
    if (open_ && writesLeft_ != 0)
        return false;
    error = open_ ? QStringLiteral("Input/output error") : QStringLiteral("the port is not open");
    return true;
}

bool FakeTransport::write(const QByteArray &bytes, int, QString &error)
{
    if (lineLost(error))
        return false;
    if (writesLeft_ > 0)
        --writesLeft_;
    written_ << bytes;
    if (!responder_)
        return true;
    for (const Piece &piece : responder_(bytes))
        pending_ << Arrival{nowUs_ + qint64(piece.afterMs) * 1000, piece.bytes};
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const Arrival &a, const Arrival &b) { return a.atUs < b.atUs; });
    return true;
}

QByteArray FakeTransport::takeArrived()
{
    QByteArray bytes;
    while (!pending_.isEmpty() && pending_.front().atUs <= nowUs_)
        bytes += pending_.takeFirst().bytes;
    return bytes;
}

bool FakeTransport::read(QByteArray &bytes, int timeoutMs, QString &error)
{
    if (lineLost(error))
        return false;
    bytes = takeArrived();
    if (!bytes.isEmpty())
        return true;
    const qint64 untilUs = nowUs_ + qint64(timeoutMs) * 1000;
    nowUs_ = pending_.isEmpty() ? untilUs : std::min(untilUs, pending_.front().atUs);
    bytes = takeArrived();
    return true;
}

void FakeTransport::clearInput()
{
    takeArrived();
}

void FakeTransport::sleepUs(qint64 us)
{
    nowUs_ += std::max<qint64>(0, us);
}
