// The window against the real simulator process on its pseudo-terminal:
// every button the shipped window offers, the hidden ones and those of the
// removed tab, each reading checked against the simulator's value and each
// write read back from it; then a soak with faults on the line.
#include "commands.h"
#include "frame.h"
#include "modbus.h"
#include "pendingreplies.h"
#include "sensor.h"
#include "simprocess.h"
#include "windowsoak.h"
#include "windowtest.h"

#include <QAction>
#include <QRandomGenerator>
#include <QSerialPortInfo>
#include <QSet>
#include <QTranslator>
#include <algorithm>
#include <functional>

namespace {

// Fixed noise and seed, and settings that differ from the simulator's
// defaults, so every value shown can only have come from these options.
const QStringList kSimSettings = {
    QStringLiteral("--drift"),  QStringLiteral("0"),         QStringLiteral("--noise"),
    QStringLiteral("45.6"),     QStringLiteral("--seed"),    QStringLiteral("7"),
    QStringLiteral("--serial"), QStringLiteral("12ab-00ff"), QStringLiteral("--firmware"),
    QStringLiteral("18-2-3"),   QStringLiteral("--address"), QStringLiteral("7"),
    QStringLiteral("--params"), QStringLiteral("1.5,-1,0"),  QStringLiteral("--calibration"),
    QStringLiteral("-5,100")};

constexpr int kShowMs = 3000; // a reply is shown at the next 360 ms poll

// A window whose port box names the pseudo-terminal of a running simulator.
struct WindowOnSim {
    SimProcess sim;
    MainWindow window;
    TickCounter polls{&window};

    explicit WindowOnSim(const QStringList &extra = QStringList()) : sim(kSimSettings + extra) {}

    bool open()
    {
        if (sim.path().isEmpty() && !sim.waitForPath())
            return false;
        widget<QComboBox>(&window, "comboBoxCOM")->setEditText(sim.path());
        click("pushButtonOpen");
        return window.isLinkOpen();
    }
    void click(const char *button) { widget<QPushButton>(&window, button)->click(); }
    QLineEdit *edit(const char *name) { return widget<QLineEdit>(&window, name); }
    QString text(const char *name) { return edit(name)->text(); }
    QString version() { return widget<QLabel>(&window, "label_softid")->text(); }
    void setCalibrateMode(int index)
    {
        widget<QComboBox>(&window, "comboBox_Calibrate")->setCurrentIndex(index);
    }
    // The log pane, one entry per paragraph.
    QStringList logLines()
    {
        const QString all = widget<QTextEdit>(&window, "textEdit")->toPlainText();
        return all.isEmpty() ? QStringList() : all.split(QLatin1Char('\n'));
    }
    QString lastLog()
    {
        const QStringList lines = logLines();
        return lines.isEmpty() ? QString() : lines.constLast();
    }
    // Clears the log pane, presses `button`, and waits until the reply's
    // echo shows. The window decodes each poll's bytes from their first byte:
    // two replies read in one poll show as one, so the next command must not
    // go out before this one's reply has been read.
    bool pressAndAwaitEcho(const char *button, const QByteArray &reply)
    {
        click("pushButton");
        click(button);
        QElapsedTimer clock;
        clock.start();
        while (!logLines().contains(toHexText(reply)) && clock.elapsed() < 3000)
            QTest::qWait(5);
        return logLines().contains(toHexText(reply));
    }

    // The simulator's settings as its "state" command prints them.
    QString state()
    {
        const int from = sim.log().size();
        sim.command("state");
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000) {
            const QString fresh = sim.log().mid(from);
            const int at = fresh.indexOf(QLatin1String(" address "));
            const int end = fresh.indexOf(QLatin1Char('\n'), at);
            if (at >= 0 && end > at)
                return fresh.mid(at + 1, end - at - 1);
            QTest::qWait(5);
        }
        return QString();
    }
    // Frames the simulator has received so far.
    int received() { return sim.log().count(QRegularExpression(QStringLiteral("(^|\\n)RX "))); }
};

// Asks the simulator for its settings once and checks they include `part`.
#define VERIFY_STATE_HAS(t, part)                                                                  \
    do {                                                                                           \
        const QString state_ = (t).state();                                                        \
        QVERIFY2(state_.contains(QLatin1String(part)), qPrintable(state_));                        \
    } while (false)

#define OPEN(t, ...)                                                                               \
    WindowOnSim t{__VA_ARGS__};                                                                    \
    QVERIFY2(t.open(), qPrintable(t.sim.log()))

} // namespace

class WindowSimTest : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void init() { pendingReplies = PendingReplies(); }
    void cleanupTestCase() { QCoreApplication::removeTranslator(&translator); }

    void shippedReadButtonsShowTheSimulatorsValues();
    void addressWriteChangesTheSimulatorAndReadsBack();
    void calibrationWriteChangesTheSimulatorAndReadsBack();
    void factoryResetIsConfirmedAndRestoresTheDefaults();
    void protocolSwitchesAreConfirmedAndSelectWhatTheSimulatorAnswers();
    void ownProtocolIdentityIsReadAndWritten();
    void ownProtocolParametersAreReadAndWritten();
    void modbusParametersAndOriginOfTheRemovedTab();
    void unpromptedFramesOfTheSimulatorAreShown();
    void logClearPortRefreshAboutAndClose();
    void faultedRepliesShowAsTheWindowIntends();
    void soakWithFaultsShowsOnlyTheSimulatorsValues();
    void rapidQueriesShowOnlyTheSimulatorsValues();
    void splitAndDroppedRepliesShowTheRightValueOrSayItIsMissing();

  private:
    QTranslator translator;
};

void WindowSimTest::initTestCase()
{
    // As the shipped program starts: with its catalogue installed.
    QVERIFY(installCatalogue(translator));
}

void WindowSimTest::shippedReadButtonsShowTheSimulatorsValues()
{
    OPEN(t);

    t.click("pushButton_GetNoise");
    QTRY_VERIFY_WITH_TIMEOUT(t.logLines().contains(QStringLiteral("Current Noise Value: 45.6  dB")),
                             kShowMs);
    QVERIFY(t.logLines().contains(toHexText(modbus::readReply(0, 0x04, {456}))));
    QCOMPARE(pendingReplies.waitNoise, 0);

    t.click("pushButton_GetSN");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("Edit_DeviceID"), QStringLiteral("12ab-00ff"), kShowMs);

    t.click("pushButton_GetVersion");
    QTRY_COMPARE_WITH_TIMEOUT(t.version(), QStringLiteral("18-2-3"), kShowMs);

    t.click("pushButton_GetDeviceAddr");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_DeviceAddr"), QStringLiteral("7"), kShowMs);

    t.setCalibrateMode(0);
    t.click("pushButton_Calibrate");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_CalibrateFactor"), QStringLiteral("100"), kShowMs);
    QCOMPARE(t.text("lineEdit_CalibrZero"), QStringLiteral("-5"));

    // Every reply was echoed as it came, and nothing is left waiting.
    QVERIFY(t.logLines().contains(toHexText(modbus::readReply(0, 0x03, {0x12AB, 0x00FF}))));
    QVERIFY(t.logLines().contains(toHexText(modbus::readReply(0, 0x03, {0x2203}))));
    QVERIFY(t.logLines().contains(toHexText(modbus::readReply(0, 0x03, {0x0005, 100}))));
    QCOMPARE(pendingReplies.waitSN + pendingReplies.waitVersion + pendingReplies.waitDeviceAddr +
                 pendingReplies.waitCalibrate,
             0);
}

void WindowSimTest::addressWriteChangesTheSimulatorAndReadsBack()
{
    OPEN(t);

    t.edit("lineEdit_DeviceAddr")->setText(QStringLiteral("1f"));
    QVERIFY(t.pressAndAwaitEcho("pushButton_SetDeviceAddr",
                                modbus::writeEcho(setDeviceAddrRequest(0x1F))));
    VERIFY_STATE_HAS(t, "address 1f,");

    t.click("pushButton_GetDeviceAddr");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_DeviceAddr"), QStringLiteral("1f"), kShowMs);

    QVERIFY(t.logLines().contains(QStringLiteral("传感器确认：设备地址已设为 1f")));

    // 248 and 0 are no addresses of a sensor: the window sends nothing.
    const int before = t.received();
    for (const char *text : {"f8", "0"}) {
        t.edit("lineEdit_DeviceAddr")->setText(QLatin1String(text));
        t.click("pushButton_SetDeviceAddr");
    }
    t.polls.waitTicks(1);
    QCOMPARE(t.received(), before);
    VERIFY_STATE_HAS(t, "address 1f,");
}

void WindowSimTest::calibrationWriteChangesTheSimulatorAndReadsBack()
{
    OPEN(t);

    const struct {
        const char *offset;
        const char *factor;
        const char *state;
    } writes[] = {{"12", "90", "12 x90"}, {"-7", "255", "-7 x255"}, {"0", "0", "0 x0"}};
    for (const auto &w : writes) {
        t.setCalibrateMode(1);
        t.edit("lineEdit_CalibrZero")->setText(QLatin1String(w.offset));
        t.edit("lineEdit_CalibrateFactor")->setText(QLatin1String(w.factor));
        const QByteArray request =
            calibrateWriteRequest(0, QByteArray(w.offset).toInt(), QByteArray(w.factor).toInt());
        QVERIFY(t.pressAndAwaitEcho("pushButton_Calibrate", modbus::writeEcho(request)));
        QCOMPARE(t.text("lineEdit_Cmd"), toHexText(request));
        const QString state = t.state();
        QVERIFY2(state.contains(QStringLiteral("calibration of ranges 0-2: %1, -5 x100, -5 x100")
                                    .arg(QLatin1String(w.state))),
                 qPrintable(state));

        t.setCalibrateMode(0);
        t.click("pushButton_Calibrate");
        QCOMPARE(t.text("lineEdit_CalibrZero"), QString());
        QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_CalibrZero"), QLatin1String(w.offset), kShowMs);
        QCOMPARE(t.text("lineEdit_CalibrateFactor"), QLatin1String(w.factor));
    }
}

void WindowSimTest::factoryResetIsConfirmedAndRestoresTheDefaults()
{
    MessageBoxCloser boxes;
    OPEN(t);

    t.edit("lineEdit_DeviceAddr")->setText(QStringLiteral("20"));
    QVERIFY(t.pressAndAwaitEcho("pushButton_SetDeviceAddr",
                                modbus::writeEcho(setDeviceAddrRequest(0x20))));
    t.setCalibrateMode(1);
    t.edit("lineEdit_CalibrZero")->setText(QStringLiteral("3"));
    t.edit("lineEdit_CalibrateFactor")->setText(QStringLiteral("50"));
    QVERIFY(t.pressAndAwaitEcho("pushButton_Calibrate",
                                modbus::writeEcho(calibrateWriteRequest(0, 3, 50))));
    const QString changed = t.state();
    QVERIFY2(changed.startsWith(QLatin1String("address 20,")) &&
                 changed.contains(QLatin1String("calibration of ranges 0-2: 3 x50,")),
             qPrintable(changed));

    t.click("pushButton_SetFactoryConfig");
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts, QStringList{QStringLiteral("设备已恢复出厂设置！")},
                              kShowMs);
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("Information")});
    QTRY_COMPARE_WITH_TIMEOUT(t.lastLog(), QStringLiteral("设备已恢复出厂设置！"), kShowMs);
    const QString state = t.state();
    QVERIFY2(state.startsWith(QLatin1String("address 7, Modbus selected")), qPrintable(state));
    QVERIFY2(state.contains(QLatin1String("calibration of ranges 0-2: -5 x100,")),
             qPrintable(state));

    t.click("pushButton_GetDeviceAddr");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_DeviceAddr"), QStringLiteral("7"), kShowMs);
}

void WindowSimTest::protocolSwitchesAreConfirmedAndSelectWhatTheSimulatorAnswers()
{
    MessageBoxCloser boxes;
    OPEN(t);

    t.click("pushButton_ChangeToVelaProtocol");
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts, QStringList{QStringLiteral("设备转换为维拉自有协议！")},
                              kShowMs);
    QTRY_COMPARE_WITH_TIMEOUT(t.lastLog(), QStringLiteral("设备转换为维拉自有协议！"), kShowMs);
    VERIFY_STATE_HAS(t, "own protocol selected");

    // The sensor now stays silent to Modbus queries: the flag stays raised.
    t.click("pushButton_GetNoise");
    QVERIFY(t.sim.waitForLog(QStringLiteral("own protocol selected, Modbus request ignored")));
    t.polls.waitTicks(2);
    QVERIFY(!t.logLines().join(QLatin1Char('\n')).contains(QLatin1String("Noise")));
    QCOMPARE(pendingReplies.waitNoise, 1);
    pendingReplies = PendingReplies();

    // ...and answers its own protocol.
    t.click("pushButton_GetInfo");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("Edit_DeviceID"), QStringLiteral("12ab-00ff"), kShowMs);
    QTRY_COMPARE_WITH_TIMEOUT(t.version(), QStringLiteral("18-2-3"), kShowMs);

    boxes.clear();
    t.click("pushButton_ChangeToModbus");
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts, QStringList{QStringLiteral("设备转换为MODBUS协议！")},
                              kShowMs);
    QTRY_COMPARE_WITH_TIMEOUT(t.lastLog(), QStringLiteral("设备转换为MODBUS协议！"), kShowMs);
    VERIFY_STATE_HAS(t, "Modbus selected");

    t.click("pushButton_GetNoise");
    QTRY_COMPARE_WITH_TIMEOUT(t.lastLog(), QStringLiteral("Current Noise Value: 45.6  dB"),
                              kShowMs);
}

void WindowSimTest::ownProtocolIdentityIsReadAndWritten()
{
    OPEN(t, QStringList{QStringLiteral("--own-protocol")});

    t.click("pushButton_GetInfo");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("Edit_DeviceID"), QStringLiteral("12ab-00ff"), kShowMs);
    QTRY_COMPARE_WITH_TIMEOUT(t.version(), QStringLiteral("18-2-3"), kShowMs);

    t.edit("Edit_DeviceID")->setText(QStringLiteral("abcd-1234"));
    t.click("pushButton_SetID");
    QVERIFY(t.sim.waitForLog(QStringLiteral("(identity set)")));
    VERIFY_STATE_HAS(t, "serial number abcd-1234");

    t.edit("Edit_DeviceID")->setText(QStringLiteral("ffff-ffff"));
    t.click("pushButton_GetInfo");
    QCOMPARE(t.text("Edit_DeviceID"), QString());
    QTRY_COMPARE_WITH_TIMEOUT(t.text("Edit_DeviceID"), QStringLiteral("abcd-1234"), kShowMs);
    // The identity echo and both identity replies are whole frames: not echoed.
    QCOMPARE(t.logLines(), QStringList());
}

void WindowSimTest::ownProtocolParametersAreReadAndWritten()
{
    MessageBoxCloser boxes;
    OPEN(t, QStringList{QStringLiteral("--own-protocol")});

    t.click("pushButton_GetCaliParam_Vela");
    QCOMPARE(t.text("lineEdit_Cmd"), toHexText(ownCaliParamQuery()));
    QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_CaliParamA"), QStringLiteral("1.5"), kShowMs);
    QCOMPARE(t.text("lineEdit_CaliParamB"), QStringLiteral("-1"));
    QCOMPARE(t.text("lineEdit_CaliParamC"), QStringLiteral("0"));

    t.edit("lineEdit_CaliParamA")->setText(QStringLiteral("2.25"));
    t.edit("lineEdit_CaliParamB")->setText(QStringLiteral("-3.5"));
    t.edit("lineEdit_CaliParamC")->setText(QStringLiteral("10"));
    t.click("pushButton_SetCaliParam_Vela");
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts, QStringList{QStringLiteral("设置标定系数成功！")},
                              kShowMs);
    VERIFY_STATE_HAS(t, "parameters A 2.25 B -3.5 C 10,");

    t.click("pushButton_GetCaliParam_Vela");
    QCOMPARE(t.text("lineEdit_CaliParamA"), QString());
    QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_CaliParamA"), QStringLiteral("2.25"), kShowMs);
    QCOMPARE(t.text("lineEdit_CaliParamB"), QStringLiteral("-3.5"));
    QCOMPARE(t.text("lineEdit_CaliParamC"), QStringLiteral("10"));
}

void WindowSimTest::modbusParametersAndOriginOfTheRemovedTab()
{
    MessageBoxCloser boxes;
    OPEN(t);

    t.click("pushButton_GetCaliParam");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_CaliParamA"), QStringLiteral("1.5"), kShowMs);
    QCOMPARE(t.text("lineEdit_CaliParamB"), QStringLiteral("-1"));
    QCOMPARE(t.text("lineEdit_CaliParamC"), QStringLiteral("0"));

    t.edit("lineEdit_CaliParamA")->setText(QStringLiteral("-12.5"));
    t.edit("lineEdit_CaliParamB")->setText(QStringLiteral("0.75"));
    t.edit("lineEdit_CaliParamC")->setText(QStringLiteral("300"));
    t.click("pushButton_SetCaliParam");
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts, QStringList{QStringLiteral("设置标定系数成功！")},
                              kShowMs);
    QTRY_COMPARE_WITH_TIMEOUT(t.lastLog(), QStringLiteral("设置标定系数成功！"), kShowMs);
    VERIFY_STATE_HAS(t, "parameters A -12.5 B 0.75 C 300,");

    t.click("pushButton_GetCaliParam");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_CaliParamA"), QStringLiteral("-12.5"), kShowMs);
    QCOMPARE(t.text("lineEdit_CaliParamB"), QStringLiteral("0.75"));
    QCOMPARE(t.text("lineEdit_CaliParamC"), QStringLiteral("300"));

    // 45.6 dB maps to a raw value of 10^(45.6/20) = 190.5, sent rounded.
    t.click("pushButton_GetOrigin");
    QTRY_VERIFY_WITH_TIMEOUT(
        t.logLines().contains(QStringLiteral("Origin Value:  191   ::::::  45.6    dB   ")),
        kShowMs);
    QCOMPARE(pendingReplies.waitOrigin, 0);
}

void WindowSimTest::unpromptedFramesOfTheSimulatorAreShown()
{
    MessageBoxCloser boxes;
    OPEN(t);

    t.sim.command("report");
    QTRY_VERIFY_WITH_TIMEOUT(t.logLines().contains(QStringLiteral(
                                 "Origin Value:  191    AD Count: 190546      Noise:  45.6  dB")),
                             kShowMs);

    t.sim.command("calibration");
    QTRY_COMPARE_WITH_TIMEOUT(t.text("lineEdit_CalibrZero"), QStringLiteral("-5"), kShowMs);
    QCOMPARE(t.text("lineEdit_CalibrateFactor"), QStringLiteral("100"));

    t.sim.command("factory-done");
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts, QStringList{QStringLiteral("恢复出厂设置成功！")},
                              kShowMs);
    t.sim.command("calibrate-done");
    QTRY_COMPARE_WITH_TIMEOUT(
        boxes.texts,
        (QStringList{QStringLiteral("恢复出厂设置成功！"), QStringLiteral("设置校准成功!")}),
        kShowMs);
}

void WindowSimTest::logClearPortRefreshAboutAndClose()
{
    MessageBoxCloser boxes;
    OPEN(t);

    t.click("pushButton_GetNoise");
    QTRY_VERIFY_WITH_TIMEOUT(!t.logLines().isEmpty(), kShowMs);
    t.click("pushButton");
    QCOMPARE(t.logLines(), QStringList());

    // Refreshing the port list lists the system's ports; the open link stays.
    t.click("pushButton_3");
    auto *ports = widget<QComboBox>(&t.window, "comboBoxCOM");
    QStringList listed;
    for (int i = 0; i < ports->count(); ++i)
        listed << ports->itemText(i);
    QStringList system;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        system << port.portName();
    QCOMPARE(listed, system);
    QVERIFY(t.window.isLinkOpen());
    t.click("pushButton_GetNoise");
    QTRY_COMPARE_WITH_TIMEOUT(t.lastLog(), QStringLiteral("Current Noise Value: 45.6  dB"),
                              kShowMs);

    QAction *about = nullptr;
    for (QAction *action : t.window.findChildren<QAction *>()) {
        if (action->text() == QLatin1String("&About") && !action->menu())
            about = action;
    }
    QVERIFY(about);
    about->trigger();
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("About")});
    QVERIFY(boxes.texts.constFirst().contains(QLatin1String("KTR450 Config and Test")));

    // Closed, the window sends nothing; opened again, it works again.
    t.click("pushButtonClose");
    QVERIFY(!t.window.isLinkOpen());
    const int before = t.received();
    t.click("pushButton_GetNoise");
    QCOMPARE(t.window.statusBar()->currentMessage(), QStringLiteral("串口未打开，指令未发送"));
    QTest::qWait(400);
    QCOMPARE(t.received(), before);

    QVERIFY(t.open());
    t.click("pushButton");
    t.click("pushButton_GetVersion");
    QTRY_COMPARE_WITH_TIMEOUT(t.version(), QStringLiteral("18-2-3"), kShowMs);
}

// One fault at a time, each on every reply: what the window does with it.
void WindowSimTest::faultedRepliesShowAsTheWindowIntends()
{
    const QByteArray reply = modbus::readReply(0, 0x04, {456});
    {
        // A damaged CRC: echoed, no value, and at the deadline the log says so.
        OPEN(t, QStringList{QStringLiteral("--corrupt-prob"), QStringLiteral("1")});
        t.click("pushButton_GetNoise");
        QByteArray corrupted = reply;
        corrupted[6] = char(uint8_t(corrupted[6]) ^ 0xFF);
        QTRY_COMPARE_WITH_TIMEOUT(
            t.lastLog(), QStringLiteral("传感器应答已损坏（校验错误），已忽略：查询噪音值"),
            int(kReplyDeadlineMs) + kShowMs);
        QCOMPARE(t.logLines(), (QStringList{toHexText(corrupted), t.lastLog()}));
    }
    init();
    {
        // Nothing came: nothing shows, and the query stays pending.
        OPEN(t, QStringList{QStringLiteral("--drop-prob"), QStringLiteral("1")});
        t.click("pushButton_GetNoise");
        QVERIFY(t.sim.waitForLog(QStringLiteral("fault: dropped")));
        t.polls.waitTicks(2);
        QCOMPARE(t.logLines(), QStringList());
        QCOMPARE(pendingReplies.waitNoise, 1);
    }
    init();
    {
        // A stray byte in front: echoed with the reply, which is found
        // behind it and shown.
        OPEN(t, QStringList{QStringLiteral("--stray-prob"), QStringLiteral("1")});
        t.click("pushButton_GetNoise");
        QTRY_COMPARE_WITH_TIMEOUT(t.logLines().size(), 2, kShowMs);
        QCOMPARE(t.logLines().constFirst().mid(3), toHexText(reply));
        QCOMPARE(t.lastLog(), QStringLiteral("Current Noise Value: 45.6  dB"));
        QCOMPARE(pendingReplies.waitNoise, 0);
    }
}

// Random buttons against the simulator with every fault on (0.1 each). Only
// values from clean replies are compared with the simulator's; values shown
// from faulted replies must be made of bytes that were on the line.
void WindowSimTest::soakWithFaultsShowsOnlyTheSimulatorsValues()
{
    SoakSettings settings;
    settings.commands = 300;
    settings.seed = 20170607;
    settings.timeLimitMs = 150 * 1000;
    const SoakReport report = runWindowSoak(settings);
    qInfo("%s", qPrintable(report.summary()));
    QVERIFY2(report.started, qPrintable(report.summary()));
    QVERIFY2(report.commands >= 200, qPrintable(report.summary()));
    QVERIFY2(report.repliesFaulted > 0 && report.faultSplit > 0 && report.faultStray > 0 &&
                 report.faultCorrupt > 0 && report.faultDrop > 0,
             qPrintable(report.summary()));
    QCOMPARE(report.mismatches, 0);
    QCOMPARE(report.unexplained, 0);
    QCOMPARE(report.stateMismatches, 0);
    QCOMPARE(report.protocolErrors, 0);
    QVERIFY2(report.passed(), qPrintable(report.summary()));
}

namespace {

// The seven queries, where each shows its value, and that value for the
// simulator's settings (kSimSettings).
struct SimQuery {
    Query query;
    const char *button;
    std::function<QString(WindowOnSim &)> shown;
    QString value;
};

// The different log lines that start so: a query asked twice shows its
// value twice, but never another value.
QString logLineStarting(WindowOnSim &t, const char *start)
{
    QStringList found;
    for (const QString &line : t.logLines()) {
        if (line.startsWith(QLatin1String(start)) && !found.contains(line))
            found << line;
    }
    return found.join(QLatin1String(" | "));
}

QVector<SimQuery> simQueries()
{
    return {
        {Query::Noise, "pushButton_GetNoise",
         [](WindowOnSim &t) { return logLineStarting(t, "Current"); },
         QStringLiteral("Current Noise Value: 45.6  dB")},
        {Query::DeviceAddr, "pushButton_GetDeviceAddr",
         [](WindowOnSim &t) { return t.text("lineEdit_DeviceAddr"); }, QStringLiteral("7")},
        {Query::Calibrate, "pushButton_Calibrate",
         [](WindowOnSim &t) {
             return t.text("lineEdit_CalibrZero") + QLatin1Char(' ') +
                    t.text("lineEdit_CalibrateFactor");
         },
         QStringLiteral("-5 100")},
        {Query::SerialNumber, "pushButton_GetSN",
         [](WindowOnSim &t) { return t.text("Edit_DeviceID"); }, QStringLiteral("12ab-00ff")},
        {Query::Version, "pushButton_GetVersion", [](WindowOnSim &t) { return t.version(); },
         QStringLiteral("18-2-3")},
        {Query::Origin, "pushButton_GetOrigin",
         [](WindowOnSim &t) { return logLineStarting(t, "Origin"); },
         QStringLiteral("Origin Value:  191   ::::::  45.6    dB   ")},
        {Query::CaliParam, "pushButton_GetCaliParam",
         [](WindowOnSim &t) {
             return t.text("lineEdit_CaliParamA") + QLatin1Char(' ') +
                    t.text("lineEdit_CaliParamB") + QLatin1Char(' ') +
                    t.text("lineEdit_CaliParamC");
         },
         QStringLiteral("1.5 -1 0")},
    };
}

bool nothingPending()
{
    for (Query query : kQueries) {
        if (pendingFlag(pendingReplies, query))
            return false;
    }
    return pendingReplies.held.isEmpty();
}

} // namespace

// Several queries clicked within one poll, at random: every value shown is
// the simulator's, whatever the replies' order and grouping in the reads.
void WindowSimTest::rapidQueriesShowOnlyTheSimulatorsValues()
{
    OPEN(t);
    const QVector<SimQuery> queries = simQueries();
    QRandomGenerator random(10);
    for (int round = 0; round < 40; ++round) {
        t.click("pushButton");
        QSet<int> asked;
        const int clicks = 1 + int(random.bounded(4));
        for (int c = 0; c < clicks; ++c) {
            const int pick = int(random.bounded(queries.size()));
            asked.insert(pick);
            t.click(queries[pick].button);
            QTest::qWait(int(random.bounded(120)));
        }
        QTRY_VERIFY_WITH_TIMEOUT(nothingPending(), kShowMs);
        for (int pick : asked) {
            const QString shown = queries[pick].shown(t);
            QVERIFY2(shown == queries[pick].value,
                     qPrintable(QStringLiteral("round %1, %2: %3")
                                    .arg(round)
                                    .arg(QLatin1String(queries[pick].button), shown)));
        }
    }
}

// With split and dropped replies, one query at a time: the value shown is
// the simulator's, or nothing is shown and the log says the sensor did not
// answer; never another value.
void WindowSimTest::splitAndDroppedRepliesShowTheRightValueOrSayItIsMissing()
{
    // A split reply's second part comes a poll later than its first.
    OPEN(t, QStringList{QStringLiteral("--split-prob"), QStringLiteral("0.4"),
                        QStringLiteral("--split-gap"), QStringLiteral("400"),
                        QStringLiteral("--drop-prob"), QStringLiteral("0.3")});
    const QVector<SimQuery> queries = simQueries();
    QRandomGenerator random(12);
    int right = 0;
    int missing = 0;
    for (int round = 0; round < 24; ++round) {
        const SimQuery &q = queries[int(random.bounded(queries.size()))];
        t.click("pushButton");
        t.click(q.button);
        const QString before = q.shown(t);
        // A query of the shape of one that expired waits until the late
        // reply is ruled out: up to two more deadlines.
        QTRY_VERIFY_WITH_TIMEOUT(nothingPending(), int(5 * kReplyDeadlineMs));
        t.polls.waitTicks(3); // a late second part must not show anything either
        const QString shown = q.shown(t);
        const QString unanswered =
            QStringLiteral("传感器未应答：") + widget<QPushButton>(&t.window, q.button)->text();
        if (shown == q.value &&
            !t.logLines().join(QLatin1Char('\n')).contains(QStringLiteral("未应答"))) {
            ++right;
        } else {
            const QStringList lines = t.logLines();
            const bool said = std::any_of(lines.cbegin(), lines.cend(), [&](const QString &line) {
                return line.startsWith(unanswered);
            });
            QVERIFY2(shown == before && said,
                     qPrintable(QStringLiteral("round %1, %2: shown '%3', log %4")
                                    .arg(round)
                                    .arg(QLatin1String(q.button), shown,
                                         t.logLines().join(QStringLiteral(" | ")))));
            ++missing;
        }
    }
    qInfo("%d right, %d said to be missing", right, missing);
    QVERIFY(right > 0 && missing > 0);
}

QTEST_MAIN(WindowSimTest)
#include "tst_window_sim.moc"
