// The window as it starts, and its serial link over a real pseudo-terminal.
#include "windowtest.h"

#include <QMenu>
#include <QMenuBar>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTabWidget>

class WindowLinkTest : public QObject
{
    Q_OBJECT

  private slots:
    void startsClosedWithTheShippedForm();
    void portSelectorListsSystemPortsAndAcceptsTypedNames();
    void openAndCloseOverPty();
    void reopeningNeverRunsTwoPollTimers();
    void refreshWhileOpenKeepsTheLink();
    void portThatCannotBeOpenedLeavesTheLinkClosed();
    void lostPortClosesTheLinkOnce();
    void destructorClosesAnOpenLink();
    void clearLogEmptiesOnlyTheLog();
    void aboutBoxShowsFourLines();
};

void WindowLinkTest::startsClosedWithTheShippedForm()
{
    MainWindow window;
    QVERIFY(!window.isLinkOpen());
    QVERIFY(widget<QPushButton>(&window, "pushButtonOpen")->isEnabled());
    QVERIFY(!widget<QPushButton>(&window, "pushButtonClose")->isEnabled());
    QCOMPARE(timerCount(&window), 0);
    QCOMPARE(window.windowTitle(), QString::fromUtf8("KTR450配置软件"));
    // Nothing moves with the window, so it never gets smaller than designed.
    QCOMPARE(window.minimumSize(), QSize(1197, 795));

    auto *tabs = widget<QTabWidget>(&window, "tabWidget");
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(0), QString::fromUtf8("基本信息"));
    QCOMPARE(tabs->tabText(1), QString::fromUtf8("地址设置"));
    QCOMPARE(tabs->tabText(2), QString::fromUtf8("校准"));
    QCOMPARE(
        tabs->styleSheet(),
        QStringLiteral("QTabWidget:pane {border:1px solid #205B7B;background:  transparent; }"));

    // The removed page lives on with its buttons, outside the tab bar.
    auto *removed = widget<QWidget>(&window, "tab_2");
    QCOMPARE(tabs->indexOf(removed), -1);
    QVERIFY(widget<QPushButton>(&window, "pushButton_GetOrigin"));

    for (const char *name : {"pushButton_GetInfo", "pushButton_SetID", "pushButton_ChangeToModbus",
                             "pushButton_ChangeToVelaProtocol"})
        QVERIFY2(widget<QPushButton>(&window, name)->isHidden(), name);
    for (const char *name : {"pushButton_SetFactoryConfig", "pushButton_GetNoise",
                             "pushButton_GetSN", "pushButton_GetVersion"})
        QVERIFY2(!widget<QPushButton>(&window, name)->isHidden(), name);

    const QList<QAction *> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus.first()->text(), QStringLiteral("&About"));
    QVERIFY(menus.first()->menu());
    QCOMPARE(menus.first()->menu()->actions().size(), 1);
    QCOMPARE(menus.first()->menu()->actions().first()->text(), QStringLiteral("&About"));

    QCOMPARE(widget<QComboBox>(&window, "comboBox_BoudRate")->currentText(),
             QStringLiteral("9600"));
    QCOMPARE(widget<QLineEdit>(&window, "Edit_DeviceID")->text(), QStringLiteral("ffff-ffff"));
    QCOMPARE(widget<QLabel>(&window, "label_softid")->text(), QStringLiteral("Firmware ID"));
}

void WindowLinkTest::portSelectorListsSystemPortsAndAcceptsTypedNames()
{
    MainWindow window;
    auto *ports = widget<QComboBox>(&window, "comboBoxCOM");
    QStringList expected;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        expected << info.portName();
    QStringList listed;
    for (int i = 0; i < ports->count(); ++i)
        listed << ports->itemText(i);
    QCOMPARE(listed, expected);
    QCOMPARE(ports->currentIndex(), expected.isEmpty() ? -1 : 0);
    QVERIFY(ports->isEditable());
}

void WindowLinkTest::openAndCloseOverPty()
{
    WindowOnPty t;
    QVERIFY2(t.pty.isValid(), qPrintable(t.pty.errorString()));
    QVERIFY(t.open());
    QVERIFY(!widget<QPushButton>(t.window.get(), "pushButtonOpen")->isEnabled());
    QVERIFY(widget<QPushButton>(t.window.get(), "pushButtonClose")->isEnabled());
    QCOMPARE(timerCount(t.window.get()), 1);
    QVERIFY(t.status().contains(t.pty.slavePath()));

    t.click("pushButtonClose");
    QVERIFY(!t.window->isLinkOpen());
    QVERIFY(widget<QPushButton>(t.window.get(), "pushButtonOpen")->isEnabled());
    QVERIFY(!widget<QPushButton>(t.window.get(), "pushButtonClose")->isEnabled());
    QCOMPARE(timerCount(t.window.get()), 0);
}

void WindowLinkTest::reopeningNeverRunsTwoPollTimers()
{
    WindowOnPty t;
    for (int round = 0; round < 3; ++round) {
        QVERIFY(t.open());
        QCOMPARE(timerCount(t.window.get()), 1);
        // A second press cannot start another timer, even if it got through.
        QMetaObject::invokeMethod(t.window.get(), "on_pushButtonOpen_clicked");
        QCOMPARE(timerCount(t.window.get()), 1);
        t.click("pushButtonClose");
        QCOMPARE(timerCount(t.window.get()), 0);
    }
}

void WindowLinkTest::refreshWhileOpenKeepsTheLink()
{
    WindowOnPty t;
    QVERIFY(t.open());
    auto *ports = widget<QComboBox>(t.window.get(), "comboBoxCOM");
    t.click("pushButton_3");
    QCOMPARE(ports->count(), QSerialPortInfo::availablePorts().size());
    QCOMPARE(ports->currentIndex(), ports->count() ? 0 : -1);
    QVERIFY(t.window->isLinkOpen());

    // Still the same link: a frame sent now reaches the pty.
    t.click("pushButton_GetNoise");
    QCOMPARE(t.sent(8), hex("000400000001301b"));
    t.click("pushButtonClose");
    QVERIFY(!t.window->isLinkOpen());
}

void WindowLinkTest::portThatCannotBeOpenedLeavesTheLinkClosed()
{
    MessageBoxCloser boxes;
    MainWindow window;
    widget<QComboBox>(&window, "comboBoxCOM")->setEditText(QStringLiteral("/dev/ktr450-missing"));
    widget<QPushButton>(&window, "pushButtonOpen")->click();
    QTRY_COMPARE(boxes.texts.size(), 1);

    QVERIFY(!window.isLinkOpen());
    QVERIFY(widget<QPushButton>(&window, "pushButtonOpen")->isEnabled());
    QVERIFY(!widget<QPushButton>(&window, "pushButtonClose")->isEnabled());
    QCOMPARE(timerCount(&window), 0);
    QVERIFY(boxes.texts.first().contains(QStringLiteral("/dev/ktr450-missing")));
    QVERIFY2(boxes.texts.first().contains(QStringLiteral("No such file or directory")),
             qPrintable(boxes.texts.first()));

    // An empty port box is no operating-system error about a directory.
    boxes.clear();
    widget<QComboBox>(&window, "comboBoxCOM")->setEditText(QString());
    widget<QPushButton>(&window, "pushButtonOpen")->click();
    QTRY_COMPARE(boxes.texts.size(), 1);
    QCOMPARE(boxes.texts.first(), QStringLiteral("未选择串口：请在串口框中选择或输入串口名"));
    QVERIFY(!window.isLinkOpen());
}

void WindowLinkTest::lostPortClosesTheLinkOnce()
{
    WindowOnPty t;
    QVERIFY(t.open());
    t.pty.releaseSlave();
    t.pty.closeMaster();

    QTRY_VERIFY_WITH_TIMEOUT(!t.window->isLinkOpen(), 3000);
    QVERIFY(widget<QPushButton>(t.window.get(), "pushButtonOpen")->isEnabled());
    QVERIFY(!widget<QPushButton>(t.window.get(), "pushButtonClose")->isEnabled());
    QCOMPARE(timerCount(t.window.get()), 0);
    QVERIFY(!t.status().isEmpty());

    // One message, however many errors the hang-up raised meanwhile.
    QTest::qWait(800);
    QCOMPARE(t.log()->document()->blockCount(), 1);
    QCOMPARE(t.log()->toPlainText(), t.status());
    QVERIFY(t.status().contains(t.pty.slavePath().mid(5)));
    QVERIFY2(t.status().contains(QStringLiteral("设备已拔出或停止响应")), qPrintable(t.status()));
}

void WindowLinkTest::destructorClosesAnOpenLink()
{
    WindowOnPty t;
    QVERIFY(t.open());
    QSerialPort other;
    other.setPortName(t.pty.slavePath());
    QVERIFY(!other.open(QIODevice::ReadWrite)); // held and locked by the window

    t.window.reset();
    QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
}

void WindowLinkTest::clearLogEmptiesOnlyTheLog()
{
    WindowOnPty t;
    t.log()->setPlainText(QStringLiteral("line"));
    t.cmd()->setText(QStringLiteral("keep"));
    t.click("pushButton");
    QVERIFY(t.log()->toPlainText().isEmpty());
    QCOMPARE(t.cmd()->text(), QStringLiteral("keep"));

    QVERIFY(t.open());
    t.log()->setPlainText(QStringLiteral("line"));
    t.click("pushButton");
    QVERIFY(t.log()->toPlainText().isEmpty());
    QVERIFY(t.window->isLinkOpen());
}

void WindowLinkTest::aboutBoxShowsFourLines()
{
    MessageBoxCloser boxes;
    MainWindow window;
    QAction *about = window.menuBar()->actions().first()->menu()->actions().first();
    about->trigger();
    about->trigger();
    QCOMPARE(boxes.texts.size(), 2);
    QCOMPARE(boxes.titles.first(), QStringLiteral("About"));
    QCOMPARE(boxes.texts.first(),
             QStringLiteral("<html>V1.1</html><html><br>KTR450 Config and Test </html><html><br>"
                            "www.ktr450-sensor.example </html><html><br>2017.6.7</html>"));
    QCOMPARE(boxes.texts.at(1), boxes.texts.first());
}

QTEST_MAIN(WindowLinkTest)
#include "tst_window_link.moc"
