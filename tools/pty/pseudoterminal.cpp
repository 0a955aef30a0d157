#include "pseudoterminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

qint64 nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    masterFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (masterFd_ < 0) {
        error_ = systemError("posix_openpt");
        return;
    }
    if (grantpt(masterFd_) != 0 || unlockpt(masterFd_) != 0) {
        error_ = systemError("grantpt/unlockpt");
        closeMaster();
        return;
    }
    const char *name = ptsname(masterFd_);
    if (!name) {
        error_ = systemError("ptsname");
        closeMaster();
        return;
    }
    slavePath_ = QString::fromLocal8Bit(name);
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slaveFd_ < 0) {
        error_ = systemError("open slave");
        closeMaster();
        return;
    }
    // Raw from the start: no echo and no line editing, whatever opens it later.
    termios tio{};
    if (tcgetattr(slaveFd_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slaveFd_, TCSANOW, &tio);
    }
}

PseudoTerminal::~PseudoTerminal()
{
    releaseSlave();
    closeMaster();
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    const qint64 deadline = nowMs() + 2000;
    while (left > 0 && masterFd_ >= 0) {
        const ssize_t written = ::write(masterFd_, data, size_t(left));
        if (written > 0) {
            data += written;
            left -= written;
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (nowMs() > deadline)
            return false;
        pollfd pfd{masterFd_, POLLOUT, 0};
        poll(&pfd, 1, 10);
    }
    return left == 0;
}

QByteArray PseudoTerminal::readAvailable()
{
    QByteArray out;
    if (masterFd_ < 0)
        return out;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(masterFd_, buffer, sizeof buffer);
        if (got > 0) {
            out.append(buffer, int(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: nothing more for now; EIO: no slave open
    }
    return out;
}

QByteArray PseudoTerminal::read(int count, int timeoutMs)
{
    QByteArray out = readAvailable();
    const qint64 deadline = nowMs() + timeoutMs;
    while (out.size() < count && masterFd_ >= 0) {
        const qint64 left = deadline - nowMs();
        if (left <= 0)
            break;
        pollfd pfd{masterFd_, POLLIN, 0};
        poll(&pfd, 1, int(qMin<qint64>(left, 20)));
        out += readAvailable();
    }
    return out;
}

int PseudoTerminal::unreadBySlave() const
{
    int pending = 0;
    if (slaveFd_ < 0 || ::ioctl(slaveFd_, FIONREAD, &pending) != 0)
        return -1;
    return pending;
}

void PseudoTerminal::releaseSlave()
{
    if (slaveFd_ >= 0) {
        ::close(slaveFd_);
        slaveFd_ = -1;
    }
}

void PseudoTerminal::closeMaster()
{
    if (masterFd_ >= 0) {
        ::close(masterFd_);
        masterFd_ = -1;
    }
}
