// The line under the sensor client: a serial port in use, an in-memory
// fake in tests. Blocking calls, for a program with no event loop to keep
// alive; the clock is the line's own, so that a fake line keeps its own time.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class Transport
{
  public:
    virtual ~Transport() = default;

    // Opens the line at `baud`, 8 data bits, no parity, one stop bit, no
    // flow control. False with `error` set to the reason.
    virtual bool open(const QString &name, qint32 baud, QString &error) = 0;
    virtual void close() = 0;

    // Writes `bytes` and waits up to `timeoutMs` until they have left. False
    // with `error` set when the line failed.
    virtual bool write(const QByteArray &bytes, int timeoutMs, QString &error) = 0;
    // What has arrived; when nothing has, waits up to `timeoutMs` for bytes.
    // Empty when none came. False with `error` set when the line failed.
    virtual bool read(QByteArray &bytes, int timeoutMs, QString &error) = 0;
    // Drops what has arrived and was not read.
    virtual void clearInput() = 0;

    // Microseconds on the line's clock, and a wait on it.
    virtual qint64 nowUs() const = 0;
    virtual void sleepUs(qint64 us) = 0;
};
