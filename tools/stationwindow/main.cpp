// ktr450-station: the commissioning station as a window for line operators.
#include "catalogue.h"
#include "stationarguments.h"
#include "stationwindow.h"

#include <QApplication>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList out;
    for (int i = 1; i < argc; ++i)
        out << QString::fromLocal8Bit(argv[i]);
    return out;
}

void printError(const QString &message)
{
    std::fprintf(stderr, "ktr450-station: %s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    // The help text needs no display, so that it can be read (and the
    // manual page made) on a machine without one.
    if (asksForStationHelp(argumentsOf(argc, argv))) {
        std::fputs(parseStationArguments({QStringLiteral("--help")}).helpText.toLocal8Bit(),
                   stdout);
        return kExitSuccess;
    }
    // Qt takes its own options (-platform, -style, ...) off the line first.
    QApplication app(argc, argv);
    QTranslator translator;
    installCatalogue(translator);

    const StationArguments arguments = parseStationArguments(app.arguments().mid(1));
    if (!arguments.error.isEmpty()) {
        printError(arguments.error);
        return kExitUsage;
    }
    StationWindow window;
    if (arguments.complete()) {
        // Checked as the command checks it, before anything is sent.
        const CommissionStart start = prepareCommission(arguments.options);
        if (!start.ok()) {
            printError(start.error);
            return start.status;
        }
        window.startStation(arguments.options, arguments.link, start);
    } else {
        QTimer::singleShot(0, &window, [&window, &arguments] {
            window.chooseAndStart(arguments.options, arguments.link);
        });
    }
    if (arguments.options.once)
        QObject::connect(&window, &StationWindow::stationFinished, &app,
                         [](int status) { QCoreApplication::exit(status); });
    window.show();
    const int status = app.exec();
    return arguments.options.once ? status : window.exitStatus();
}
