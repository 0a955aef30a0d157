// Replies written at the far end of a pseudo-terminal, as the window shows
// them after its next poll tick: fields, log lines and confirmation boxes.
#include "commands.h"
#include "frame.h"
#include "modbus.h"
#include "windowtest.h"

#include <QFile>
#include <QRandomGenerator>
#include <functional>

namespace {

QByteArray ownReply(uint8_t command, const char *dataHex)
{
    return ownFrame(command, hex(dataHex));
}

} // namespace

class WindowRepliesTest : public QObject
{
    Q_OBJECT

  private slots:
    void init() { pendingReplies = PendingReplies(); }

    void catalogueIsEmbedded();
    void noiseQueryAndReplyEndToEnd();
    void ownProtocolRepliesFillTheirFields();
    void writeEchoConfirmsInChineseWithCatalogue();
    void writeEchoConfirmsInEnglishWithoutCatalogue();
    void ownParameterWriteConfirmationIsTranslated();
    void truncatedReplyLeavesFieldAndFlag();
    void oversizedReadDecodesOnlyItsFirstSlots();
    void frameWrittenAnyTimeArrivesWhole();
    void queriesClickedTogetherEachShowTheirOwnReply();
    void unansweredRefusedAndConfirmedRequestsAreSaidInWords();
    void reopeningTheLinkForgetsWhatWasAsked();
};

void WindowRepliesTest::catalogueIsEmbedded()
{
    QFile catalogue(QString::fromLatin1(kCataloguePath));
    QVERIFY(catalogue.exists());
    QCOMPARE(catalogue.size(), 377);
}

void WindowRepliesTest::noiseQueryAndReplyEndToEnd()
{
    WindowOnPty t;
    QVERIFY(t.open());
    t.click("pushButton_GetNoise");
    QCOMPARE(t.sent(8), noiseQuery());

    const QByteArray reply = withCrc("000402"
                                     "01c8");
    QTest::ignoreMessage(QtDebugMsg, "7 \r\n");
    t.reply(reply);
    QCOMPARE(t.log()->toPlainText(),
             toHexText(reply) + QStringLiteral("\nCurrent Noise Value: 45.6  dB"));
    QCOMPARE(pendingReplies.waitNoise, 0);
}

void WindowRepliesTest::ownProtocolRepliesFillTheirFields()
{
    WindowOnPty t;
    QVERIFY(t.open());
    // Several replies in one read: each on its own 19-byte slot.
    t.reply(ownReply(0xA6, "000000000000"
                           "12ab00ff") +
            ownReply(0xB5, "00000000000000"
                           "110607") +
            ownReply(0xA9, "51"
                           "00000096"
                           "ffffff9c"
                           "000004d2") +
            ownReply(0xB4, "0b"
                           "00"
                           "05"
                           "64") +
            ownReply(0xA5, "03"
                           "0000"
                           "1027"
                           "00000000"
                           "c801"
                           "00000064"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "Edit_DeviceID")->text(),
             QStringLiteral("12ab-00ff"));
    QCOMPARE(widget<QLabel>(t.window.get(), "label_softid")->text(), QStringLiteral("17-6-7"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamA")->text(),
             QStringLiteral("1.5"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamB")->text(),
             QStringLiteral("-1"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamC")->text(),
             QStringLiteral("12.34"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CalibrZero")->text(),
             QStringLiteral("-5"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CalibrateFactor")->text(),
             QStringLiteral("100"));
    QCOMPARE(t.log()->toPlainText(),
             QStringLiteral("Origin Value:  10000    AD Count: 100      Noise:  45.6  dB"));
}

void WindowRepliesTest::writeEchoConfirmsInChineseWithCatalogue()
{
    InstalledCatalogue catalogue;
    QVERIFY(catalogue.loaded);
    MessageBoxCloser boxes;
    WindowOnPty t;
    QVERIFY(t.open());

    t.click("pushButton_ChangeToModbus");
    QCOMPARE(t.sent(8), changeToModbusRequest());
    t.reply(changeToModbusRequest()); // the sensor echoes a write
    QCOMPARE(boxes.texts, QStringList{QString::fromUtf8("设备转换为MODBUS协议！")});
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("Information")});
    QCOMPARE(t.log()->toPlainText(), toHexText(changeToModbusRequest()) + QLatin1Char('\n') +
                                         QString::fromUtf8("设备转换为MODBUS协议！"));

    boxes.clear();
    t.reply(factoryConfigRequest());
    t.reply(changeToOwnProtocolRequest());
    t.reply(modbus::writeEcho(setCaliParamRequest(0, 0, 0)));
    QCOMPARE(boxes.texts, (QStringList{QString::fromUtf8("设备已恢复出厂设置！"),
                                       QString::fromUtf8("设备转换为维拉自有协议！"),
                                       QString::fromUtf8("设置标定系数成功！")}));
}

void WindowRepliesTest::writeEchoConfirmsInEnglishWithoutCatalogue()
{
    MessageBoxCloser boxes;
    WindowOnPty t;
    QVERIFY(t.open());
    t.reply(changeToModbusRequest());
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Device change to MODBUS!")});
    QCOMPARE(t.log()->toPlainText(),
             toHexText(changeToModbusRequest()) + QStringLiteral("\nDevice change to MODBUS!"));

    // An address-write echo opens no box; the log says what the sensor took.
    boxes.clear();
    t.log()->clear();
    t.reply(setDeviceAddrRequest(2));
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(t.log()->toPlainText(),
             toHexText(setDeviceAddrRequest(2)) + QStringLiteral("\n传感器确认：设备地址已设为 2"));
}

void WindowRepliesTest::ownParameterWriteConfirmationIsTranslated()
{
    InstalledCatalogue catalogue;
    QVERIFY(catalogue.loaded);
    MessageBoxCloser boxes;
    WindowOnPty t;
    QVERIFY(t.open());
    t.reply(ownReply(0xA8, "51") + ownReply(0xB4, "fd01") + ownReply(0xB4, "0c"));
    QCOMPARE(boxes.texts, (QStringList{QString::fromUtf8("设置标定系数成功！"),
                                       QString::fromUtf8("恢复出厂设置成功！"),
                                       QString::fromUtf8("设置校准成功!")}));
    QVERIFY(t.log()->toPlainText().isEmpty());
}

void WindowRepliesTest::truncatedReplyLeavesFieldAndFlag()
{
    WindowOnPty t;
    QVERIFY(t.open());
    widget<QLabel>(t.window.get(), "label_softid")->setText(QStringLiteral("old"));
    raisePending(pendingReplies, Query::Version, 0);
    t.reply(hex("00030205"));
    QCOMPARE(t.log()->toPlainText(), QStringLiteral("00 03 02 05 "));
    QCOMPARE(widget<QLabel>(t.window.get(), "label_softid")->text(), QStringLiteral("old"));
    QCOMPARE(pendingReplies.waitVersion, 1);

    // The whole reply, when it comes, is served.
    t.reply(withCrc("000302"
                    "160b"));
    QCOMPARE(widget<QLabel>(t.window.get(), "label_softid")->text(), QStringLiteral("17-6-11"));
    QCOMPARE(pendingReplies.waitVersion, 0);
}

void WindowRepliesTest::oversizedReadDecodesOnlyItsFirstSlots()
{
    WindowOnPty t;
    QVERIFY(t.open());
    QByteArray block;
    for (int slot = 0; slot < 8; ++slot)
        block += ownFrame(0xB5, QByteArray(7, '\0') + hex("1106") + char(10 + slot));
    // A ninth reply straddles the 160-byte bound and a tenth lies past it.
    block += ownReply(0xA6, "000000000000"
                            "deadbeef");
    block += ownReply(0xA6, "000000000000"
                            "cafef00d");
    block += QByteArray(300 - block.size(), '\x55');
    t.reply(block);
    QCOMPARE(widget<QLabel>(t.window.get(), "label_softid")->text(), QStringLiteral("17-6-17"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "Edit_DeviceID")->text(),
             QStringLiteral("ffff-ffff"));
    QVERIFY(t.log()->toPlainText().isEmpty());
}

void WindowRepliesTest::frameWrittenAnyTimeArrivesWhole()
{
    // Each tick discards unread input only; a frame still queued for output
    // when the tick ends goes out whole.
    WindowOnPty t;
    QVERIFY(t.open());
    widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamA")->setText(QStringLiteral("1.5"));
    widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamB")->setText(QStringLiteral("0"));
    widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamC")->setText(QStringLiteral("0"));
    const QByteArray expected = setCaliParamRequest(150, 0, 0);
    QRandomGenerator random(450);
    for (int round = 0; round < 12; ++round) {
        QTest::qWait(int(random.bounded(360)));
        t.click("pushButton_SetCaliParam");
        QCOMPARE(t.sent(expected.size()).toHex(), expected.toHex());
    }
}

namespace {

// A query button, the reply the test plays for it, and where and how the
// window shows that reply.
struct QueryCase {
    const char *button;
    QByteArray reply;
    std::function<QString(WindowOnPty &)> shown;
    QString expected;
};

QString fieldText(WindowOnPty &t, const char *name)
{
    return widget<QLineEdit>(t.window.get(), name)->text();
}

QString logLineStarting(WindowOnPty &t, const QString &start)
{
    for (const QString &line : t.log()->toPlainText().split(QLatin1Char('\n'))) {
        if (line.startsWith(start))
            return line;
    }
    return QString();
}

QVector<QueryCase> queryCases()
{
    return {
        {"pushButton_GetNoise",
         withCrc("000402"
                 "01c8"),
         [](WindowOnPty &t) { return logLineStarting(t, QStringLiteral("Current")); },
         QStringLiteral("Current Noise Value: 45.6  dB")},
        {"pushButton_GetDeviceAddr",
         withCrc("000302"
                 "001f"),
         [](WindowOnPty &t) { return fieldText(t, "lineEdit_DeviceAddr"); }, QStringLiteral("1f")},
        {"pushButton_Calibrate",
         withCrc("000304"
                 "00050064"),
         [](WindowOnPty &t) {
             return fieldText(t, "lineEdit_CalibrZero") + QLatin1Char(' ') +
                    fieldText(t, "lineEdit_CalibrateFactor");
         },
         QStringLiteral("-5 100")},
        {"pushButton_GetSN",
         withCrc("000304"
                 "12ab00ff"),
         [](WindowOnPty &t) { return fieldText(t, "Edit_DeviceID"); }, QStringLiteral("12ab-00ff")},
        {"pushButton_GetVersion",
         withCrc("000302"
                 "160b"),
         [](WindowOnPty &t) { return widget<QLabel>(t.window.get(), "label_softid")->text(); },
         QStringLiteral("17-6-11")},
        {"pushButton_GetOrigin",
         withCrc("000306"
                 "000186a001c8"),
         [](WindowOnPty &t) { return logLineStarting(t, QStringLiteral("Origin")); },
         QStringLiteral("Origin Value:  100000   ::::::  45.6    dB   ")},
        {"pushButton_GetCaliParam",
         withCrc("00030c"
                 "00000096"
                 "ffffff9c"
                 "000004d2"),
         [](WindowOnPty &t) {
             return fieldText(t, "lineEdit_CaliParamA") + QLatin1Char(' ') +
                    fieldText(t, "lineEdit_CaliParamB") + QLatin1Char(' ') +
                    fieldText(t, "lineEdit_CaliParamC");
         },
         QStringLiteral("1.5 -1 12.34")},
    };
}

void clearDisplay(WindowOnPty &t)
{
    t.click("pushButton");
    for (const char *name :
         {"lineEdit_DeviceAddr", "lineEdit_CalibrZero", "lineEdit_CalibrateFactor", "Edit_DeviceID",
          "lineEdit_CaliParamA", "lineEdit_CaliParamB", "lineEdit_CaliParamC"})
        widget<QLineEdit>(t.window.get(), name)->setText(QStringLiteral("~"));
    widget<QLabel>(t.window.get(), "label_softid")->setText(QStringLiteral("~"));
}

} // namespace

// Every pair of queries clicked before one poll, both replies read at once
// in request order: each shows its own value, also when both replies have
// the same shape (address and version; serial number and calibration).
void WindowRepliesTest::queriesClickedTogetherEachShowTheirOwnReply()
{
    WindowOnPty t;
    QVERIFY(t.open());
    const QVector<QueryCase> cases = queryCases();
    for (int i = 0; i < cases.size(); ++i) {
        for (int j = i + 1; j < cases.size(); ++j) {
            // Half the pairs in table order, half the other way round.
            const QueryCase &first = cases[(i + j) % 2 ? j : i];
            const QueryCase &second = cases[(i + j) % 2 ? i : j];
            clearDisplay(t);
            t.click(first.button);
            t.click(second.button);
            if (first.reply.mid(1, 2) == second.reply.mid(1, 2)) {
                // One reply shape: the second query waits for the first's reply.
                QCOMPARE(t.sentExactly(modbus::kReadRequestSize).size(), modbus::kReadRequestSize);
                QVERIFY(t.status().contains(QString::fromUtf8("等待")));
                t.reply(first.reply);
                QCOMPARE(t.sent(modbus::kReadRequestSize).size(), modbus::kReadRequestSize);
                t.reply(second.reply);
            } else {
                QCOMPARE(t.sent(2 * modbus::kReadRequestSize).size(), 2 * modbus::kReadRequestSize);
                t.reply(first.reply + second.reply);
            }
            const QString pair = QStringLiteral("%1 then %2").arg(first.button, second.button);
            QVERIFY2(first.shown(t) == first.expected, qPrintable(pair + ": " + first.shown(t)));
            QVERIFY2(second.shown(t) == second.expected, qPrintable(pair + ": " + second.shown(t)));
            for (Query query : kQueries)
                QCOMPARE(pendingFlag(pendingReplies, query), 0);
        }
    }
}

void WindowRepliesTest::unansweredRefusedAndConfirmedRequestsAreSaidInWords()
{
    WindowOnPty t;
    QVERIFY(t.open());
    const auto lastLine = [&t] { return t.log()->toPlainText().split(QLatin1Char('\n')).last(); };

    // No reply within the deadline: said in the log and the status bar.
    t.click("pushButton_GetNoise");
    QTRY_COMPARE_WITH_TIMEOUT(lastLine(), QStringLiteral("传感器未应答：查询噪音值"),
                              int(kReplyDeadlineMs) + 1500);
    QCOMPARE(t.status(), lastLine());
    QCOMPARE(pendingReplies.waitNoise, 0);

    // Refusals name the request and the reason.
    t.click("pushButton_GetDeviceAddr");
    t.reply(modbus::exceptionReply(0, 0x03, modbus::kIllegalDataAddress));
    QCOMPARE(lastLine(),
             QStringLiteral("传感器拒绝了请求“设备地址查询”：非法数据地址（异常码 02）"));
    QCOMPARE(pendingReplies.waitDeviceAddr, 0);
    widget<QLineEdit>(t.window.get(), "lineEdit_DeviceAddr")->setText(QStringLiteral("f7"));
    t.click("pushButton_SetDeviceAddr");
    t.reply(modbus::exceptionReply(0, 0x06, modbus::kIllegalDataValue));
    QCOMPARE(lastLine(), QStringLiteral("传感器拒绝了请求“设备地址设置”：非法数据值（异常码 03）"));

    // The next request that goes out replaces the refusal in the status bar.
    QCOMPARE(t.status(), lastLine());
    t.click("pushButton_GetSN");
    QCOMPARE(t.status(), QStringLiteral("已发送“获取设备SN”"));

    // A reply that came only damaged is said so at the deadline.
    QByteArray damaged = withCrc("000304"
                                 "12ab00ff");
    damaged[4] = char(0x00);
    t.reply(damaged);
    QVERIFY(widget<QLineEdit>(t.window.get(), "Edit_DeviceID")->text().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(lastLine(),
                              QStringLiteral("传感器应答已损坏（校验错误），已忽略：获取设备SN"),
                              int(kReplyDeadlineMs) + 1500);
    QCOMPARE(t.status(), lastLine());

    // Confirmed writes say what the sensor took.
    t.reply(setDeviceAddrRequest(0x1F));
    QCOMPARE(lastLine(), QStringLiteral("传感器确认：设备地址已设为 1f"));
    t.reply(modbus::writeEcho(calibrateWriteRequest(2, -5, 100)));
    QCOMPARE(lastLine(), QStringLiteral("传感器确认：已写入校准范围 2 的数值校准和比例校准"));
}

void WindowRepliesTest::reopeningTheLinkForgetsWhatWasAsked()
{
    WindowOnPty t;
    QVERIFY(t.open());
    auto *serial = widget<QLineEdit>(t.window.get(), "Edit_DeviceID");
    auto *version = widget<QLabel>(t.window.get(), "label_softid");
    const QString initial[] = {serial->text(), version->text()};
    t.click("pushButton_GetNoise");
    t.click("pushButton_GetVersion");
    t.click("pushButton_GetDeviceAddr"); // held behind the version query
    serial->setText(QStringLiteral("12ab-00ff"));
    t.click("pushButtonClose");
    QVERIFY(t.open());
    for (Query query : kQueries)
        QCOMPARE(pendingFlag(pendingReplies, query), 0);
    QVERIFY(pendingReplies.held.isEmpty());
    // The previous sensor's values go too; the log stays, read-only and
    // bounded.
    QCOMPARE(serial->text(), initial[0]);
    QCOMPARE(version->text(), initial[1]);
    QVERIFY(t.log()->isReadOnly());
    QCOMPARE(t.log()->document()->maximumBlockCount(), 10000);
    const QByteArray stale = withCrc("000402"
                                     "01c8");
    t.reply(stale);
    QCOMPARE(t.log()->toPlainText(), toHexText(stale));
}

QTEST_MAIN(WindowRepliesTest)
#include "tst_window_replies.moc"
