// CPU time and peak memory of the window with its link open on a silent
// pseudo-terminal, over 10 s of polling.
#include "mainwindow.h"
#include "pseudoterminal.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 10;
    PseudoTerminal pty;
    MainWindow window;
    window.show();
    window.findChild<QComboBox *>(QStringLiteral("comboBoxCOM"))->setEditText(pty.slavePath());
    window.findChild<QPushButton *>(QStringLiteral("pushButtonOpen"))->click();
    if (!window.isLinkOpen()) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(pty.slavePath()));
        return 1;
    }
    app.processEvents();
    const double before = cpuSeconds();
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    app.exec();
    const double used = cpuSeconds() - before;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("idle with the link open on a silent pty, %d s\n", seconds);
    std::printf("  CPU time   : %.3f s = %.3f%% of one core (aim: under 0.5%%)\n", used,
                100.0 * used / seconds);
    std::printf("  peak memory: %.1f MiB (max RSS)\n", usage.ru_maxrss / 1024.0);
    return 0;
}
