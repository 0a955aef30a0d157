// Replies written at the far end of a pseudo-terminal, as the window shows
// them after its next poll tick: fields, log lines and confirmation boxes.
#include "commands.h"
#include "frame.h"
#include "pendingreplies.h"
#include "windowtest.h"

#include <QFile>
#include <QRandomGenerator>

namespace {

QByteArray withCrc(const char *hex)
{
    QByteArray frame = bytes(hex);
    appendModbusCrc(frame);
    return frame;
}

QByteArray ownReply(uint8_t command, const char *dataHex)
{
    return ownFrame(command, bytes(dataHex));
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
};

void WindowRepliesTest::catalogueIsEmbedded()
{
    QFile catalogue(QStringLiteral(":/ts/zh_CN.qm"));
    QVERIFY(catalogue.exists());
    QCOMPARE(catalogue.size(), 377);
}

void WindowRepliesTest::noiseQueryAndReplyEndToEnd()
{
    WindowOnPty t;
    QVERIFY(t.open());
    t.click("pushButton_GetNoise");
    QCOMPARE(t.sent(8), noiseQuery());

    const QByteArray reply = withCrc("000402" "01c8");
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
    t.reply(ownReply(0xA6, "000000000000" "12ab00ff") + ownReply(0xB5, "00000000000000" "110607")
            + ownReply(0xA9, "51" "00000096" "ffffff9c" "000004d2")
            + ownReply(0xB4, "0b" "00" "05" "64")
            + ownReply(0xA5, "03" "0000" "1027" "00000000" "c801" "00000064"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "Edit_DeviceID")->text(), QStringLiteral("12ab-00ff"));
    QCOMPARE(widget<QLabel>(t.window.get(), "label_softid")->text(), QStringLiteral("17-6-7"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamA")->text(), QStringLiteral("1.5"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamB")->text(), QStringLiteral("-1"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamC")->text(), QStringLiteral("12.34"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "lineEdit_CalibrZero")->text(), QStringLiteral("-5"));
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
    QCOMPARE(t.log()->toPlainText(), toHexText(changeToModbusRequest()) + QLatin1Char('\n')
                                         + QString::fromUtf8("设备转换为MODBUS协议！"));

    boxes.clear();
    t.reply(factoryConfigRequest());
    t.reply(changeToOwnProtocolRequest());
    t.reply(setCaliParamRequest(0, 0, 0).left(6) + QByteArray(2, '\0'));
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
    QCOMPARE(t.log()->toPlainText(), toHexText(changeToModbusRequest())
                                         + QStringLiteral("\nDevice change to MODBUS!"));

    // An address-write echo confirms nothing.
    boxes.clear();
    t.log()->clear();
    t.reply(setDeviceAddrRequest(2));
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(t.log()->toPlainText(), toHexText(setDeviceAddrRequest(2)));
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
    pendingReplies.waitVersion = 1;
    t.reply(bytes("00030205"));
    QCOMPARE(t.log()->toPlainText(), QStringLiteral("00 03 02 05 "));
    QCOMPARE(widget<QLabel>(t.window.get(), "label_softid")->text(), QStringLiteral("old"));
    QCOMPARE(pendingReplies.waitVersion, 1);

    // The whole reply, when it comes, is served.
    t.reply(withCrc("000302" "160b"));
    QCOMPARE(widget<QLabel>(t.window.get(), "label_softid")->text(), QStringLiteral("17-6-11"));
    QCOMPARE(pendingReplies.waitVersion, 0);
}

void WindowRepliesTest::oversizedReadDecodesOnlyItsFirstSlots()
{
    WindowOnPty t;
    QVERIFY(t.open());
    QByteArray block;
    for (int slot = 0; slot < 8; ++slot)
        block += ownFrame(0xB5, QByteArray(7, '\0') + bytes("1106") + char(10 + slot));
    // A ninth reply straddles the 160-byte bound and a tenth lies past it.
    block += ownReply(0xA6, "000000000000" "deadbeef");
    block += ownReply(0xA6, "000000000000" "cafef00d");
    block += QByteArray(300 - block.size(), '\x55');
    t.reply(block);
    QCOMPARE(widget<QLabel>(t.window.get(), "label_softid")->text(), QStringLiteral("17-6-17"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "Edit_DeviceID")->text(), QStringLiteral("ffff-ffff"));
    QVERIFY(t.log()->toPlainText().isEmpty());
}

void WindowRepliesTest::frameWrittenAnyTimeArrivesWhole()
{
    // Each tick discards unread input only; a frame still queued for output
    // when the tick ends goes out whole.
    WindowOnPty t;
    QVERIFY(t.open());
    widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamA")->setText(QStringLiteral("1.5"));
    const QByteArray expected = setCaliParamRequest(150, 0, 0);
    QRandomGenerator random(450);
    for (int round = 0; round < 12; ++round) {
        QTest::qWait(int(random.bounded(360)));
        t.click("pushButton_SetCaliParam");
        QCOMPARE(t.sent(expected.size()).toHex(), expected.toHex());
    }
}

QTEST_MAIN(WindowRepliesTest)
#include "tst_window_replies.moc"
