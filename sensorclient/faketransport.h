// An in-memory line for tests of the client and of what is built on it: a
// responder scripts what comes back for each request written (pieces, each
// at its own time), and the line can refuse to open or fail. Its clock is
// virtual: a wait moves it on at once to the next arrival or to the end of
// the wait, so timeouts and retries take no real time.
#pragma once

#include "transport.h"

#include <QVector>
#include <functional>

class FakeTransport : public Transport
{
  public:
    // Bytes the far end sends `afterMs` after the request has been written.
    struct Piece {
        int afterMs = 0;
        QByteArray bytes;
    };
    using Responder = std::function<QVector<Piece>(const QByteArray &request)>;

    void setResponder(Responder responder) { responder_ = std::move(responder); }
    // Opening fails with `error`; an empty text lets it open again.
    void refuseOpen(const QString &error) { openError_ = error; }
    // Every write and read after the next `writes` writes fails: the line is
    // gone (an adapter unplugged).
    void failAfterWrites(int writes) { writesLeft_ = writes; }

    // Every frame written, in order.
    const QVector<QByteArray> &written() const { return written_; }
    bool isOpen() const { return open_; }

    bool open(const QString &name, qint32 baud, QString &error) override;
    void close() override;
    bool write(const QByteArray &bytes, int timeoutMs, QString &error) override;
    bool read(QByteArray &bytes, int timeoutMs, QString &error) override;
    void clearInput() override;
    qint64 nowUs() const override { return nowUs_; }
    void sleepUs(qint64 us) override;

  private:
    struct Arrival {
        qint64 atUs;
        QByteArray bytes;
    };
    bool lineLost(QString &error) const;
    QByteArray takeArrived();

    Responder responder_;
    QString openError_;
    int writesLeft_ = -1; // -1: the line never fails
    bool open_ = false;
    qint64 nowUs_ = 0;
    QVector<Arrival> pending_; // in order of arrival
    QVector<QByteArray> written_;
};
