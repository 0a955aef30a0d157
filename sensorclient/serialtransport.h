// The sensor client's line on a real serial port (or a pseudo-terminal).
// Use it on the thread that made it, as QSerialPort requires.
#pragma once

#include "transport.h"

#include <QElapsedTimer>
#include <QSerialPort>

class SerialTransport : public Transport
{
  public:
    SerialTransport();

    bool open(const QString &name, qint32 baud, QString &error) override;
    void close() override;
    bool write(const QByteArray &bytes, int timeoutMs, QString &error) override;
    bool read(QByteArray &bytes, int timeoutMs, QString &error) override;
    void clearInput() override;
    qint64 nowUs() const override;
    void sleepUs(qint64 us) override;

  private:
    QSerialPort port_;
    QElapsedTimer clock_;
};
