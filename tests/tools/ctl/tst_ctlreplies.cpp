// Framing the reply out of the byte stream, checking it against the request,
// and reading it in the window's formats.
#include "commands.h"
#include "ctloutput.h"
#include "formats.h"
#include "frame.h"
#include "modbus.h"
#include "replyframer.h"
#include "sensor.h"
#include "sensorcommands.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray withCrc(const char *text)
{
    QByteArray frame = hex(text);
    appendModbusCrc(frame);
    return frame;
}

// An own-protocol frame with `data` from offset 2; checksum summed here.
QByteArray ownReply(uint8_t command, const QByteArray &data)
{
    QByteArray frame(19, '\0');
    frame[0] = char(0xAA);
    frame[1] = char(command);
    int sum = 0;
    for (int i = 0; i < data.size(); ++i) {
        frame[2 + i] = data[i];
        sum += uint8_t(data[i]);
    }
    frame[17] = char(sum & 0xFF);
    frame[18] = char(0xAB);
    return frame;
}

// Framers for the window's own requests to address 0 (and 1).
ReplyFramer noiseFramer(uint8_t slave = 0)
{
    return ReplyFramer::modbus(modbus::readRequest(slave, modbus::kReadInput, 0x0000, 1));
}

ReplyFramer serialFramer()
{
    return ReplyFramer::modbus(serialNumberQuery());
}

CtlCommand command(CommandKind kind)
{
    CtlCommand c;
    c.kind = kind;
    return c;
}

// Reads `reply` as the answer to `c` sent to address 0.
Interpretation answer(const CtlCommand &c, const QByteArray &reply)
{
    return interpretReply(c, planCommand(c, 0).request, reply);
}

} // namespace

class CtlRepliesTest : public QObject
{
    Q_OBJECT

  private slots:
    void replyFedByteByByteCompletesOnlyWithItsLastByte();
    void strayBytesInFrontOfReplyAreSkipped();
    void replyWithWrongCrcIsNotTakenAndIsReported();
    void exceptionReplyIsFramedAtFiveBytes();
    void replyFromOtherSlaveOrFunctionIsNotTaken();
    void lateReplyToEarlierRequestIsPassedOver();
    void unpromptedOwnFramesArePassedOver();
    void ownReplyWithWrongChecksumIsReported();

    void requestsToAddressZeroAreTheWindowsFrames();
    void requestsGoToTheGivenAddress();
    void readingsUseTheWindowsFormats();
    void parametersKeepEveryDigit();
    void exceptionIsReadInWords();
    void readReplyOfWrongLengthIsRefused();
    void writeIsConfirmedOnlyByMatchingEcho();
    void ownWritesAreConfirmedByTheValuesSent();

    void hundredthsTextIsExact_data();
    void hundredthsTextIsExact();
    void watchLinesAreCsvOrJson();
};

void CtlRepliesTest::replyFedByteByByteCompletesOnlyWithItsLastByte()
{
    const QByteArray reply = withCrc("0003040000006e");
    ReplyFramer framer = serialFramer();
    for (int i = 0; i < reply.size() - 1; ++i)
        QVERIFY2(!framer.feed(reply.mid(i, 1)), qPrintable(QString::number(i)));
    QVERIFY(framer.feed(reply.right(1)));
    QCOMPARE(framer.reply(), reply);
    QVERIFY(framer.problem().isEmpty());

    ReplyFramer own = ReplyFramer::own(0xA6);
    const QByteArray frame = ownReply(0xA6, hex("000000000000"
                                                "12ab00ff"));
    for (int i = 0; i < frame.size() - 1; ++i)
        QVERIFY(!own.feed(frame.mid(i, 1)));
    QVERIFY(own.feed(frame.right(1)));
    QCOMPARE(own.reply(), frame);
}

void CtlRepliesTest::strayBytesInFrontOfReplyAreSkipped()
{
    const QByteArray reply = withCrc("00040201c8");
    // A stray 00 looks like the slave address, a stray 00 04 like the whole
    // head of a reply; neither may hide the real one.
    for (const QByteArray &stray : {hex("db"), hex("00"), hex("0004"), hex("00040004")}) {
        ReplyFramer framer = noiseFramer();
        QVERIFY2(framer.feed(stray + reply), stray.toHex().constData());
        QCOMPARE(framer.reply(), reply);
    }
    ReplyFramer own = ReplyFramer::own(0xB5);
    const QByteArray frame = ownReply(0xB5, hex("00000000000000110607"));
    QVERIFY(own.feed(hex("aa01") + frame));
    QCOMPARE(own.reply(), frame);
}

void CtlRepliesTest::replyWithWrongCrcIsNotTakenAndIsReported()
{
    QByteArray damaged = withCrc("00040201c8");
    damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) ^ 0xFF);
    ReplyFramer framer = noiseFramer();
    QVERIFY(!framer.feed(damaged));
    QCOMPARE(framer.corruptFrames(), 1);
    QVERIFY2(framer.problem().contains(QStringLiteral("wrong CRC")), qPrintable(framer.problem()));
    // The good reply that follows (the retry's answer) is still found.
    QVERIFY(framer.feed(withCrc("00040201c8")));
}

void CtlRepliesTest::exceptionReplyIsFramedAtFiveBytes()
{
    const QByteArray exception = modbus::exceptionReply(0x00, modbus::kReadHolding, 0x02);
    QCOMPARE(exception.size(), 5);
    ReplyFramer framer = serialFramer();
    QVERIFY(!framer.feed(exception.left(2)));
    QVERIFY(framer.feed(exception.mid(2) + hex("ffff")));
    QCOMPARE(framer.reply(), exception);
}

void CtlRepliesTest::replyFromOtherSlaveOrFunctionIsNotTaken()
{
    ReplyFramer framer = noiseFramer(0x01);
    QVERIFY(!framer.feed(withCrc("02040201c8")));
    QVERIFY(!framer.feed(withCrc("01030201c8")));
    QVERIFY(framer.strayBytes() > 0);
    QVERIFY2(framer.problem().contains(QStringLiteral("form no reply")),
             qPrintable(framer.problem()));
}

void CtlRepliesTest::lateReplyToEarlierRequestIsPassedOver()
{
    // The serial number's reply (four data bytes) arrives while the version
    // (two) is awaited: same slave, same function, good CRC, not the answer.
    const QByteArray late = withCrc("00030423090451");
    const QByteArray wanted = withCrc("000302160b");
    ReplyFramer framer = ReplyFramer::modbus(versionQuery());
    QVERIFY(!framer.feed(late));
    QCOMPARE(framer.otherFrames(), 1);
    QVERIFY2(framer.problem().contains(QStringLiteral("answers another request (00 03 04 23")),
             qPrintable(framer.problem()));
    QVERIFY(framer.feed(wanted));
    QCOMPARE(framer.reply(), wanted);

    // A byte count no reply to this request has is noise at once: the
    // framer does not wait for the 255 bytes it announces.
    ReplyFramer noisy = ReplyFramer::modbus(versionQuery());
    QVERIFY(noisy.feed(hex("0003ff") + wanted));
    QCOMPARE(noisy.reply(), wanted);

    // A write's echo must repeat the request: the echo of another write is not it.
    ReplyFramer write = ReplyFramer::modbus(setDeviceAddrRequest(3));
    QVERIFY(!write.feed(modbus::writeEcho(setDeviceAddrRequest(2))));
    QVERIFY(write.feed(modbus::writeEcho(setDeviceAddrRequest(3))));
}

void CtlRepliesTest::unpromptedOwnFramesArePassedOver()
{
    const QByteArray report = ownReply(0xA5, hex("03"));
    const QByteArray otherSelector = ownReply(0xA9, hex("52"));
    const QByteArray wanted = ownReply(0xA9, hex("51000000640000003200000019"));
    ReplyFramer framer = ReplyFramer::own(0xA9, 0x51);
    QVERIFY(!framer.feed(report + otherSelector));
    QCOMPARE(framer.otherFrames(), 2);
    QVERIFY(framer.problem().isEmpty());
    QVERIFY(framer.feed(wanted));
    QCOMPARE(framer.reply(), wanted);
}

void CtlRepliesTest::ownReplyWithWrongChecksumIsReported()
{
    QByteArray frame = ownReply(0xA6, hex("000000000000"
                                          "12ab00ff"));
    frame[17] = char(frame.at(17) ^ 0xFF);
    ReplyFramer framer = ReplyFramer::own(0xA6);
    QVERIFY(!framer.feed(frame));
    QCOMPARE(framer.corruptFrames(), 1);
    QVERIFY(framer.problem().contains(QStringLiteral("wrong checksum")));
}

void CtlRepliesTest::requestsToAddressZeroAreTheWindowsFrames()
{
    const auto plan = [](CommandKind kind, void (*set)(CtlCommand &)) {
        CtlCommand c = command(kind);
        if (set)
            set(c);
        return planCommand(c, 0).request;
    };
    QCOMPARE(plan(CommandKind::Noise, nullptr), noiseQuery());
    QCOMPARE(plan(CommandKind::Watch, nullptr), noiseQuery());
    QCOMPARE(plan(CommandKind::Serial, nullptr), serialNumberQuery());
    QCOMPARE(plan(CommandKind::Version, nullptr), versionQuery());
    QCOMPARE(plan(CommandKind::Origin, nullptr), originQuery());
    QCOMPARE(plan(CommandKind::Address, nullptr), deviceAddrQuery());
    QCOMPARE(plan(CommandKind::Params, nullptr), caliParamQuery());
    QCOMPARE(plan(CommandKind::FactoryReset, nullptr), factoryConfigRequest());
    QCOMPARE(plan(CommandKind::Address,
                  [](CtlCommand &c) {
                      c.write = true;
                      c.newAddress = 2;
                  }),
             setDeviceAddrRequest(2));
    QCOMPARE(plan(CommandKind::Protocol,
                  [](CtlCommand &c) {
                      c.write = true;
                      c.toOwnProtocol = true;
                  }),
             changeToOwnProtocolRequest());
    QCOMPARE(plan(CommandKind::Protocol, [](CtlCommand &c) { c.write = true; }),
             changeToModbusRequest());
    QCOMPARE(plan(CommandKind::Calibration, [](CtlCommand &c) { c.range = 2; }),
             calibrateReadRequest(2));
    for (int offset : {-5, 0, 5, 255, -255}) {
        CtlCommand c = command(CommandKind::Calibration);
        c.write = true;
        c.range = 1;
        c.offset = offset;
        c.factor = 100;
        QCOMPARE(planCommand(c, 0).request, calibrateWriteRequest(1, offset, 100));
    }
    QCOMPARE(plan(CommandKind::Params,
                  [](CtlCommand &c) {
                      c.write = true;
                      c.params = {150, -100, 0};
                  }),
             setCaliParamRequest(150, -100, 0));
    QCOMPARE(plan(CommandKind::Params, [](CtlCommand &c) { c.ownProtocol = true; }),
             ownCaliParamQuery());
    QCOMPARE(plan(CommandKind::Params,
                  [](CtlCommand &c) {
                      c.ownProtocol = c.write = true;
                      c.params = {150, -100, 0};
                  }),
             ownSetCaliParamRequest(150, -100, 0));
    QCOMPARE(plan(CommandKind::Version, [](CtlCommand &c) { c.ownProtocol = true; }),
             ownVersionQuery());
    QCOMPARE(plan(CommandKind::Identity, [](CtlCommand &c) { c.ownProtocol = true; }),
             ownIdentityQuery());
    QCOMPARE(plan(CommandKind::Identity,
                  [](CtlCommand &c) {
                      c.ownProtocol = c.write = true;
                      c.identity = {1, 2, 3, 4};
                  }),
             ownSetIdentityRequest({1, 2, 3, 4}));
}

void CtlRepliesTest::requestsGoToTheGivenAddress()
{
    const QByteArray request = planCommand(command(CommandKind::Noise), 0x1F).request;
    QCOMPARE(request, withCrc("1f0400000001"));
    CtlCommand reset = command(CommandKind::FactoryReset);
    reset.write = true;
    QCOMPARE(planCommand(reset, 0x07).request, withCrc("070600a50001"));
}

void CtlRepliesTest::readingsUseTheWindowsFormats()
{
    const struct {
        CommandKind kind;
        const char *reply; // without CRC
        const char *text;
        const char *json;
    } cases[] = {
        {CommandKind::Noise, "00040201c8", "45.6", R"({"noise":45.6})"},
        {CommandKind::Noise, "00040203e8", "100", R"({"noise":100})"},
        {CommandKind::Serial, "00030412ab00ff", "12ab-00ff", R"({"serial":"12ab-00ff"})"},
        {CommandKind::Version, "000302160b", "17-6-11", R"({"version":"17-6-11"})"},
        {CommandKind::Version, "0003021680", "17-6--128", R"({"version":"17-6--128"})"},
        {CommandKind::Address, "000302001f", "1f", R"({"address":31})"},
        {CommandKind::Calibration, "00030400050064", "-5 100",
         R"({"factor":100,"offset":-5,"range":0})"},
        {CommandKind::Calibration, "00030401050064", "5 100",
         R"({"factor":100,"offset":5,"range":0})"},
        {CommandKind::Origin, "000306000186a001c8", "100000 45.6",
         R"({"noise":45.6,"origin":100000})"},
        {CommandKind::Params, "00030c00000096ffffff9c00000000", "1.5 -1 0",
         R"({"a":1.5,"b":-1,"c":0})"},
    };
    for (const auto &c : cases) {
        const Interpretation read = answer(command(c.kind), withCrc(c.reply));
        QVERIFY2(read.ok(), qPrintable(read.error));
        QCOMPARE(read.reading.text, QString::fromLatin1(c.text));
        QCOMPARE(readingLine(read.reading, true), QString::fromLatin1(c.json));
    }

    CtlCommand identity = command(CommandKind::Identity);
    identity.ownProtocol = true;
    Interpretation read = answer(identity, ownReply(0xA6, hex("000000000000"
                                                              "12ab00ff")));
    QCOMPARE(read.reading.text, QStringLiteral("12ab-00ff"));
    CtlCommand version = command(CommandKind::Version);
    version.ownProtocol = true;
    read = answer(version, ownReply(0xB5, hex("0000000000000011067f")));
    QCOMPARE(read.reading.text, QStringLiteral("17-6-127"));
    CtlCommand params = command(CommandKind::Params);
    params.ownProtocol = true;
    read = answer(params, ownReply(0xA9, hex("51000004d2ffffff9c00000001")));
    QCOMPARE(read.reading.text, QStringLiteral("12.34 -1 0.01"));
}

void CtlRepliesTest::parametersKeepEveryDigit()
{
    // The window's six significant digits would print 2.14748e+07 and
    // 12345.7; a script reading the values back must get what it wrote.
    const Interpretation read =
        answer(command(CommandKind::Params), withCrc("00030c7fffffff0012d68780000000"));
    QCOMPARE(read.reading.text, QStringLiteral("21474836.47 12345.67 -21474836.48"));
    QCOMPARE(readingLine(read.reading, true),
             QStringLiteral(R"({"a":21474836.47,"b":12345.67,"c":-21474836.48})"));
}

void CtlRepliesTest::exceptionIsReadInWords()
{
    const Interpretation read =
        answer(command(CommandKind::Serial), modbus::exceptionReply(0, modbus::kReadHolding, 2));
    QVERIFY(!read.ok());
    QVERIFY2(read.error.contains(QStringLiteral("illegal data address (exception code 2)")),
             qPrintable(read.error));
}

void CtlRepliesTest::readReplyOfWrongLengthIsRefused()
{
    // Two registers asked for, one delivered.
    const Interpretation read = answer(command(CommandKind::Serial), withCrc("0003021234"));
    QVERIFY(!read.ok());
    QVERIFY2(read.error.contains(QStringLiteral("2 data bytes instead of 4")),
             qPrintable(read.error));
}

void CtlRepliesTest::writeIsConfirmedOnlyByMatchingEcho()
{
    CtlCommand address = command(CommandKind::Address);
    address.write = true;
    address.newAddress = 0x1f;
    Interpretation done = answer(address, withCrc("00060009001f"));
    QVERIFY2(done.ok(), qPrintable(done.error));
    QCOMPARE(done.reading.text, QStringLiteral("address set to 1f"));
    const Interpretation wrong = answer(address, withCrc("000600090001"));
    QVERIFY(!wrong.ok());
    QVERIFY2(wrong.error.contains(QStringLiteral("does not match")), qPrintable(wrong.error));

    CtlCommand calibration = command(CommandKind::Calibration);
    calibration.write = true;
    calibration.offset = -5;
    calibration.factor = 100;
    done = answer(calibration, withCrc("001000c30002"));
    QVERIFY2(done.ok(), qPrintable(done.error));
    QCOMPARE(done.reading.text, QStringLiteral("calibration range 0 set to -5 100"));
    QVERIFY(!answer(calibration, withCrc("001000c50002")).ok());

    CtlCommand reset = command(CommandKind::FactoryReset);
    reset.write = true;
    QCOMPARE(answer(reset, withCrc("000600a50001")).reading.text,
             QStringLiteral("factory settings restored"));
    const Interpretation refused =
        answer(reset, modbus::exceptionReply(0, modbus::kWriteSingle, 3));
    QVERIFY(refused.error.contains(QStringLiteral("illegal data value")));
}

void CtlRepliesTest::ownWritesAreConfirmedByTheValuesSent()
{
    CtlCommand identity = command(CommandKind::Identity);
    identity.ownProtocol = identity.write = true;
    identity.identity = {0x12, 0xAB, 0x00, 0xFF};
    const QByteArray request = planCommand(identity, 0).request;
    Interpretation done = interpretReply(identity, request, request);
    QVERIFY2(done.ok(), qPrintable(done.error));
    QCOMPARE(done.reading.text, QStringLiteral("identity set to 12ab-00ff"));
    done = interpretReply(identity, request,
                          ownReply(0xA7, hex("000000000000"
                                             "12ab0000")));
    QVERIFY(!done.ok());
    QVERIFY2(done.error.contains(QStringLiteral("12ab-0000 instead of 12ab-00ff")),
             qPrintable(done.error));

    CtlCommand params = command(CommandKind::Params);
    params.ownProtocol = params.write = true;
    params.params = {150, -100, 0};
    done = answer(params, ownReply(0xA8, hex("5100000096ffffff9c00000000")));
    QVERIFY2(done.ok(), qPrintable(done.error));
    QCOMPARE(done.reading.text, QStringLiteral("parameters set to 1.5 -1 0"));
    done = answer(params, ownReply(0xA8, hex("51000000960000000000000000")));
    QVERIFY(!done.ok());
}

void CtlRepliesTest::hundredthsTextIsExact_data()
{
    QTest::addColumn<int>("hundredths");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0";
    QTest::newRow("1.5") << 150 << "1.5";
    QTest::newRow("-1") << -100 << "-1";
    QTest::newRow("0.01") << 1 << "0.01";
    QTest::newRow("-0.1") << -10 << "-0.1";
    QTest::newRow("-0.25") << -25 << "-0.25";
    QTest::newRow("1000000") << 100000000 << "1000000";
}

void CtlRepliesTest::hundredthsTextIsExact()
{
    QFETCH(int, hundredths);
    QFETCH(QString, text);
    QCOMPARE(exactHundredthsText(hundredths), text);
}

void CtlRepliesTest::watchLinesAreCsvOrJson()
{
    Reading reading;
    reading.text = QStringLiteral("45.6");
    reading.json.insert(QStringLiteral("noise"), 45.6);
    const QDateTime time(QDate(2024, 5, 1), QTime(12, 0, 0, 7), Qt::OffsetFromUTC, 7200);
    QCOMPARE(watchLine(time, reading, false), QStringLiteral("2024-05-01T10:00:00.007Z,45.6"));
    QCOMPARE(watchLine(time, reading, true),
             QStringLiteral(R"({"noise":45.6,"time":"2024-05-01T10:00:00.007Z"})"));
}

QTEST_APPLESS_MAIN(CtlRepliesTest)
#include "tst_ctlreplies.moc"
