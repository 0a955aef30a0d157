#include "line.h"

#include "pseudoterminal.h"
#include "serialline.h"

#include <QSerialPort>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

// Bytes kept for a pseudo-terminal that nobody reads; beyond this they are
// lost, as on a real line with nothing attached.
constexpr int kMaxPending = 64 * 1024;

} // namespace

PtyLine::PtyLine(QObject *parent) : Line(parent), pty_(new PseudoTerminal)
{
    if (!pty_->isValid())
        return;
    readNotifier_ = new QSocketNotifier(pty_->masterFd(), QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &PtyLine::readMaster);
    writeNotifier_ = new QSocketNotifier(pty_->masterFd(), QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &PtyLine::writePending);
}

PtyLine::~PtyLine() = default;

bool PtyLine::isValid() const
{
    return pty_->isValid();
}

QString PtyLine::errorString() const
{
    return pty_->errorString();
}

QString PtyLine::path() const
{
    return pty_->slavePath();
}

int PtyLine::lineBaud() const
{
    termios settings{};
    if (!pty_->isValid() || ::tcgetattr(pty_->masterFd(), &settings) != 0)
        return 0;
    switch (::cfgetospeed(&settings)) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

void PtyLine::readMaster()
{
    const QByteArray bytes = pty_->readAvailable();
    if (!bytes.isEmpty())
        emit received(bytes);
}

void PtyLine::send(const QByteArray &bytes)
{
    if (!pty_->isValid())
        return;
    if (pending_.size() + bytes.size() > kMaxPending) {
        if (!overflowReported_)
            std::fprintf(stderr, "ktr450-sim: nobody reads %s, bytes are lost\n",
                         qPrintable(path()));
        overflowReported_ = true;
        return;
    }
    overflowReported_ = false;
    pending_.append(bytes);
    writePending();
}

void PtyLine::writePending()
{
    while (!pending_.isEmpty()) {
        const ssize_t written =
            ::write(pty_->masterFd(), pending_.constData(), size_t(pending_.size()));
        if (written > 0) {
            pending_.remove(0, int(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: the slave's queue is full; wait until it drains
    }
    writeNotifier_->setEnabled(!pending_.isEmpty());
}

SerialLine::SerialLine(QObject *parent) : Line(parent), port_(new QSerialPort(this))
{
    connect(port_, &QSerialPort::readyRead, this, [this] { emit received(port_->readAll()); });
    // A port that goes away (an unplugged adapter) reports errors in a
    // stream; the first one ends the line.
    connect(port_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (failed_ || !port_->isOpen() ||
            (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
             error != QSerialPort::ResourceError))
            return;
        failed_ = true;
        // After a hang-up Qt's error text is often left over from an earlier
        // call, so the kind of error leads the message.
        const QString kind = error == QSerialPort::ReadError    ? QStringLiteral("cannot read")
                             : error == QSerialPort::WriteError ? QStringLiteral("cannot write")
                                                                : QStringLiteral("device gone");
        const QString reason =
            QStringLiteral("%1, closed or unplugged? (%2)").arg(kind, port_->errorString());
        port_->close();
        emit failed(reason);
    });
}

SerialLine::~SerialLine() = default;

bool SerialLine::open(const QString &name, int baud)
{
    const LineOpen opened = openLine(*port_, name, baud, error_);
    if (opened != LineOpen::Opened) {
        port_->close();
        return false;
    }
    port_->clear();
    return true;
}

QString SerialLine::path() const
{
    return port_->portName().startsWith(QLatin1Char('/'))
               ? port_->portName()
               : QStringLiteral("/dev/") + port_->portName();
}

int SerialLine::lineBaud() const
{
    return port_->isOpen() ? int(port_->baudRate()) : 0;
}

void SerialLine::send(const QByteArray &bytes)
{
    if (port_->isOpen())
        port_->write(bytes);
}
