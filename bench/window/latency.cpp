// From a reply written at the pty to its value shown in the window, over
// 200 noise replies written at random moments of the poll period.
#include "commands.h"
#include "frame.h"
#include "mainwindow.h"
#include "pendingreplies.h"
#include "pseudoterminal.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTextEdit>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int replies = argc > 1 ? atoi(argv[1]) : 200;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    PseudoTerminal pty;
    MainWindow window;
    window.findChild<QComboBox *>(QStringLiteral("comboBoxCOM"))->setEditText(pty.slavePath());
    window.findChild<QPushButton *>(QStringLiteral("pushButtonOpen"))->click();
    auto *log = window.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    if (!window.isLinkOpen())
        return 1;

    QByteArray reply = QByteArray::fromHex("00040201c8");
    appendModbusCrc(reply);
    QRandomGenerator random(7);
    std::vector<double> latencies;
    for (int i = 0; i < replies; ++i) {
        log->clear();
        // A real query raises the flag and starts its deadline; its bytes
        // are read off the pty so that they do not pile up.
        window.findChild<QPushButton *>(QStringLiteral("pushButton_GetNoise"))->click();
        QTest::qWait(int(random.bounded(360)));
        pty.readAvailable();
        QElapsedTimer clock;
        clock.start();
        pty.write(reply);
        while (!log->toPlainText().contains(QStringLiteral("45.6")) && clock.elapsed() < 2000)
            app.processEvents(QEventLoop::WaitForMoreEvents, 1);
        latencies.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) { return latencies[size_t(q * (latencies.size() - 1))]; };
    std::printf("reply written at the pty to value shown, %d replies\n", replies);
    std::printf(
        "  p50: %6.1f ms   p99: %6.1f ms   max: %6.1f ms (poll period 360 ms; aim p99 < 400)\n",
        at(0.5), at(0.99), latencies.back());
    return 0;
}
