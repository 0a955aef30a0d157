// ktr450ctl: the sensor's commands from a terminal, for scripts and
// production lines.
#include "commandline.h"
#include "exitstatus.h"
#include "serialtransport.h"

#include <QApplication>
#include <QCoreApplication>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

std::atomic<bool> stopRequested{false};

void requestStop(int)
{
    stopRequested.store(true);
}

Output::Sink writeTo(FILE *stream)
{
    return [stream](const QByteArray &bytes) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
        std::fflush(stream);
    };
}

// Whether the command line asks for a chart or a certificate: those need a
// QApplication (Qt Charts draws through the graphics view), which must exist
// before the arguments are parsed into their final form.
bool argumentsAskForRendering(int argc, char *const argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"--pdf", "--svg", "--png"}) {
            const size_t length = std::strlen(option);
            if (std::strncmp(argv[i], option, length) == 0 &&
                (argv[i][length] == '\0' || argv[i][length] == '='))
                return true;
        }
    }
    return false;
}

QtMessageHandler qtDefaultHandler = nullptr;

// Without a login session (a service, ssh, a CI job) XDG_RUNTIME_DIR is
// unset and Qt, falling back to a folder of its own, says so on standard
// error while a certificate is drawn. The fallback works; the line only
// alarms whoever reads the tool's errors, so that one line is dropped.
void dropRuntimeDirNotice(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg &&
        message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    qtDefaultHandler(type, context, message);
}

// Only the commands that write a chart get a QApplication, on the offscreen
// platform unless one was chosen explicitly: a production line or a CI
// machine has no display, and none is needed.
std::unique_ptr<QCoreApplication> makeApplication(int &argc, char *argv[])
{
    if (!argumentsAskForRendering(argc, argv))
        return std::make_unique<QCoreApplication>(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qtDefaultHandler = qInstallMessageHandler(dropRuntimeDirNotice);
    return std::make_unique<QApplication>(argc, argv);
}

} // namespace

int main(int argc, char *argv[])
{
    const std::unique_ptr<QCoreApplication> app = makeApplication(argc, argv);
    const ParseOutcome parsed = parseInvocation(QCoreApplication::arguments().mid(1));
    const Invocation &inv = parsed.invocation;
    Output out(inv.json, writeTo(stdout), writeTo(stderr), isatty(STDOUT_FILENO) != 0,
               isatty(STDERR_FILENO) != 0);
    if (!parsed.ok) {
        out.error(parsed.error);
        return kExitUsage;
    }
    if (inv.help) {
        out.raw(inv.helpText.toUtf8());
        return kExitSuccess;
    }
    Session session{inv.link,
                    inv.verbose,
                    out,
                    stopRequested,
                    [] {
                        std::signal(SIGINT, requestStop);
                        std::signal(SIGTERM, requestStop);
                    },
                    [] { return std::make_unique<SerialTransport>(); },
                    QStringLiteral(KTR450_VERSION)};
    return inv.run(session);
}
