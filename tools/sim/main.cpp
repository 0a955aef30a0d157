// ktr450-sim: a KTR450 sensor on a pseudo-terminal or a serial port.
// Run with --help for the full description.
#include "framelog.h"
#include "line.h"
#include "options.h"
#include "simulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    (void)ignored;
}

void fail(const QString &text)
{
    std::fprintf(stderr, "ktr450-sim: %s\n", text.toLocal8Bit().constData());
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Interrupts end the event loop, so that the link is removed on the way out.
bool catchInterrupts(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte = 0;
        const ssize_t ignored = ::read(signalPipe[0], &byte, 1);
        (void)ignored;
        framelog::message(QStringLiteral("interrupted, stopping"));
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Started in the background of a shell, reading the terminal must fail
    // (and end the command reading) instead of stopping the simulator.
    std::signal(SIGTTIN, SIG_IGN);
    return true;
}

// Runs every complete line that standard input holds as a control command.
// End of input, or a terminal it may not read, stops the reading.
void takeCommands(QSocketNotifier *notifier, QByteArray &pending, Simulator &simulator)
{
    char buffer[1024];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
        if (got == 0 || (errno != EINTR && errno != EAGAIN))
            notifier->setEnabled(false);
        return;
    }
    pending.append(buffer, int(got));
    int end = 0;
    while ((end = pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(pending.left(end));
        pending.remove(0, end + 1);
        const QString reply = simulator.command(line);
        if (!reply.isEmpty())
            framelog::message(reply);
    }
    if (pending.size() > 4096) // no line end in sight: not a command
        pending.clear();
}

void readCommands(QCoreApplication &app, Simulator &simulator)
{
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    auto pending = std::make_shared<QByteArray>();
    QObject::connect(
        notifier, &QSocketNotifier::activated, &simulator,
        [notifier, pending, &simulator] { takeCommands(notifier, *pending, simulator); });
}

bool createLink(const QString &linkPath, const QString &target)
{
    const QByteArray path = QFile::encodeName(linkPath);
    // A link left behind by an earlier run is replaced; anything else stays.
    if (QFileInfo(linkPath).isSymLink()) {
        if (::unlink(path.constData()) != 0) {
            fail(QStringLiteral("cannot replace the link %1: %2").arg(linkPath, systemError()));
            return false;
        }
    }
    if (::symlink(QFile::encodeName(target).constData(), path.constData()) != 0) {
        fail(QStringLiteral("cannot create the link %1: %2").arg(linkPath, systemError()));
        return false;
    }
    return true;
}

void removeLink(const QString &linkPath, const QString &target)
{
    const QByteArray path = QFile::encodeName(linkPath);
    char buffer[4096];
    const ssize_t length = ::readlink(path.constData(), buffer, sizeof buffer - 1);
    if (length > 0 && QFile::encodeName(target) == QByteArray(buffer, int(length)))
        ::unlink(path.constData());
}

// A standard descriptor that was closed at start would be taken by the next
// file opened, the pseudo-terminal perhaps, and log lines would go to the line.
void keepStandardDescriptors()
{
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) < 0)
            ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    keepStandardDescriptors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ktr450-sim"));

    SimOptions options;
    QString message;
    bool helpRequested = false;
    if (!parseSimOptions(app.arguments(), options, message, helpRequested)) {
        if (helpRequested) {
            std::fputs(message.toLocal8Bit().constData(), stdout);
            return 0;
        }
        fail(message);
        std::fprintf(stderr, "Try 'ktr450-sim --help'.\n");
        return 2;
    }
    if (!options.seedGiven)
        options.seed = QRandomGenerator::global()->generate();

    std::unique_ptr<Line> line;
    if (options.portName.isEmpty()) {
        auto pty = std::make_unique<PtyLine>();
        if (!pty->isValid()) {
            fail(QStringLiteral("cannot create a pseudo-terminal: %1").arg(pty->errorString()));
            return 1;
        }
        line = std::move(pty);
    } else {
        auto serial = std::make_unique<SerialLine>();
        if (!serial->open(options.portName, options.realism.baud)) {
            fail(QStringLiteral("cannot open port %1: %2")
                     .arg(options.portName, serial->errorString()));
            return 1;
        }
        line = std::move(serial);
    }
    if (!options.linkPath.isEmpty() && !createLink(options.linkPath, line->path()))
        return 1;
    if (!catchInterrupts(app)) {
        fail(QStringLiteral("cannot catch interrupts: %1").arg(systemError()));
        if (!options.linkPath.isEmpty())
            removeLink(options.linkPath, line->path());
        return 1;
    }

    std::fprintf(stdout, "%s\n", line->path().toLocal8Bit().constData());
    std::fflush(stdout);

    Simulator simulator(line.get(), options);
    int status = 0;
    QObject::connect(&simulator, &Simulator::quitRequested, &app, &QCoreApplication::quit);
    const QString path = line->path();
    QObject::connect(line.get(), &Line::failed, &app, [&app, &status, path](const QString &reason) {
        fail(QStringLiteral("the serial port %1 failed: %2").arg(path, reason));
        status = 1;
        app.quit();
    });
    readCommands(app, simulator);

    framelog::message(QStringLiteral("serving %1 at %2 baud%3, seed %4")
                          .arg(line->path())
                          .arg(options.realism.baud)
                          .arg(options.linkPath.isEmpty()
                                   ? QString()
                                   : QStringLiteral(", linked from %1").arg(options.linkPath))
                          .arg(options.seed));
    framelog::message(simulator.stateText());

    const int loopStatus = app.exec();
    if (!options.linkPath.isEmpty())
        removeLink(options.linkPath, line->path());
    return status != 0 ? status : loopStatus;
}
