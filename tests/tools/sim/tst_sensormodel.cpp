// The simulated sensor without a line: the request parser and the model's
// answer to every register, function and own-protocol command.
#include "bytes.h"
#include "commands.h"
#include "decoder.h"
#include "frame.h"
#include "modbus.h"
#include "requestparser.h"
#include "sensor.h"
#include "sensormodel.h"

#include <QtTest>
#include <random>

namespace {

Request modbusRequest(const QByteArray &bytes)
{
    return {Request::Modbus, bytes};
}

Request ownRequest(const QByteArray &bytes)
{
    return {Request::Own, bytes};
}

// Defaults distinct enough that a value read from the wrong place shows.
SensorConfig testConfig()
{
    SensorConfig config;
    config.address = 1;
    config.serialNumber = 0x12AB00FF;
    config.version = {18, 2, -3};
    config.caliParams = {{150, -100, 0}};
    const QVector<uint16_t> range0 = calibrationRegisters(-5, 100);
    const QVector<uint16_t> range1 = calibrationRegisters(7, 3);
    const QVector<uint16_t> range2 = calibrationRegisters(0, 255);
    config.calibration = {{range0[0], range0[1], range1[0], range1[1], range2[0], range2[1]}};
    return config;
}

SensorModel fixedModel()
{
    return SensorModel(testConfig(), 456, 0, 1);
}

QByteArray replyTo(SensorModel &model, const QByteArray &request)
{
    return model.handle(modbusRequest(request)).reply;
}

QVector<uint16_t> readBack(SensorModel &model, uint8_t function, uint16_t first, uint16_t count)
{
    const QByteArray reply = replyTo(model, modbus::readRequest(1, function, first, count));
    QVector<uint16_t> values;
    if (reply.size() != 5 + 2 * count || uint8_t(reply[1]) != function)
        return values;
    for (int i = 0; i < count; ++i)
        values.append(
            bigEndian16(reinterpret_cast<const uint8_t *>(reply.constData()) + 3 + 2 * i));
    return values;
}

// Texts the tool's decoder shows for one read block.
QStringList decodedTexts(const QByteArray &block, PendingReplies flags = PendingReplies())
{
    QStringList texts;
    for (const ReplyAction &action : decodeTick(block, flags, 0))
        texts << action.text;
    return texts;
}

// Feeds `bytes` in one go and lets the line go idle.
QVector<Request> parseAll(const QByteArray &bytes, QByteArray *dropped = nullptr)
{
    RequestParser parser;
    QVector<Request> requests = parser.feed(bytes);
    requests += parser.lineIdle();
    if (dropped)
        *dropped = parser.takeDropped();
    return requests;
}

} // namespace

class TstSensorModel : public QObject
{
    Q_OBJECT

  private slots:
    void readsAnswerWithTheSensorsValues_data();
    void readsAnswerWithTheSensorsValues();
    void noiseDriftStaysNearTheLevelAndRepeatsWithTheSeed();
    void writesAreEchoedAndReadBack_data();
    void writesAreEchoedAndReadBack();
    void refusedRequestsGetTheirException_data();
    void refusedRequestsGetTheirException();
    void refusedMultipleWriteChangesNothing();
    void onlyAddressZeroAndTheOwnAddressAreAnswered();
    void addressChangeIsEchoedFromTheOldAddress();
    void factoryResetRestoresTheDefaults();
    void protocolSwitchChangesWhichProtocolIsAnswered();
    void ownProtocolRepliesDecodeInTheTool();
    void ownProtocolFramesTheSensorDoesNotKnowAreIgnored();
    void unpromptedFramesDecodeInTheTool();

    void requestFedOneByteAtATimeCompletesOnlyAtItsLastByte_data();
    void requestFedOneByteAtATimeCompletesOnlyAtItsLastByte();
    void badCrcIsIgnoredAndTheNextFrameStillParses();
    void ownFrameWithWrongChecksumOrTailIsIgnored();
    void garbageBeforeAFrameIsDropped();
    void partialFrameIsDroppedWhenTheLineGoesIdle();
    void backToBackFramesGiveOneRequestEach();
    void randomBytesNeverBreakTheParserOrTheModel();
};

void TstSensorModel::readsAnswerWithTheSensorsValues_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    // The tool's own queries, answered as the tool expects them.
    QTest::newRow("noise") << noiseQuery() << modbus::readReply(0, 0x04, {456});
    QTest::newRow("serial number")
        << serialNumberQuery() << modbus::readReply(0, 0x03, {0x12AB, 0x00FF});
    QTest::newRow("version") << versionQuery() << modbus::readReply(0, 0x03, {0x22FD});
    QTest::newRow("address") << deviceAddrQuery() << modbus::readReply(0, 0x03, {0x0001});
    // 10^(45.6 / 20) = 190.5: the raw value, then the mapped noise.
    QTest::newRow("raw and mapped") << originQuery() << modbus::readReply(0, 0x03, {0, 191, 456});
    QTest::newRow("parameters") << caliParamQuery()
                                << modbus::readReply(
                                       0, 0x03, {0x0000, 0x0096, 0xFFFF, 0xFF9C, 0x0000, 0x0000});
    QTest::newRow("calibration range 0")
        << calibrateReadRequest(0) << modbus::readReply(0, 0x03, {0x0005, 0x0064});
    QTest::newRow("calibration range 1")
        << calibrateReadRequest(1) << modbus::readReply(0, 0x03, {0x0107, 0x0003});
    QTest::newRow("calibration range 2")
        << calibrateReadRequest(2) << modbus::readReply(0, 0x03, {0x0000, 0x00FF});
    QTest::newRow("protocol selection")
        << modbus::readRequest(0, 0x03, reg::kProtocolSelect, 1) << modbus::readReply(0, 0x03, {3});
    QTest::newRow("span of serial number and version")
        << modbus::readRequest(1, 0x03, reg::kSerialNumber, 3)
        << modbus::readReply(1, 0x03, {0x12AB, 0x00FF, 0x22FD});
}

void TstSensorModel::readsAnswerWithTheSensorsValues()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    SensorModel model = fixedModel();
    QCOMPARE(replyTo(model, request).toHex(' '), reply.toHex(' '));
}

void TstSensorModel::noiseDriftStaysNearTheLevelAndRepeatsWithTheSeed()
{
    SensorModel first(testConfig(), 456, 15, 42);
    SensorModel second(testConfig(), 456, 15, 42);
    SensorModel other(testConfig(), 456, 15, 43);
    QVector<int> firstValues, secondValues, otherValues;
    for (int i = 0; i < 1000; ++i) {
        firstValues << readBack(first, 0x04, reg::kNoise, 1).value(0);
        secondValues << readBack(second, 0x04, reg::kNoise, 1).value(0);
        otherValues << readBack(other, 0x04, reg::kNoise, 1).value(0);
    }
    QCOMPARE(firstValues, secondValues);
    QVERIFY(firstValues != otherValues);
    const auto [low, high] = std::minmax_element(firstValues.cbegin(), firstValues.cend());
    QVERIFY(*low >= 441 && *high <= 471);
    QVERIFY(*high - *low >= 10); // it does move

    // Reads that show no noise leave the sequence alone.
    SensorModel third(testConfig(), 456, 15, 42);
    for (int i = 0; i < 1000; ++i) {
        readBack(third, 0x03, reg::kSerialNumber, 2);
        QCOMPARE(int(readBack(third, 0x04, reg::kNoise, 1).value(0)), firstValues[i]);
    }
}

void TstSensorModel::writesAreEchoedAndReadBack_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<uint16_t>("first");
    QTest::addColumn<QVector<uint16_t>>("readBack");
    QTest::newRow("address") << setDeviceAddrRequest(0x2A) << reg::kDeviceAddr
                             << QVector<uint16_t>{0x2A};
    QTest::newRow("parameters") << setCaliParamRequest(123, -1, 2147483647) << reg::kCaliParam
                                << QVector<uint16_t>{0, 123, 0xFFFF, 0xFFFF, 0x7FFF, 0xFFFF};
    QTest::newRow("calibration range 0, negative offset")
        << calibrateWriteRequest(0, -9, 50) << reg::kCalibrateRange0
        << QVector<uint16_t>{0x0009, 50};
    QTest::newRow("calibration range 1, positive offset")
        << calibrateWriteRequest(1, 200, 255) << reg::kCalibrateRange1
        << QVector<uint16_t>{0x01C8, 255};
    QTest::newRow("calibration range 2")
        << calibrateWriteRequest(2, 1, 1) << reg::kCalibrateRange2 << QVector<uint16_t>{0x0101, 1};
    QTest::newRow("low half of parameter C alone")
        << modbus::writeSingleRequest(1, reg::kCaliParam + 5, 0x1234)
        << uint16_t(reg::kCaliParam + 4) << QVector<uint16_t>{0x0000, 0x1234};
    QTest::newRow("all six calibration registers at once")
        << modbus::writeMultipleRequest(1, reg::kCalibrateRange0, {1, 2, 3, 4, 5, 6})
        << reg::kCalibrateRange0 << QVector<uint16_t>{1, 2, 3, 4, 5, 6};
}

void TstSensorModel::writesAreEchoedAndReadBack()
{
    QFETCH(QByteArray, request);
    QFETCH(uint16_t, first);
    QFETCH(QVector<uint16_t>, readBack);
    SensorModel model = fixedModel();
    QCOMPARE(replyTo(model, request).toHex(' '), modbus::writeEcho(request).toHex(' '));
    const uint8_t address = model.config().address;
    const QByteArray reply =
        replyTo(model, modbus::readRequest(address, 0x03, first, uint16_t(readBack.size())));
    QCOMPARE(reply.toHex(' '), modbus::readReply(address, 0x03, readBack).toHex(' '));
}

void TstSensorModel::refusedRequestsGetTheirException_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("exception");
    const auto frame = [](const char *text) {
        QByteArray bytes = hex(text);
        appendModbusCrc(bytes);
        return bytes;
    };
    QTest::newRow("read coils") << frame("01 01 00 00 00 01") << int(modbus::kIllegalFunction);
    QTest::newRow("device identification")
        << frame("01 2b 0e 01 00") << int(modbus::kIllegalFunction);
    QTest::newRow("no data at all") << frame("00 11") << int(modbus::kIllegalFunction);
    QTest::newRow("input register 1")
        << modbus::readRequest(1, 0x04, 1, 1) << int(modbus::kIllegalDataAddress);
    QTest::newRow("holding register 0")
        << modbus::readRequest(1, 0x03, 0, 1) << int(modbus::kIllegalDataAddress);
    QTest::newRow("read past the version")
        << modbus::readRequest(1, 0x03, reg::kVersion, 2) << int(modbus::kIllegalDataAddress);
    QTest::newRow("read past the last register")
        << modbus::readRequest(1, 0x03, 0xFFFF, 2) << int(modbus::kIllegalDataAddress);
    QTest::newRow("factory reset is not readable")
        << modbus::readRequest(1, 0x03, reg::kFactoryReset, 1) << int(modbus::kIllegalDataAddress);
    QTest::newRow("serial number is read only")
        << modbus::writeSingleRequest(1, reg::kSerialNumber, 1) << int(modbus::kIllegalDataAddress);
    QTest::newRow("no register count")
        << modbus::readRequest(1, 0x03, reg::kSerialNumber, 0) << int(modbus::kIllegalDataValue);
    QTest::newRow("126 registers")
        << modbus::readRequest(1, 0x03, reg::kSerialNumber, 126) << int(modbus::kIllegalDataValue);
    QTest::newRow("address 0") << modbus::writeSingleRequest(1, reg::kDeviceAddr, 0)
                               << int(modbus::kIllegalDataValue);
    QTest::newRow("address 248") << modbus::writeSingleRequest(1, reg::kDeviceAddr, 248)
                                 << int(modbus::kIllegalDataValue);
    QTest::newRow("factory reset with 2")
        << modbus::writeSingleRequest(1, reg::kFactoryReset, 2) << int(modbus::kIllegalDataValue);
    QTest::newRow("protocol 1") << modbus::writeSingleRequest(1, reg::kProtocolSelect, 1)
                                << int(modbus::kIllegalDataValue);
    QTest::newRow("byte count not twice the count")
        << frame("01 10 00 b2 00 02 02 00 01") << int(modbus::kIllegalDataValue);
    QTest::newRow("offset sign byte 2")
        << modbus::writeSingleRequest(1, reg::kCalibrateRange0, 0x0205)
        << int(modbus::kIllegalDataValue);
    QTest::newRow("factor 256") << modbus::writeSingleRequest(1, reg::kCalibrateRange1 + 1, 0x0100)
                                << int(modbus::kIllegalDataValue);
}

void TstSensorModel::refusedRequestsGetTheirException()
{
    QFETCH(QByteArray, request);
    QFETCH(int, exception);
    SensorModel model = fixedModel();
    const SensorModel::Answer answer = model.handle(modbusRequest(request));
    QCOMPARE(answer.reply.toHex(' '),
             modbus::exceptionReply(uint8_t(request[0]), uint8_t(request[1]), uint8_t(exception))
                 .toHex(' '));
    QVERIFY(answer.note.contains(QLatin1String(modbus::exceptionText(uint8_t(exception)))));
    QCOMPARE(model.config().address, uint8_t(1));
    QCOMPARE(model.config().ownProtocol, false);
}

void TstSensorModel::refusedMultipleWriteChangesNothing()
{
    SensorModel model = fixedModel();
    // 0x00B6 and 0x00B7 exist, 0x00B8 does not: nothing of it is written.
    const QByteArray request = modbus::writeMultipleRequest(1, reg::kCaliParam + 4, {7, 7, 7});
    QCOMPARE(uint8_t(replyTo(model, request)[1]), uint8_t(0x90));
    QCOMPARE(model.config().caliParams[2], 0);
}

void TstSensorModel::onlyAddressZeroAndTheOwnAddressAreAnswered()
{
    SensorModel model = fixedModel();
    QCOMPARE(replyTo(model, modbus::readRequest(0, 0x04, 0, 1)).toHex(),
             modbus::readReply(0, 0x04, {456}).toHex());
    QCOMPARE(replyTo(model, modbus::readRequest(1, 0x04, 0, 1)).toHex(),
             modbus::readReply(1, 0x04, {456}).toHex());
    const SensorModel::Answer other =
        model.handle(modbusRequest(modbus::readRequest(2, 0x04, 0, 1)));
    QVERIFY(other.reply.isEmpty());
    QVERIFY(other.note.contains(QLatin1String("slave 2")));
    // Not even an exception for another slave's unknown function.
    QVERIFY(replyTo(model, modbus::readRequest(2, 0x01, 0, 1)).isEmpty());

    QVERIFY(!replyTo(model, modbus::writeSingleRequest(0, reg::kDeviceAddr, 5)).isEmpty());
    QVERIFY(!replyTo(model, modbus::readRequest(5, 0x04, 0, 1)).isEmpty());
    QVERIFY(replyTo(model, modbus::readRequest(1, 0x04, 0, 1)).isEmpty());
    QVERIFY(!replyTo(model, modbus::readRequest(0, 0x04, 0, 1)).isEmpty());
}

void TstSensorModel::addressChangeIsEchoedFromTheOldAddress()
{
    SensorModel model = fixedModel();
    const QByteArray request = modbus::writeSingleRequest(1, reg::kDeviceAddr, 7);
    QCOMPARE(replyTo(model, request).toHex(), request.toHex());
    QCOMPARE(model.config().address, uint8_t(7));
}

void TstSensorModel::factoryResetRestoresTheDefaults()
{
    SensorModel model = fixedModel();
    replyTo(model, setDeviceAddrRequest(9));
    replyTo(model, setCaliParamRequest(1, 2, 3));
    replyTo(model, calibrateWriteRequest(1, 1, 1));
    QCOMPARE(model.config().address, uint8_t(9));

    QCOMPARE(replyTo(model, factoryConfigRequest()).toHex(), factoryConfigRequest().toHex());
    const SensorConfig defaults = testConfig();
    QCOMPARE(model.config().address, defaults.address);
    QCOMPARE(model.config().caliParams, defaults.caliParams);
    QCOMPARE(model.config().calibration, defaults.calibration);

    // From the own protocol as well, which it leaves for the default.
    replyTo(model, changeToOwnProtocolRequest());
    model.handle(ownRequest(ownSetIdentityRequest({{1, 2, 3, 4}})));
    QCOMPARE(model.config().serialNumber, 0x01020304u);
    QVERIFY(!replyTo(model, factoryConfigRequest()).isEmpty());
    QCOMPARE(model.config().serialNumber, defaults.serialNumber);
    QCOMPARE(model.config().ownProtocol, false);
}

void TstSensorModel::protocolSwitchChangesWhichProtocolIsAnswered()
{
    SensorModel model = fixedModel();
    const Request identity = ownRequest(ownIdentityQuery());
    QVERIFY(model.handle(identity).reply.isEmpty());

    QCOMPARE(replyTo(model, changeToOwnProtocolRequest()).toHex(),
             changeToOwnProtocolRequest().toHex());
    QVERIFY(model.config().ownProtocol);
    QCOMPARE(model.handle(identity).reply.size(), kOwnFrameSize);
    QCOMPARE(readBack(model, 0x04, 0, 1), QVector<uint16_t>());
    QVERIFY(replyTo(model, setDeviceAddrRequest(3)).isEmpty());
    QCOMPARE(model.config().address, uint8_t(1));
    // A refused value of the way back still gets its exception.
    QCOMPARE(uint8_t(replyTo(model, modbus::writeSingleRequest(0, reg::kProtocolSelect, 9))[1]),
             uint8_t(0x86));

    QCOMPARE(replyTo(model, changeToModbusRequest()).toHex(), changeToModbusRequest().toHex());
    QVERIFY(!model.config().ownProtocol);
    QVERIFY(model.handle(identity).reply.isEmpty());
    QCOMPARE(readBack(model, 0x04, 0, 1), QVector<uint16_t>{456});
}

void TstSensorModel::ownProtocolRepliesDecodeInTheTool()
{
    SensorConfig config = testConfig();
    config.ownProtocol = true;
    SensorModel model(config, 456, 0, 1);

    const QByteArray identity = model.handle(ownRequest(ownIdentityQuery())).reply;
    const QByteArray version = model.handle(ownRequest(ownVersionQuery())).reply;
    QCOMPARE(decodedTexts(identity + version), (QStringList{"12ab-00ff", "18-2--3"}));

    const QByteArray parameters = model.handle(ownRequest(ownCaliParamQuery())).reply;
    QCOMPARE(decodedTexts(parameters), (QStringList{"1.5", "-1", "0"}));

    const QByteArray setParameters = ownSetCaliParamRequest(-2550, 1, 99);
    const QByteArray confirmation = model.handle(ownRequest(setParameters)).reply;
    QCOMPARE(confirmation.toHex(' '), setParameters.toHex(' '));
    QCOMPARE(decodedTexts(confirmation), QStringList{"Set Calibrate Param Success!"});
    QCOMPARE(decodedTexts(model.handle(ownRequest(ownCaliParamQuery())).reply),
             (QStringList{"-25.5", "0.01", "0.99"}));

    const QByteArray setIdentity = ownSetIdentityRequest({{0xCA, 0xFE, 0x00, 0x01}});
    QCOMPARE(model.handle(ownRequest(setIdentity)).reply.toHex(), setIdentity.toHex());
    QCOMPARE(decodedTexts(model.handle(ownRequest(ownIdentityQuery())).reply),
             QStringList{"cafe-0001"});

    // The same identity is the serial number on the Modbus side.
    model.handle(modbusRequest(changeToModbusRequest()));
    PendingReplies flags;
    raisePending(flags, Query::SerialNumber, 0);
    const QByteArray serialNumber = replyTo(model, serialNumberQuery());
    QCOMPARE(decodedTexts(serialNumber, flags),
             (QStringList{toHexText(serialNumber), "cafe-0001"}));
}

void TstSensorModel::ownProtocolFramesTheSensorDoesNotKnowAreIgnored()
{
    SensorConfig config = testConfig();
    config.ownProtocol = true;
    SensorModel model(config, 456, 0, 1);
    const QByteArray wrongSelector = ownFrame(own::kReadCaliParam, QByteArray(1, char(0x52)));
    QVERIFY(model.handle(ownRequest(wrongSelector)).reply.isEmpty());
    QVERIFY(model.handle(ownRequest(ownFrame(0xC1))).reply.isEmpty());
    QVERIFY(model.handle(ownRequest(ownFrame(own::kWriteCaliParam, QByteArray(1, char(0x50)))))
                .reply.isEmpty());
    QCOMPARE(model.config().caliParams, testConfig().caliParams);
}

void TstSensorModel::unpromptedFramesDecodeInTheTool()
{
    SensorModel model(testConfig(), 456, 0, 1);
    const QByteArray report = model.reportFrame();
    QCOMPARE(report.toHex(' '),
             QByteArray("aa a5 03 00 00 bf 00 00 00 00 00 c8 01 00 02 e8 52 c7 ab"));
    QCOMPARE(decodedTexts(report),
             QStringList{"Origin Value:  191    AD Count: 190546      Noise:  45.6  dB"});
    QCOMPARE(decodedTexts(model.factoryDoneFrame()), QStringList{"恢复出厂设置成功！"});
    QCOMPARE(decodedTexts(model.calibrationFrame()), (QStringList{"-5", "100"}));
    QCOMPARE(decodedTexts(model.calibrateDoneFrame()), QStringList{"设置校准成功!"});

    // A report's raw value keeps to its 16-bit field however loud it gets.
    model.setNoiseLevel(1200);
    const QByteArray loud = model.reportFrame();
    QCOMPARE(loud.mid(5, 2).toHex(), QByteArray("ffff"));
    QCOMPARE(loud.mid(11, 2).toHex(), QByteArray("b004"));
}

void TstSensorModel::requestFedOneByteAtATimeCompletesOnlyAtItsLastByte_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("kind");
    QTest::newRow("noise query") << noiseQuery() << int(Request::Modbus);
    QTest::newRow("address write") << setDeviceAddrRequest(2) << int(Request::Modbus);
    QTest::newRow("calibration write") << calibrateWriteRequest(0, -5, 100) << int(Request::Modbus);
    QTest::newRow("parameter write") << setCaliParamRequest(150, -100, 0) << int(Request::Modbus);
    QByteArray unknown = hex("01 2b 0e 01 00");
    appendModbusCrc(unknown);
    QTest::newRow("unknown function") << unknown << int(Request::Modbus);
    QTest::newRow("request to slave 0xaa")
        << modbus::readRequest(0xAA, 0x03, 1, 2) << int(Request::Modbus);
    QTest::newRow("own identity query") << ownIdentityQuery() << int(Request::Own);
    QTest::newRow("own parameter write")
        << ownSetCaliParamRequest(150, -100, 0) << int(Request::Own);
}

void TstSensorModel::requestFedOneByteAtATimeCompletesOnlyAtItsLastByte()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, kind);
    RequestParser parser;
    for (int i = 0; i + 1 < frame.size(); ++i)
        QVERIFY2(parser.feed(frame.mid(i, 1)).isEmpty(), qPrintable(QString::number(i)));
    const QVector<Request> requests = parser.feed(frame.right(1));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(int(requests[0].kind), kind);
    QCOMPARE(requests[0].bytes.toHex(' '), frame.toHex(' '));
    QCOMPARE(parser.buffered(), 0);
    QVERIFY(parser.takeDropped().isEmpty());
}

void TstSensorModel::badCrcIsIgnoredAndTheNextFrameStillParses()
{
    QByteArray corrupted = deviceAddrQuery();
    corrupted[7] = char(corrupted[7] ^ 0x01);
    QByteArray dropped;
    const QVector<Request> requests = parseAll(corrupted + noiseQuery(), &dropped);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].bytes.toHex(), noiseQuery().toHex());
    QCOMPARE(dropped.toHex(), corrupted.toHex());

    // Also when nothing follows: the line going idle ends the wait.
    QCOMPARE(parseAll(corrupted, &dropped).size(), 0);
    QCOMPARE(dropped.size(), corrupted.size());
}

void TstSensorModel::ownFrameWithWrongChecksumOrTailIsIgnored()
{
    QByteArray wrongChecksum = ownCaliParamQuery();
    wrongChecksum[kOwnChecksumOffset] = char(0x50);
    QByteArray wrongTail = ownCaliParamQuery();
    wrongTail[kOwnFrameSize - 1] = char(0xAC);
    QByteArray dropped;
    QCOMPARE(parseAll(wrongChecksum, &dropped).size(), 0);
    QCOMPARE(dropped.size(), kOwnFrameSize);
    QCOMPARE(parseAll(wrongTail, &dropped).size(), 0);
    const QVector<Request> requests = parseAll(wrongChecksum + ownVersionQuery());
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].bytes.toHex(), ownVersionQuery().toHex());
}

void TstSensorModel::garbageBeforeAFrameIsDropped()
{
    for (const QByteArray &garbage :
         {hex("ff"), hex("00"), hex("aa"), hex("01 02 03"), hex("05 03"), hex("aa aa ab")}) {
        for (const QByteArray &frame : {noiseQuery(), ownIdentityQuery()}) {
            QByteArray dropped;
            const QVector<Request> requests = parseAll(garbage + frame, &dropped);
            QCOMPARE(requests.size(), 1);
            QCOMPARE(requests[0].bytes.toHex(), frame.toHex());
            QCOMPARE(dropped.toHex(), garbage.toHex());
        }
    }
}

void TstSensorModel::partialFrameIsDroppedWhenTheLineGoesIdle()
{
    RequestParser parser;
    QVERIFY(parser.feed(noiseQuery().left(5)).isEmpty());
    QVERIFY(parser.lineIdle().isEmpty());
    QCOMPARE(parser.takeDropped().size(), 5);
    QCOMPARE(parser.buffered(), 0);
    QCOMPARE(parser.feed(noiseQuery()).size(), 1);
}

void TstSensorModel::backToBackFramesGiveOneRequestEach()
{
    // The tool sends its identity and version queries in one go.
    const QByteArray bytes = ownIdentityQuery() + ownVersionQuery() + noiseQuery() +
                             setCaliParamRequest(1, 2, 3) + ownCaliParamQuery();
    RequestParser parser;
    const QVector<Request> requests = parser.feed(bytes);
    QCOMPARE(requests.size(), 5);
    QCOMPARE(int(requests[0].kind), int(Request::Own));
    QCOMPARE(int(requests[2].kind), int(Request::Modbus));
    QCOMPARE(requests[3].bytes.size(), 21);
    QCOMPARE(parser.buffered(), 0);
}

void TstSensorModel::randomBytesNeverBreakTheParserOrTheModel()
{
    // Random bytes, and valid frames with some bytes changed, fed in random
    // pieces: every byte ends up in exactly one request or as dropped, every
    // request is a whole valid frame, and every reply is well formed.
    std::mt19937 rng(20240451);
    const QVector<QByteArray> seeds = {noiseQuery(),
                                       serialNumberQuery(),
                                       setCaliParamRequest(1, 2, 3),
                                       calibrateWriteRequest(1, -3, 9),
                                       factoryConfigRequest(),
                                       changeToOwnProtocolRequest(),
                                       changeToModbusRequest(),
                                       ownIdentityQuery(),
                                       ownSetCaliParamRequest(5, 6, 7),
                                       ownSetIdentityRequest({{1, 2, 3, 4}}),
                                       ownCaliParamQuery()};
    SensorModel model(SensorConfig(), 456, 15, 7);
    const int inputs = 200000;
    qint64 requestCount = 0;
    qint64 replyCount = 0;
    // Buffers are reused from input to input: the loop also runs under the
    // sanitizers, where every allocation costs.
    QByteArray bytes;
    bytes.reserve(4 * 40 + 4 * 21);
    QByteArray piece;
    QVector<Request> requests;
    for (int input = 0; input < inputs; ++input) {
        bytes.resize(0);
        const int parts = 1 + int(rng() % 4);
        for (int part = 0; part < parts; ++part) {
            if (rng() % 2) {
                QByteArray frame = seeds[int(rng() % uint32_t(seeds.size()))];
                const int changes = int(rng() % 3);
                for (int c = 0; c < changes; ++c)
                    frame[int(rng() % uint32_t(frame.size()))] = char(rng());
                bytes += frame;
            } else {
                const int length = int(rng() % 40);
                for (int i = 0; i < length; ++i)
                    bytes += char(rng() % 8 == 0 ? 0xAA : rng());
            }
        }
        RequestParser parser;
        requests.resize(0);
        for (int at = 0; at < bytes.size();) {
            const int length = qMin(1 + int(rng() % 24), bytes.size() - at);
            piece.setRawData(bytes.constData() + at, uint(length));
            requests += parser.feed(piece);
            at += length;
        }
        requests += parser.lineIdle();
        int accounted = parser.takeDropped().size() + parser.buffered();
        for (const Request &request : requests) {
            accounted += request.bytes.size();
            if (request.kind == Request::Own) {
                QVERIFY(isOwnFrameAt(request.bytes, 0) && request.bytes.size() == kOwnFrameSize);
                QCOMPARE(uint8_t(request.bytes[kOwnChecksumOffset]),
                         ownChecksum(reinterpret_cast<const uint8_t *>(request.bytes.constData())));
            } else {
                QVERIFY(modbusCrcMatches(request.bytes) && request.bytes.size() >= 4);
            }
            const QByteArray reply = model.handle(request).reply;
            if (reply.isEmpty())
                continue;
            ++replyCount;
            if (request.kind == Request::Own) {
                QCOMPARE(reply.size(), kOwnFrameSize);
                QCOMPARE(uint8_t(reply[kOwnChecksumOffset]),
                         ownChecksum(reinterpret_cast<const uint8_t *>(reply.constData())));
            } else {
                QVERIFY(modbusCrcMatches(reply));
                QCOMPARE(reply[0], request.bytes[0]);
                if (uint8_t(reply[1]) & modbus::kExceptionBit) {
                    QCOMPARE(reply.size(), 5);
                    QCOMPARE(uint8_t(reply[1]), uint8_t(request.bytes[1] | modbus::kExceptionBit));
                } else {
                    QCOMPARE(modbus::replyLength(reply), reply.size());
                }
            }
        }
        QCOMPARE(parser.buffered(), 0);
        QCOMPARE(accounted, bytes.size());
        requestCount += requests.size();
        if (model.config().ownProtocol != SensorConfig().ownProtocol && rng() % 16 == 0)
            model.factoryReset();
    }
    qInfo("%d random inputs: %lld requests parsed, %lld replies", inputs, requestCount, replyCount);
}

QTEST_GUILESS_MAIN(TstSensorModel)
#include "tst_sensormodel.moc"
