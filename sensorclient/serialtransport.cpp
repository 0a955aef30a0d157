#include "serialtransport.h"

#include "serialline.h"

#include <chrono>
#include <thread>

SerialTransport::SerialTransport()
{
    clock_.start();
}

bool SerialTransport::open(const QString &name, qint32 baud, QString &error)
{
    if (openLine(port_, name, baud, error) == LineOpen::Opened)
        return true;
    port_.close();
    return false;
}

void SerialTransport::close()
{
    port_.close();
}

bool SerialTransport::write(const QByteArray &bytes, int timeoutMs, QString &error)
{
    if (port_.write(bytes) == bytes.size() && port_.waitForBytesWritten(timeoutMs))
        return true;
    error = port_.errorString();
    return false;
}

bool SerialTransport::read(QByteArray &bytes, int timeoutMs, QString &error)
{
    bytes = port_.readAll();
    if (!bytes.isEmpty())
        return true;
    if (port_.waitForReadyRead(timeoutMs)) {
        bytes = port_.readAll();
        return true;
    }
    // Waiting out the time without bytes is no failure of the port.
    if (port_.error() == QSerialPort::TimeoutError || port_.error() == QSerialPort::NoError) {
        port_.clearError();
        return true;
    }
    error = port_.errorString();
    return false;
}

void SerialTransport::clearInput()
{
    port_.clear(QSerialPort::Input);
}

qint64 SerialTransport::nowUs() const
{
    return clock_.nsecsElapsed() / 1000;
}

void SerialTransport::sleepUs(qint64 us)
{
    if (us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}
