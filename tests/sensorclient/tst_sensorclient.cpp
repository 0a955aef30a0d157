// The sensor client on its fake line: the reply found in the byte stream,
// checked against its request and read into a typed value, and the
// outcome of a call when the line misbehaves.
#include "bytes.h"
#include "commands.h"
#include "fakesensor.h"
#include "modbus.h"
#include "replyframer.h"
#include "sensorclient.h"

#include <QtTest>

namespace {

// Framers for the window's own requests to address 0 (and 1).
ReplyFramer noiseFramer(uint8_t slave = 0)
{
    return ReplyFramer::modbus(modbus::readRequest(slave, modbus::kReadInput, 0x0000, 1));
}

ReplyFramer serialFramer()
{
    return ReplyFramer::modbus(serialNumberQuery());
}

// A client on a fake line whose far end answers with `responder`.
struct Line {
    explicit Line(const FakeTransport::Responder &responder)
    {
        fake.setResponder(responder);
        QString error;
        client.open(QStringLiteral("fake"), 9600, error);
    }
    FakeTransport fake;
    SensorClient client{fake};
};

// What one call on a fake line answering `reply` ends with; a write is
// taken as its confirmation says, without the read that proves it.
template <typename Call> Outcome outcomeOf(const QByteArray &reply, Call call)
{
    Line line(fixedResponder({{5, reply}}));
    line.client.exchange().setRetries(0);
    line.client.setWriteProof(false);
    return call(line.client);
}

} // namespace

Q_DECLARE_METATYPE(FakeTransport::Piece)

class SensorClientTest : public QObject
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
    void readsReturnWhatTheSensorHolds();
    void exceptionIsReadInWords();
    void readReplyOfWrongLengthIsRefused();
    void writeIsConfirmedOnlyByMatchingEcho();
    void ownWritesAreConfirmedByTheValuesSent();
    void writeConfirmedByItsOwnBytesIsProvenByARead_data();
    void writeConfirmedByItsOwnBytesIsProvenByARead();
    void lineFaultsGetTheirOutcome_data();
    void lineFaultsGetTheirOutcome();
};

void SensorClientTest::replyFedByteByByteCompletesOnlyWithItsLastByte()
{
    const QByteArray reply = withCrc("0003040000006e");
    ReplyFramer framer = serialFramer();
    for (int i = 0; i < reply.size() - 1; ++i)
        QVERIFY2(!framer.feed(reply.mid(i, 1)), qPrintable(QString::number(i)));
    QVERIFY(framer.feed(reply.right(1)));
    QCOMPARE(framer.reply(), reply);
    QVERIFY(framer.problem().isEmpty());

    ReplyFramer own = ReplyFramer::own(0xA6);
    const QByteArray frame = ownFrame(0xA6, hex("000000000000"
                                                "12ab00ff"));
    for (int i = 0; i < frame.size() - 1; ++i)
        QVERIFY(!own.feed(frame.mid(i, 1)));
    QVERIFY(own.feed(frame.right(1)));
    QCOMPARE(own.reply(), frame);
}

void SensorClientTest::strayBytesInFrontOfReplyAreSkipped()
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
    const QByteArray frame = ownFrame(0xB5, hex("00000000000000110607"));
    QVERIFY(own.feed(hex("aa01") + frame));
    QCOMPARE(own.reply(), frame);
}

void SensorClientTest::replyWithWrongCrcIsNotTakenAndIsReported()
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

void SensorClientTest::exceptionReplyIsFramedAtFiveBytes()
{
    const QByteArray exception = modbus::exceptionReply(0x00, modbus::kReadHolding, 0x02);
    QCOMPARE(exception.size(), 5);
    ReplyFramer framer = serialFramer();
    QVERIFY(!framer.feed(exception.left(2)));
    QVERIFY(framer.feed(exception.mid(2) + hex("ffff")));
    QCOMPARE(framer.reply(), exception);
}

void SensorClientTest::replyFromOtherSlaveOrFunctionIsNotTaken()
{
    ReplyFramer framer = noiseFramer(0x01);
    QVERIFY(!framer.feed(withCrc("02040201c8")));
    QVERIFY(!framer.feed(withCrc("01030201c8")));
    QVERIFY(framer.strayBytes() > 0);
    QVERIFY2(framer.problem().contains(QStringLiteral("form no reply")),
             qPrintable(framer.problem()));
}

void SensorClientTest::lateReplyToEarlierRequestIsPassedOver()
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

void SensorClientTest::unpromptedOwnFramesArePassedOver()
{
    const QByteArray report = ownFrame(0xA5, hex("03"));
    const QByteArray otherSelector = ownFrame(0xA9, hex("52"));
    const QByteArray wanted = ownFrame(0xA9, hex("51000000640000003200000019"));
    ReplyFramer framer = ReplyFramer::own(0xA9, 0x51);
    QVERIFY(!framer.feed(report + otherSelector));
    QCOMPARE(framer.otherFrames(), 2);
    QVERIFY(framer.problem().isEmpty());
    QVERIFY(framer.feed(wanted));
    QCOMPARE(framer.reply(), wanted);
}

void SensorClientTest::ownReplyWithWrongChecksumIsReported()
{
    QByteArray frame = ownFrame(0xA6, hex("000000000000"
                                          "12ab00ff"));
    frame[17] = char(frame.at(17) ^ 0xFF);
    ReplyFramer framer = ReplyFramer::own(0xA6);
    QVERIFY(!framer.feed(frame));
    QCOMPARE(framer.corruptFrames(), 1);
    QVERIFY(framer.problem().contains(QStringLiteral("wrong checksum")));
}

void SensorClientTest::requestsToAddressZeroAreTheWindowsFrames()
{
    using Call = std::function<void(SensorClient &)>;
    const QVector<QPair<Call, QByteArray>> calls = {
        {[](SensorClient &c) { c.readNoise(); }, noiseQuery()},
        {[](SensorClient &c) { c.readSerialNumber(); }, serialNumberQuery()},
        {[](SensorClient &c) { c.readVersion(); }, versionQuery()},
        {[](SensorClient &c) { c.readOrigin(); }, originQuery()},
        {[](SensorClient &c) { c.readAddress(); }, deviceAddrQuery()},
        {[](SensorClient &c) { c.readParameters(); }, caliParamQuery()},
        {[](SensorClient &c) { c.readCalibration(2); }, calibrateReadRequest(2)},
        {[](SensorClient &c) { c.factoryReset(); }, factoryConfigRequest()},
        {[](SensorClient &c) { c.writeAddress(2); }, setDeviceAddrRequest(2)},
        {[](SensorClient &c) { c.switchProtocol(true); }, changeToOwnProtocolRequest()},
        {[](SensorClient &c) { c.switchProtocol(false); }, changeToModbusRequest()},
        {[](SensorClient &c) {
             c.writeCalibration(1, {-255, 100});
         },
         calibrateWriteRequest(1, -255, 100)},
        {[](SensorClient &c) {
             c.writeParameters({150, -100, 0});
         },
         setCaliParamRequest(150, -100, 0)},
        {[](SensorClient &c) { c.readOwnParameters(); }, ownCaliParamQuery()},
        {[](SensorClient &c) {
             c.writeOwnParameters({150, -100, 0});
         },
         ownSetCaliParamRequest(150, -100, 0)},
        {[](SensorClient &c) { c.readOwnVersion(); }, ownVersionQuery()},
        {[](SensorClient &c) { c.readOwnIdentity(); }, ownIdentityQuery()},
        {[](SensorClient &c) { c.writeOwnIdentity(0x01020304); },
         ownSetIdentityRequest({1, 2, 3, 4})},
    };
    for (const auto &call : calls) {
        Line line({});
        line.client.exchange().setRetries(0);
        call.first(line.client);
        QCOMPARE(line.fake.written(), QVector<QByteArray>{call.second});
    }
}

void SensorClientTest::requestsGoToTheGivenAddress()
{
    Line line({});
    line.client.exchange().setRetries(0);
    line.client.setSlave(0x1F);
    line.client.readNoise();
    line.client.setSlave(0x07);
    line.client.factoryReset();
    QCOMPARE(line.fake.written(),
             (QVector<QByteArray>{withCrc("1f0400000001"), withCrc("070600a50001")}));
}

// Every value read back as the simulator's sensor holds it, whichever
// protocol it speaks.
void SensorClientTest::readsReturnWhatTheSensorHolds()
{
    SensorConfig config;
    config.caliParams = {{2147483647, 1234567, -2147483647 - 1}};
    config.calibration[2] = 0x0005; // range 1: -5, factor 100
    const auto model = std::make_shared<SensorModel>(config, 456, 0, 1);
    Line line(sensorResponder(model));
    QCOMPARE(line.client.readNoise().value, uint16_t(456));
    QCOMPARE(line.client.readSerialNumber().value, config.serialNumber);
    QCOMPARE(line.client.readVersion().value, config.version);
    QCOMPARE(line.client.readAddress().value, config.address);
    QCOMPARE(line.client.readOrigin().value.noiseTenths, uint16_t(456));
    QCOMPARE(line.client.readCalibration(1).value, (Calibration{-5, 100}));
    const CalibrationParameters params{2147483647, 1234567, -2147483647 - 1};
    QCOMPARE(line.client.readParameters().value, params);
    QVERIFY(line.client.switchProtocol(true).ok());
    QCOMPARE(line.client.readOwnIdentity().value, config.serialNumber);
    QCOMPARE(line.client.readOwnVersion().value, config.version);
    QCOMPARE(line.client.readOwnParameters().value, params);
}

void SensorClientTest::exceptionIsReadInWords()
{
    const Outcome refused = outcomeOf(modbus::exceptionReply(0, modbus::kReadHolding, 2),
                                      [](SensorClient &c) { return c.readSerialNumber().outcome; });
    QCOMPARE(refused.kind, Outcome::BadReply);
    QVERIFY(refused.replied);
    QVERIFY2(refused.reason.contains(QStringLiteral("illegal data address (exception code 2)")),
             qPrintable(refused.reason));
}

void SensorClientTest::readReplyOfWrongLengthIsRefused()
{
    // Two registers asked for, one delivered: a reply to another request.
    const Outcome outcome = outcomeOf(withCrc("0003021234"),
                                      [](SensorClient &c) { return c.readSerialNumber().outcome; });
    QCOMPARE(outcome.kind, Outcome::BadReply);
    QVERIFY2(outcome.reason.contains(QStringLiteral("answers another request (00 03 02 12 34")),
             qPrintable(outcome.reason));
}

void SensorClientTest::writeIsConfirmedOnlyByMatchingEcho()
{
    const auto address = [](SensorClient &c) { return c.writeAddress(0x1F); };
    QVERIFY(outcomeOf(withCrc("00060009001f"), address).ok());
    QCOMPARE(outcomeOf(withCrc("000600090001"), address).kind, Outcome::BadReply);

    const auto calibration = [](SensorClient &c) { return c.writeCalibration(0, {-5, 100}); };
    QVERIFY(outcomeOf(withCrc("001000c30002"), calibration).ok());
    QCOMPARE(outcomeOf(withCrc("001000c50002"), calibration).kind, Outcome::BadReply);

    const auto reset = [](SensorClient &c) { return c.factoryReset(); };
    QVERIFY(outcomeOf(withCrc("000600a50001"), reset).ok());
    const Outcome refused = outcomeOf(modbus::exceptionReply(0, modbus::kWriteSingle, 3), reset);
    QVERIFY2(refused.message().contains(QStringLiteral("bad reply: the sensor refused the request: "
                                                       "illegal data value")),
             qPrintable(refused.message()));
}

void SensorClientTest::ownWritesAreConfirmedByTheValuesSent()
{
    const auto identity = [](SensorClient &c) { return c.writeOwnIdentity(0x12AB00FF); };
    QVERIFY(outcomeOf(ownSetIdentityRequest({0x12, 0xAB, 0x00, 0xFF}), identity).ok());
    const Outcome other = outcomeOf(ownFrame(0xA7, hex("00000000000012ab0000")), identity);
    QCOMPARE(other.kind, Outcome::BadReply);
    QVERIFY2(other.reason.contains(QStringLiteral("12ab-0000 instead of 12ab-00ff")),
             qPrintable(other.reason));

    const auto params = [](SensorClient &c) { return c.writeOwnParameters({150, -100, 0}); };
    QVERIFY(outcomeOf(ownFrame(0xA8, hex("5100000096ffffff9c00000000")), params).ok());
    QVERIFY(!outcomeOf(ownFrame(0xA8, hex("51000000960000000000000000")), params).ok());
}

void SensorClientTest::writeConfirmedByItsOwnBytesIsProvenByARead_data()
{
    QTest::addColumn<bool>("sensor"); // a sensor answers; else the line only echoes
    QTest::addColumn<bool>("proof");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("unproven");
    QTest::addColumn<int>("frames");
    QTest::newRow("sensor: read back") << true << true << int(Outcome::Done) << false << 2;
    QTest::newRow("echo only: refused") << false << true << int(Outcome::BadReply) << false << 2;
    QTest::newRow("echo only, proof off: unproven")
        << false << false << int(Outcome::Done) << true << 1;
}

void SensorClientTest::writeConfirmedByItsOwnBytesIsProvenByARead()
{
    QFETCH(bool, sensor);
    QFETCH(bool, proof);
    QFETCH(int, kind);
    QFETCH(bool, unproven);
    QFETCH(int, frames);
    const auto model = std::make_shared<SensorModel>(SensorConfig(), 456, 0, 1);
    Line line(sensor ? sensorResponder(model) : [](const QByteArray &request) {
        return QVector<FakeTransport::Piece>{{1, request}};
    });
    line.client.exchange().setRetries(0);
    line.client.setWriteProof(proof);
    const Outcome outcome = line.client.writeAddress(0x1f);
    QCOMPARE(int(outcome.kind), kind);
    QCOMPARE(outcome.unproven, unproven);
    QCOMPARE(line.fake.written().size(), frames);
    if (!outcome.ok())
        QVERIFY2(outcome.echoOnly && outcome.message().contains(QStringLiteral(
                                         "only that read's own echo came back): the adapter "
                                         "echoes what it sends (give --local-echo)")),
                 qPrintable(outcome.message()));
}

void SensorClientTest::lineFaultsGetTheirOutcome_data()
{
    const QByteArray reply = withCrc("00040201c8");
    QByteArray damaged = reply;
    damaged[3] = char(0xFF);
    QTest::addColumn<QVector<FakeTransport::Piece>>("pieces");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("attempts");
    QTest::newRow("split reply is joined")
        << QVector<FakeTransport::Piece>{{5, reply.left(3)}, {40, reply.mid(3)}}
        << int(Outcome::Done) << QString() << 1;
    QTest::newRow("silent sensor: every retry, then no reply")
        << QVector<FakeTransport::Piece>{} << int(Outcome::NoReply)
        << "no reply within 100 ms (3 attempts)" << 3;
    QTest::newRow("damaged reply: every retry, then a bad reply")
        << QVector<FakeTransport::Piece>{{5, damaged}} << int(Outcome::BadReply)
        << "bad reply: a reply with a wrong CRC (3 attempts)" << 3;
    // The first attempt's reply comes while the second waits: it is taken.
    QTest::newRow("reply later than the timeout is taken by the retry")
        << QVector<FakeTransport::Piece>{{150, reply}} << int(Outcome::Done) << QString() << 2;
}

void SensorClientTest::lineFaultsGetTheirOutcome()
{
    QFETCH(QVector<FakeTransport::Piece>, pieces);
    QFETCH(int, kind);
    QFETCH(QString, reason);
    QFETCH(int, attempts);
    Line line(fixedResponder(pieces));
    line.client.exchange().setTimeout(100);
    const Result<uint16_t> noise = line.client.readNoise();
    QCOMPARE(int(noise.outcome.kind), kind);
    QVERIFY2(noise.outcome.reason.contains(reason), qPrintable(noise.outcome.reason));
    QCOMPARE(noise.outcome.attempts, attempts);
    if (noise.ok())
        QCOMPARE(noise.value, uint16_t(456));
}

QTEST_APPLESS_MAIN(SensorClientTest)
#include "tst_sensorclient.moc"
