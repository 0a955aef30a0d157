// Every command button, clicked in the real window: the exact bytes that
// reach the other end of a pseudo-terminal, the hex echo, the fields cleared
// and the flag raised; and what a click does while the link is closed.
#include "commands.h"
#include "frame.h"
#include "windowtest.h"

#include <functional>

using Prepare = std::function<void(QWidget *)>;
Q_DECLARE_METATYPE(Prepare)

namespace {

void setText(QWidget *window, const char *name, const char *text)
{
    widget<QLineEdit>(window, name)->setText(QString::fromUtf8(text));
}

int *flagNamed(const QByteArray &name)
{
    if (name == "waitNoise")
        return &pendingReplies.waitNoise;
    if (name == "waitDeviceAddr")
        return &pendingReplies.waitDeviceAddr;
    if (name == "waitCalibrate")
        return &pendingReplies.waitCalibrate;
    if (name == "waitSN")
        return &pendingReplies.waitSN;
    if (name == "waitVersion")
        return &pendingReplies.waitVersion;
    if (name == "waitOrigin")
        return &pendingReplies.waitOrigin;
    if (name == "waitCaliParam")
        return &pendingReplies.waitCaliParam;
    return nullptr;
}

const char *const kFilledFields[] = {
    "Edit_DeviceID",       "lineEdit_DeviceAddr", "lineEdit_CalibrZero", "lineEdit_CalibrateFactor",
    "lineEdit_CaliParamA", "lineEdit_CaliParamB", "lineEdit_CaliParamC"};

} // namespace

class WindowCommandsTest : public QObject
{
    Q_OBJECT

  private slots:
    void init() { pendingReplies = PendingReplies(); }

    void buttonSendsExactFrame_data();
    void buttonSendsExactFrame();
    void identityQuerySendsTwoFramesWithoutEcho();
    void setIdentityShowsNoEcho();
    void commandOnClosedLinkSendsNothing_data();
    void commandOnClosedLinkSendsNothing();
    void refusedInputSendsNothingAndSaysWhatTheFieldAccepts_data();
    void refusedInputSendsNothingAndSaysWhatTheFieldAccepts();
    void parametersReachTheWireExactlyForEveryCent();
    void factoryResetAsksFirstAndNoSendsNothing();
};

void WindowCommandsTest::buttonSendsExactFrame_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<Prepare>("prepare");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("flag");
    QTest::addColumn<QStringList>("cleared");

    const Prepare none = [](QWidget *) {};
    const auto address = [](const char *text) {
        return Prepare([text](QWidget *w) { setText(w, "lineEdit_DeviceAddr", text); });
    };
    const auto params = [](const char *a, const char *b, const char *c) {
        return Prepare([=](QWidget *w) {
            setText(w, "lineEdit_CaliParamA", a);
            setText(w, "lineEdit_CaliParamB", b);
            setText(w, "lineEdit_CaliParamC", c);
        });
    };
    const auto calibrate = [](int op, const char *offset, const char *factor) {
        return Prepare([=](QWidget *w) {
            widget<QComboBox>(w, "comboBox_Calibrate")->setCurrentIndex(op);
            setText(w, "lineEdit_CalibrZero", offset);
            setText(w, "lineEdit_CalibrateFactor", factor);
        });
    };
    const QStringList noFields;
    const QStringList abc{"lineEdit_CaliParamA", "lineEdit_CaliParamB", "lineEdit_CaliParamC"};

    QTest::newRow("noise") << QByteArray("pushButton_GetNoise") << none << hex("000400000001301b")
                           << QByteArray("waitNoise") << noFields;
    QTest::newRow("serial number")
        << QByteArray("pushButton_GetSN") << none << hex("000300010002941a") << QByteArray("waitSN")
        << QStringList{"Edit_DeviceID"};
    QTest::newRow("version") << QByteArray("pushButton_GetVersion") << none
                             << hex("000300030001"
                                    "75db")
                             << QByteArray("waitVersion") << QStringList{"label_softid"};
    QTest::newRow("address query")
        << QByteArray("pushButton_GetDeviceAddr") << none << hex("00030009000155d9")
        << QByteArray("waitDeviceAddr") << QStringList{"lineEdit_DeviceAddr"};
    QTest::newRow("set address 2") << QByteArray("pushButton_SetDeviceAddr") << address("2")
                                   << hex("000600090002d9d8") << QByteArray() << noFields;
    QTest::newRow("set address 0x1F") << QByteArray("pushButton_SetDeviceAddr") << address(" 0x1F ")
                                      << hex("00060009001f19d1") << QByteArray() << noFields;
    QTest::newRow("set address f7") << QByteArray("pushButton_SetDeviceAddr") << address("f7")
                                    << hex("0006000900f7199f") << QByteArray() << noFields;
    QTest::newRow("origin") << QByteArray("pushButton_GetOrigin") << none << hex("000300a1000355f8")
                            << QByteArray("waitOrigin") << noFields;
    QTest::newRow("factory") << QByteArray("pushButton_SetFactoryConfig") << none
                             << hex("000600a5000159f8") << QByteArray() << noFields;
    QTest::newRow("to own protocol") << QByteArray("pushButton_ChangeToVelaProtocol") << none
                                     << hex("000600b10000d83c") << QByteArray() << noFields;
    QTest::newRow("to modbus") << QByteArray("pushButton_ChangeToModbus") << none
                               << hex("000600b10003983d") << QByteArray() << noFields;
    QTest::newRow("parameters read")
        << QByteArray("pushButton_GetCaliParam") << none << hex("000300b20006643e")
        << QByteArray("waitCaliParam") << abc;
    QTest::newRow("parameters write")
        << QByteArray("pushButton_SetCaliParam") << params("1.5", "-1", "0")
        << hex("001000b200060c00000096ffffff9c00000000c040") << QByteArray() << noFields;
    QTest::newRow("calibrate read")
        << QByteArray("pushButton_Calibrate") << calibrate(0, "7", "9") << hex("000300c3000235e6")
        << QByteArray("waitCalibrate")
        << QStringList{"lineEdit_CalibrZero", "lineEdit_CalibrateFactor"};
    QTest::newRow("calibrate write -5")
        << QByteArray("pushButton_Calibrate") << calibrate(1, "-5", "100")
        << hex("001000c30002040005006"
               "4aafc")
        << QByteArray() << noFields;
    QTest::newRow("calibrate write 5")
        << QByteArray("pushButton_Calibrate") << calibrate(1, "5", "100")
        << hex("001000c3000204010500"
               "64ab00")
        << QByteArray() << noFields;
    QTest::newRow("own parameters read") << QByteArray("pushButton_GetCaliParam_Vela") << none
                                         << hex("aaa951"
                                                "0000000000000000000000000000"
                                                "51ab")
                                         << QByteArray() << abc;
    QTest::newRow("own parameters write")
        << QByteArray("pushButton_SetCaliParam_Vela") << params("1.5", "-1", "0")
        << hex("aaa85100000096ffffff9c00000000000080ab") << QByteArray() << noFields;
}

void WindowCommandsTest::buttonSendsExactFrame()
{
    QFETCH(QByteArray, button);
    QFETCH(Prepare, prepare);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, flag);
    QFETCH(QStringList, cleared);

    MessageBoxCloser boxes; // says Yes to the factory reset's question
    WindowOnPty t;
    QVERIFY(t.open());
    for (const char *name : kFilledFields)
        setText(t.window.get(), name, "before");
    prepare(t.window.get());
    QMap<QString, QString> before;
    for (const char *name : kFilledFields)
        before[QLatin1String(name)] = widget<QLineEdit>(t.window.get(), name)->text();

    t.click(button.constData());

    QCOMPARE(t.sentExactly(frame.size()).toHex(), frame.toHex());
    QCOMPARE(t.cmd()->text(), toHexText(frame));
    QCOMPARE(t.cmd()->text().size(), frame.size() * 3);

    for (const char *name : {"waitNoise", "waitDeviceAddr", "waitCalibrate", "waitSN",
                             "waitVersion", "waitOrigin", "waitCaliParam"})
        QCOMPARE(*flagNamed(name), flag == name ? 1 : 0);
    for (const char *name : kFilledFields) {
        const QString text = widget<QLineEdit>(t.window.get(), name)->text();
        if (cleared.contains(QLatin1String(name)))
            QVERIFY2(text.isEmpty(), name);
        else
            QCOMPARE(text, before[QLatin1String(name)]);
    }
    if (cleared.contains(QStringLiteral("label_softid")))
        QVERIFY(widget<QLabel>(t.window.get(), "label_softid")->text().isEmpty());
}

void WindowCommandsTest::identityQuerySendsTwoFramesWithoutEcho()
{
    WindowOnPty t;
    QVERIFY(t.open());
    t.cmd()->setText(QStringLiteral("previous"));
    t.click("pushButton_GetInfo");
    const QByteArray expected = hex("aaa6"
                                    "00000000000000000000000000000000"
                                    "ab"
                                    "aab5"
                                    "00000000000000000000000000000000"
                                    "ab");
    QCOMPARE(t.sentExactly(expected.size()).toHex(), expected.toHex());
    QCOMPARE(t.cmd()->text(), QStringLiteral("previous"));
    QVERIFY(widget<QLineEdit>(t.window.get(), "Edit_DeviceID")->text().isEmpty());
    QVERIFY(widget<QLabel>(t.window.get(), "label_softid")->text().isEmpty());
    QCOMPARE(pendingReplies.waitSN + pendingReplies.waitVersion, 0);
}

void WindowCommandsTest::setIdentityShowsNoEcho()
{
    WindowOnPty t;
    QVERIFY(t.open());
    t.cmd()->setText(QStringLiteral("previous"));
    QTest::ignoreMessage(QtDebugMsg, "ff ff ff ff");
    t.click("pushButton_SetID");
    const QByteArray expected = hex("aaa7000000000000ffffffff0000000000fcab");
    QCOMPARE(t.sentExactly(expected.size()).toHex(), expected.toHex());
    QCOMPARE(t.cmd()->text(), QStringLiteral("previous"));
    QCOMPARE(widget<QLineEdit>(t.window.get(), "Edit_DeviceID")->text(),
             QStringLiteral("ffff-ffff"));
}

void WindowCommandsTest::commandOnClosedLinkSendsNothing_data()
{
    QTest::addColumn<QByteArray>("button");
    for (const char *name :
         {"pushButton_GetNoise", "pushButton_GetSN", "pushButton_GetVersion",
          "pushButton_GetDeviceAddr", "pushButton_SetDeviceAddr", "pushButton_GetOrigin",
          "pushButton_SetFactoryConfig", "pushButton_ChangeToVelaProtocol",
          "pushButton_ChangeToModbus", "pushButton_GetCaliParam", "pushButton_SetCaliParam",
          "pushButton_Calibrate", "pushButton_GetInfo", "pushButton_SetID",
          "pushButton_GetCaliParam_Vela", "pushButton_SetCaliParam_Vela"})
        QTest::newRow(name) << QByteArray(name);
}

void WindowCommandsTest::commandOnClosedLinkSendsNothing()
{
    QFETCH(QByteArray, button);
    WindowOnPty t;
    QVERIFY(t.open());
    t.click("pushButtonClose");

    t.cmd()->setText(QStringLiteral("previous"));
    for (const char *name : kFilledFields)
        setText(t.window.get(), name, "kept");
    widget<QLabel>(t.window.get(), "label_softid")->setText(QStringLiteral("kept"));

    t.click(button.constData());

    QCOMPARE(t.flushed(), QByteArray());
    QCOMPARE(t.cmd()->text(), QStringLiteral("previous"));
    for (const char *name : kFilledFields)
        QCOMPARE(widget<QLineEdit>(t.window.get(), name)->text(), QStringLiteral("kept"));
    QCOMPARE(widget<QLabel>(t.window.get(), "label_softid")->text(), QStringLiteral("kept"));
    for (const char *name : {"waitNoise", "waitDeviceAddr", "waitCalibrate", "waitSN",
                             "waitVersion", "waitOrigin", "waitCaliParam"})
        QCOMPARE(*flagNamed(name), 0);
    QVERIFY(t.status().contains(QString::fromUtf8("串口未打开")));
}

void WindowCommandsTest::refusedInputSendsNothingAndSaysWhatTheFieldAccepts_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("named"); // the field's name in the status message

    const struct {
        const char *button;
        const char *field;
        const char *named;
        std::initializer_list<const char *> texts;
    } cases[] = {
        {"pushButton_SetDeviceAddr",
         "lineEdit_DeviceAddr",
         "设备地址",
         {"", "zz", "0", "f8", "100", "1FF", "-1", "1.5", "1f x"}},
        {"pushButton_Calibrate",
         "lineEdit_CalibrZero",
         "数值校准",
         {"", "abc", "256", "-256", "300", "1.5", "5e1", "0x10"}},
        {"pushButton_Calibrate",
         "lineEdit_CalibrateFactor",
         "比例校准",
         {"", "-1", "256", "999", "12.0", "1e2"}},
        {"pushButton_SetCaliParam",
         "lineEdit_CaliParamB",
         "参数B",
         {"", "x", "0.001", "nan", "inf", "-inf", "1e3", "3,5", "21474836.48", "-21474836.49",
          "1.5.2", "1.5 dB"}},
        {"pushButton_SetCaliParam_Vela", "lineEdit_CaliParamC", "参数C", {"0.295", "NaN", "1E2"}},
        {"pushButton_SetID",
         "Edit_DeviceID",
         "设备ID",
         {"", "1234", "12345-1", "zz-00ff", "1-2-3", "12ab-", "-00ff", "12ab 00ff"}},
    };
    for (const auto &c : cases) {
        for (const char *text : c.texts)
            QTest::addRow("%s '%s'", c.field, text)
                << QByteArray(c.button) << QByteArray(c.field) << QString::fromUtf8(text)
                << QString::fromUtf8(c.named);
    }
}

void WindowCommandsTest::refusedInputSendsNothingAndSaysWhatTheFieldAccepts()
{
    QFETCH(QByteArray, button);
    QFETCH(QByteArray, field);
    QFETCH(QString, text);
    QFETCH(QString, named);

    WindowOnPty t;
    QVERIFY(t.open());
    // Every other input valid: only the field under test can be refused.
    setText(t.window.get(), "lineEdit_DeviceAddr", "1f");
    setText(t.window.get(), "lineEdit_CalibrZero", "-5");
    setText(t.window.get(), "lineEdit_CalibrateFactor", "100");
    setText(t.window.get(), "lineEdit_CaliParamA", "1.5");
    setText(t.window.get(), "lineEdit_CaliParamB", "-1");
    setText(t.window.get(), "lineEdit_CaliParamC", "0");
    setText(t.window.get(), "Edit_DeviceID", "12ab-00ff");
    widget<QComboBox>(t.window.get(), "comboBox_Calibrate")->setCurrentIndex(1);
    auto *edit = widget<QLineEdit>(t.window.get(), field.constData());
    edit->setText(text);
    t.cmd()->setText(QStringLiteral("previous"));

    t.click(button.constData());

    QCOMPARE(t.flushed(), QByteArray());
    QCOMPARE(t.cmd()->text(), QStringLiteral("previous"));
    QCOMPARE(edit->text(), text);
    for (const char *name : {"waitNoise", "waitDeviceAddr", "waitCalibrate", "waitSN",
                             "waitVersion", "waitOrigin", "waitCaliParam"})
        QCOMPARE(*flagNamed(name), 0);
    QVERIFY2(t.status().startsWith(named), qPrintable(t.status()));
    QCOMPARE(t.window->focusWidget(), edit);
    QCOMPARE(edit->selectedText(), text);
}

void WindowCommandsTest::parametersReachTheWireExactlyForEveryCent()
{
    // Read digit by digit: 0.29 goes out as 29, never as the 28 of a float.
    WindowOnPty t;
    QVERIFY(t.open());
    for (int cents = 0; cents <= 99; ++cents) {
        const QString fraction = QStringLiteral(".%1").arg(cents, 2, 10, QLatin1Char('0'));
        widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamA")
            ->setText(QStringLiteral("0") + fraction);
        widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamB")
            ->setText(QStringLiteral("-1") + fraction);
        widget<QLineEdit>(t.window.get(), "lineEdit_CaliParamC")
            ->setText(QStringLiteral("21474835") + fraction);
        t.click("pushButton_SetCaliParam");
        const QByteArray expected = setCaliParamRequest(cents, -(100 + cents), 2147483500 + cents);
        QCOMPARE(t.sent(expected.size()).toHex(), expected.toHex());
    }
}

void WindowCommandsTest::factoryResetAsksFirstAndNoSendsNothing()
{
    for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        MessageBoxCloser boxes;
        boxes.answer = answer;
        WindowOnPty t;
        QVERIFY(t.open());
        t.cmd()->setText(QStringLiteral("previous"));
        const QString status = t.status();
        t.click("pushButton_SetFactoryConfig");
        // The question names what is lost, and No is its default.
        QCOMPARE(boxes.questions.size(), 1);
        QVERIFY(boxes.questions[0].contains(QString::fromUtf8("校准")));
        QCOMPARE(boxes.questionDefaults, QList<QMessageBox::StandardButton>{QMessageBox::No});
        const QByteArray frame = factoryConfigRequest();
        const bool yes = answer == QMessageBox::Yes;
        QCOMPARE((yes ? t.sentExactly(frame.size()) : t.flushed()).toHex(),
                 yes ? frame.toHex() : QByteArray());
        QCOMPARE(t.cmd()->text(), yes ? toHexText(frame) : QStringLiteral("previous"));
        QCOMPARE(t.status() == status, !yes);
        // Tab reaches it after the reads of its page, not first.
        QCOMPARE(widget<QWidget>(t.window.get(), "pushButton_GetVersion")->nextInFocusChain(),
                 widget<QWidget>(t.window.get(), "pushButton_SetFactoryConfig"));
    }
}

QTEST_MAIN(WindowCommandsTest)
#include "tst_window_commands.moc"
