// The real window under faults on the line, over a real pseudo-terminal: the
// peer hanging up mid-session, seconds of garbage, confirmations in a row,
// and reads longer than the tick examines. The window must not crash, must
// stay responsive, and must show everything it is sent to show.
#include "commands.h"
#include "formats.h"
#include "frame.h"
#include "modbus.h"
#include "pendingreplies.h"
#include "windowtest.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

QStringList logLines(WindowOnPty &t)
{
    const QString text = t.log()->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// Every field a reply can fill, with its current text.
QStringList fieldTexts(QWidget *window)
{
    QStringList texts;
    for (const char *name :
         {"Edit_DeviceID", "lineEdit_DeviceAddr", "lineEdit_CalibrZero", "lineEdit_CalibrateFactor",
          "lineEdit_CaliParamA", "lineEdit_CaliParamB", "lineEdit_CaliParamC", "lineEdit_Cmd"})
        texts << widget<QLineEdit>(window, name)->text();
    texts << widget<QLabel>(window, "label_softid")->text();
    return texts;
}

// Read lengths of the window's poll ticks, taken from its debug line
// "<n> \r\n"; other messages go on to the test's own handler.
QtMessageHandler previousHandler = nullptr;
QList<int> tickReads;

void countTickReads(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const QRegularExpression readLine(QStringLiteral("^(\\d+) \r\n$"));
    const QRegularExpressionMatch match = readLine.match(message);
    if (type == QtDebugMsg && match.hasMatch()) {
        tickReads << match.captured(1).toInt();
        return;
    }
    previousHandler(type, context, message);
}

// Watches for modal message boxes. Each box is recorded once, handed to
// `onShown` while it is open, and closed after `holdMs` (as a user would).
class BoxWatcher : public QObject
{
  public:
    explicit BoxWatcher(int holdMs = 0) : holdMs_(holdMs)
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }

    QStringList texts;
    std::function<void()> onShown;

  private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box != current_) {
            current_ = box;
            texts << box->text();
            open_.start();
            if (onShown)
                onShown();
        }
        if (open_.elapsed() < holdMs_)
            return;
        current_ = nullptr;
        box->button(QMessageBox::Ok)->click();
    }

    int holdMs_;
    QPointer<QMessageBox> current_;
    QElapsedTimer open_;
    QTimer timer_;
};

// Writes random bytes at the peer's end from a thread of its own, in chunks
// of random size at random moments, with now and then a burst of hundreds of
// bytes. The bytes 0xAA, 0x06 and 0x10 never occur, so no own-protocol frame
// (head 0xAA) and no write echo (function 0x06 or 0x10) can form by chance;
// with no reply awaited, nothing in the stream may reach a field or a box.
class GarbageWriter
{
  public:
    GarbageWriter(PseudoTerminal &pty, quint32 seed)
        : thread_([this, &pty, seed] { run(pty, seed); })
    {
    }
    ~GarbageWriter() { stop(); }
    GarbageWriter(const GarbageWriter &) = delete;
    GarbageWriter &operator=(const GarbageWriter &) = delete;

    void stop()
    {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }
    qint64 written() const { return written_; }

  private:
    void run(PseudoTerminal &pty, quint32 seed)
    {
        QRandomGenerator random(seed);
        while (running_) {
            const int size =
                random.bounded(40) == 0 ? random.bounded(200, 1500) : random.bounded(1, 64);
            QByteArray chunk(size, '\0');
            for (char &byte : chunk) {
                auto value = uint8_t(random.bounded(256));
                if (value == 0xAA || value == 0x06 || value == 0x10)
                    value ^= 0x01;
                byte = char(value);
            }
            if (pty.write(chunk))
                written_ += chunk.size();
            std::this_thread::sleep_for(std::chrono::milliseconds(random.bounded(12)));
        }
    }

    std::atomic<bool> running_{true};
    std::atomic<qint64> written_{0};
    std::thread thread_;
};

// One 200-byte read: replies on the eight slots inside the first 160 bytes,
// and two more on the slots that straddle or lie past that bound.
QByteArray twoHundredBytes(int round)
{
    const auto r = char(round);
    QByteArray block;
    block += ownFrame(0xA6, QByteArray(6, '\0') + hex("12ab00") + r); // slot 0
    block += ownFrame(0x7E, QByteArray(15, '\x55'));                  // slot 1
    block += ownFrame(0xA9, hex("51"
                                "00000096"
                                "ffffff9c"
                                "000004") +
                                r);                                 // slot 2
    block += QByteArray(kOwnFrameSize, '\x55');                     // slot 3
    block += ownFrame(0xB5, QByteArray(7, '\0') + hex("1106") + r); // slot 4
    block += ownFrame(0xA5, hex("03"
                                "0000"
                                "1027"
                                "00000000"
                                "c801"
                                "000000") +
                                r); // slot 5
    block += ownFrame(0xB4, hex("0b"
                                "00") +
                                r + hex("64")); // slot 6
    block += ownFrame(0xA8, hex("51"));         // slot 7
    // Bytes 152 to 170: a factory-reset confirmation straddling the bound.
    block += ownFrame(0xB4, hex("fd01"));
    // Bytes 171 to 189: an identity wholly past it.
    block += ownFrame(0xA6, QByteArray(6, '\0') + hex("deadbeef"));
    block += QByteArray(200 - block.size(), '\x55');
    return block;
}

} // namespace

class WindowFaultsTest : public QObject
{
    Q_OBJECT

  private slots:
    void init()
    {
        pendingReplies = PendingReplies();
        tickReads.clear();
        previousHandler = qInstallMessageHandler(countTickReads);
    }
    void cleanup() { qInstallMessageHandler(previousHandler); }

    void peerVanishingRightAfterACommandClosesTheLinkOnce();
    void peerVanishingUnderAnOpenConfirmationClosesTheLinkOnce();
    void secondsOfGarbageShowNoBoxAndFillNoField();
    void clickDuringGarbageSendsItsFrameWithinOneLoopTurn();
    void confirmationsInARowEachShowOnceAndAllReachTheLog();
    void confirmationArrivingWhileABoxIsOpenIsNotLost();
    void twoHundredByteReadsDecodeOnlyTheirFirst160Bytes();
};

void WindowFaultsTest::peerVanishingRightAfterACommandClosesTheLinkOnce()
{
    MessageBoxCloser boxes;
    WindowOnPty t;
    QVERIFY(t.open());

    // The query is still in the port's write buffer when the peer goes.
    t.click("pushButton_GetNoise");
    QCOMPARE(t.cmd()->text(), toHexText(noiseQuery()));
    t.pty.releaseSlave();
    t.pty.closeMaster();

    QTRY_VERIFY_WITH_TIMEOUT(!t.window->isLinkOpen(), 3000);
    QCOMPARE(timerCount(t.window.get()), 0);
    QVERIFY(widget<QPushButton>(t.window.get(), "pushButtonOpen")->isEnabled());
    QVERIFY(!widget<QPushButton>(t.window.get(), "pushButtonClose")->isEnabled());
    QTest::qWait(800);
    QCOMPARE(logLines(t), QStringList{t.status()});
    QVERIFY(t.status().contains(t.pty.slavePath().mid(5)));
    QVERIFY(boxes.texts.isEmpty());

    // The way back: open another port, and the window works as before.
    PseudoTerminal other;
    QVERIFY2(other.isValid(), qPrintable(other.errorString()));
    widget<QComboBox>(t.window.get(), "comboBoxCOM")->setEditText(other.slavePath());
    t.click("pushButtonOpen");
    QVERIFY(t.window->isLinkOpen());
    t.click("pushButton_GetSN");
    QByteArray sent;
    for (int turn = 0; turn < 100 && sent.size() < serialNumberQuery().size(); ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        sent += other.read(serialNumberQuery().size() - sent.size(), 5);
    }
    QCOMPARE(sent.toHex(), serialNumberQuery().toHex());
    other.write(withCrc("000304"
                        "12ab00ff"));
    QTRY_COMPARE_WITH_TIMEOUT(widget<QLineEdit>(t.window.get(), "Edit_DeviceID")->text(),
                              QStringLiteral("12ab-00ff"), 2000);
}

void WindowFaultsTest::peerVanishingUnderAnOpenConfirmationClosesTheLinkOnce()
{
    WindowOnPty t;
    BoxWatcher boxes(600);
    boxes.onShown = [&t] {
        t.pty.releaseSlave();
        t.pty.closeMaster();
    };
    QVERIFY(t.open());
    t.pty.write(changeToModbusRequest());

    QTRY_VERIFY_WITH_TIMEOUT(!t.window->isLinkOpen(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(logLines(t).size(), 3, 3000);
    QTest::qWait(800);
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Device change to MODBUS!")});
    // The echo, the lost link (noticed while the box was open), then the
    // confirmation once its box was closed; nothing after.
    QCOMPARE(logLines(t), (QStringList{toHexText(changeToModbusRequest()), t.status(),
                                       QStringLiteral("Device change to MODBUS!")}));
    QVERIFY(t.status().contains(t.pty.slavePath().mid(5)));
    QCOMPARE(timerCount(t.window.get()), 0);
    QVERIFY(widget<QPushButton>(t.window.get(), "pushButtonOpen")->isEnabled());
}

void WindowFaultsTest::secondsOfGarbageShowNoBoxAndFillNoField()
{
    MessageBoxCloser boxes;
    WindowOnPty t;
    QVERIFY(t.open());
    const QStringList fieldsBefore = fieldTexts(t.window.get());
    {
        GarbageWriter garbage(t.pty, 4501);
        QTest::qWait(4000);
        garbage.stop();
        QVERIFY(garbage.written() > 10000);
    }
    t.polls.waitTicks(2); // the last of it is read

    QVERIFY(t.window->isLinkOpen());
    QCOMPARE(timerCount(t.window.get()), 1);
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(fieldTexts(t.window.get()), fieldsBefore);
    // The poll kept running, and all the log shows is the echo of short reads.
    QVERIFY2(tickReads.size() >= 5, qPrintable(QString::number(tickReads.size())));
    static const QRegularExpression hexEcho(QStringLiteral("^([0-9a-f]{2} ){4,17}$"));
    for (const QString &line : logLines(t))
        QVERIFY2(hexEcho.match(line).hasMatch(), qPrintable(line));
    QCOMPARE(logLines(t).size(), int(std::count_if(tickReads.begin(), tickReads.end(),
                                                   [](int n) { return n >= 4 && n <= 17; })));

    // A clean reply after the storm is decoded as usual.
    t.click("pushButton_GetNoise");
    QCOMPARE(t.sent(8), noiseQuery());
    t.log()->clear();
    t.reply(withCrc("000402"
                    "01c8"));
    QCOMPARE(logLines(t), (QStringList{toHexText(withCrc("000402"
                                                         "01c8")),
                                       QStringLiteral("Current Noise Value: 45.6  dB")}));
}

void WindowFaultsTest::clickDuringGarbageSendsItsFrameWithinOneLoopTurn()
{
    MessageBoxCloser boxes;
    WindowOnPty t;
    QVERIFY(t.open());
    GarbageWriter garbage(t.pty, 17);

    struct Press {
        const char *button;
        QByteArray frame;
    };
    const Press presses[] = {{"pushButton_GetNoise", noiseQuery()},
                             {"pushButton_GetSN", serialNumberQuery()},
                             {"pushButton_GetVersion", versionQuery()},
                             {"pushButton_GetDeviceAddr", deviceAddrQuery()},
                             {"pushButton_SetFactoryConfig", factoryConfigRequest()}};
    QRandomGenerator random(450);
    const int ticksBefore = tickReads.size();
    for (int round = 0; round < 10; ++round) {
        const Press &press = presses[round % 5];
        QTest::qWait(int(random.bounded(100, 400))); // ticks come and go meanwhile
        QVERIFY(t.pty.readAvailable().isEmpty());

        // Each press on its own: no earlier query of its shape holds it back.
        lowerAllPending(pendingReplies);
        t.click(press.button);
        QCoreApplication::processEvents(); // one turn of the event loop, no more
        // Without further turns the window cannot write: what arrives now was
        // written during that one turn.
        QCOMPARE(t.pty.read(press.frame.size(), 1000).toHex(), press.frame.toHex());
    }
    garbage.stop();
    QVERIFY(tickReads.size() - ticksBefore >= 5);
    QVERIFY(t.window->isLinkOpen());
}

void WindowFaultsTest::confirmationsInARowEachShowOnceAndAllReachTheLog()
{
    WindowOnPty t;
    BoxWatcher boxes;
    QVERIFY(t.open());

    const QByteArray echoes[] = {changeToModbusRequest(), changeToOwnProtocolRequest(),
                                 factoryConfigRequest(),
                                 modbus::writeEcho(setCaliParamRequest(0, 0, 0))};
    const QString texts[] = {QStringLiteral("Device change to MODBUS!"),
                             QStringLiteral("Device change to Vela!"),
                             QStringLiteral("Device change to FactoryConfig!"),
                             QStringLiteral("Set Calibrate Param Success!")};
    QStringList expectedBoxes;
    QStringList expectedLog;
    // Twelve echoes, each written as soon as the previous one has been
    // confirmed and logged: one per poll tick, in successive ticks.
    for (int i = 0; i < 12; ++i) {
        QVERIFY(t.pty.write(echoes[i % 4]));
        expectedBoxes << texts[i % 4];
        expectedLog << toHexText(echoes[i % 4]) << texts[i % 4];
        QTRY_COMPARE_WITH_TIMEOUT(logLines(t).size(), expectedLog.size(), 2000);
        QCOMPARE(boxes.texts, expectedBoxes);
        QCOMPARE(timerCount(t.window.get()), 1); // the poll goes on after the box
    }
    t.polls.waitTicks(2);
    QCOMPARE(boxes.texts, expectedBoxes);
    QCOMPARE(logLines(t), expectedLog);
    QCOMPARE(tickReads, QList<int>() << 8 << 8 << 8 << 8 << 8 << 8 << 8 << 8 << 8 << 8 << 8 << 8);
}

void WindowFaultsTest::confirmationArrivingWhileABoxIsOpenIsNotLost()
{
    // The technician takes a moment to close a confirmation; a second one
    // arrives meanwhile. It must be shown and logged once the first is closed.
    WindowOnPty t;
    BoxWatcher boxes(700);
    bool sentSecond = false;
    boxes.onShown = [&] {
        if (sentSecond)
            return;
        sentSecond = true;
        t.pty.write(factoryConfigRequest());
    };
    QVERIFY(t.open());
    t.pty.write(changeToModbusRequest());

    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts.size(), 2, 4000);
    QCOMPARE(boxes.texts, (QStringList{QStringLiteral("Device change to MODBUS!"),
                                       QStringLiteral("Device change to FactoryConfig!")}));
    QTRY_VERIFY_WITH_TIMEOUT(
        logLines(t).contains(QStringLiteral("Device change to FactoryConfig!")), 2000);
    QCOMPARE(logLines(t).count(QStringLiteral("Device change to MODBUS!")), 1);
}

void WindowFaultsTest::twoHundredByteReadsDecodeOnlyTheirFirst160Bytes()
{
    WindowOnPty t;
    BoxWatcher boxes;
    QVERIFY(t.open());
    auto *deviceId = widget<QLineEdit>(t.window.get(), "Edit_DeviceID");
    auto *version = widget<QLabel>(t.window.get(), "label_softid");

    for (int round = 1; round <= 5; ++round) {
        const QString r = QString::number(round);
        // One read per tick: the next block goes out once this one's
        // confirmation, the last thing its tick shows, has been closed.
        QVERIFY(t.pty.write(twoHundredBytes(round)));
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts.size(), round, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(logLines(t).size(), round, 1000);

        QCOMPARE(tickReads.last(), 200);
        QCOMPARE(deviceId->text(), QStringLiteral("12ab-00%1").arg(hexPair(uint8_t(round))));
        QCOMPARE(version->text(), QStringLiteral("17-6-") + r);
        QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamA")->text(),
                 QStringLiteral("1.5"));
        QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamB")->text(),
                 QStringLiteral("-1"));
        QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamC")->text(),
                 realText((0x400 + round) / 100.0));
        QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CalibrZero")->text(),
                 QStringLiteral("-") + r);
        QCOMPARE(logLines(t).last(),
                 QStringLiteral("Origin Value:  10000    AD Count: %1      Noise:  45.6  dB")
                     .arg(round));
        QCOMPARE(boxes.texts.last(), QStringLiteral("Set Calibrate Param Success!"));
    }
    t.polls.waitTicks(2);
    // Neither the straddling confirmation nor the identity past the bound.
    QCOMPARE(boxes.texts.size(), 5);
    QVERIFY(!boxes.texts.contains(QString::fromUtf8("恢复出厂设置成功！")));
    QCOMPARE(deviceId->text(), QStringLiteral("12ab-0005"));
    QVERIFY(t.window->isLinkOpen());
}

QTEST_MAIN(WindowFaultsTest)
#include "tst_window_faults.moc"
