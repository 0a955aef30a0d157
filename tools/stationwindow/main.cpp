// ktr450-station: the commissioning station as a window for line operators.
#include "catalogue.h"
#include "stationarguments.h"
#include "stationwindow.h"

#include <QApplication>
#include <QTimer>
#include <QTranslator>
#include <algorithm>
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

// Qt's own options are one dash and a word (-platform, -style, ...).
bool namesQtOption(const QStringList &arguments)
{
    return std::any_of(arguments.cbegin(), arguments.cend(), [](const QString &arg) {
        return arg.size() > 2 && arg[0] == QLatin1Char('-') && arg[1] != QLatin1Char('-');
    });
}

} // namespace

int main(int argc, char *argv[])
{
    // The help text needs no display, so that it can be read (and the
    // manual page made) on a machine without one.
    const QStringList given = argumentsOf(argc, argv);
    if (asksForStationHelp(given)) {
        std::fputs(parseStationArguments({QStringLiteral("--help")}).helpText.toLocal8Bit(),
                   stdout);
        return kExitSuccess;
    }
    // A refused line, profile or database URL is said before Qt looks for a
    // display, so that a script on a machine without one gets the reason
    // and status 1 rather than Qt's abort. A line naming one of Qt's
    // options is read once Qt has taken them off.
    if (!namesQtOption(given)) {
        const StationArguments early = parseStationArguments(given);
        CommissionStart checked;
        if (early.error.isEmpty() && early.complete())
            checked = prepareCommission(early.options);
        if (!early.error.isEmpty() || !checked.ok()) {
            printError(early.error.isEmpty() ? checked.error : early.error);
            return early.error.isEmpty() ? checked.status : kExitUsage;
        }
    }
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
        if (!start.warning.isEmpty())
            printError(start.warning);
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
