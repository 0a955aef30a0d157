// Every request the tool sends, byte for byte.
#include "bytes.h"
#include "commands.h"
#include "frame.h"
#include "modbus.h"
#include "sensor.h"

#include <QtTest>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr int32_t kOutOfRange = std::numeric_limits<int32_t>::min(); // 80 00 00 00

} // namespace

class TstCommands : public QObject
{
    Q_OBJECT

  private slots:
    void constantRequests_data();
    void constantRequests();
    void constantRequestsCarryTheirOwnCrc();

    void setDeviceAddressRequest();

    void calibrationRangeSelectsTheRegister();
    void calibrationReadRequest();
    void calibrationWriteSendsSignMagnitudeAndFactor_data();
    void calibrationWriteSendsSignMagnitudeAndFactor();
    void calibrationWriteOfTheMostNegativeOffset();

    void parameterWriteRequest();

    void ownIdentityAndVersionQueries();
    void ownSetIdentityRequest();
    void ownParameterRequests();

    void genericReadAndWriteRequests();
    void genericReplies();
    void requestSizedFromItsHead();
    void replySizedFromItsHead();
    void everyExceptionCodeHasAName();
};

void TstCommands::constantRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("noise") << noiseQuery() << hex("00 04 00 00 00 01 30 1B");
    QTest::newRow("serial number") << serialNumberQuery() << hex("00 03 00 01 00 02 94 1A");
    QTest::newRow("version") << versionQuery() << hex("00 03 00 03 00 01 75 DB");
    QTest::newRow("device address") << deviceAddrQuery() << hex("00 03 00 09 00 01 55 D9");
    QTest::newRow("origin") << originQuery() << hex("00 03 00 A1 00 03 55 F8");
    QTest::newRow("parameters") << caliParamQuery() << hex("00 03 00 B2 00 06 64 3E");
    QTest::newRow("factory reset") << factoryConfigRequest() << hex("00 06 00 A5 00 01 59 F8");
    QTest::newRow("to own protocol")
        << changeToOwnProtocolRequest() << hex("00 06 00 B1 00 00 D8 3C");
    QTest::newRow("to modbus") << changeToModbusRequest() << hex("00 06 00 B1 00 03 98 3D");
}

void TstCommands::constantRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    QCOMPARE(request, expected);
    QCOMPARE(toHexText(request).size(), 24);
}

void TstCommands::constantRequestsCarryTheirOwnCrc()
{
    const QByteArray all[] = {noiseQuery(),           serialNumberQuery(),
                              versionQuery(),         deviceAddrQuery(),
                              originQuery(),          caliParamQuery(),
                              factoryConfigRequest(), changeToOwnProtocolRequest(),
                              changeToModbusRequest()};
    for (const QByteArray &request : all) {
        QCOMPARE(request.size(), 8);
        QCOMPARE(uint8_t(request.at(0)), modbus::kToolSlaveAddress);
        QVERIFY(modbusCrcMatches(request));
    }
}

void TstCommands::setDeviceAddressRequest()
{
    QCOMPARE(setDeviceAddrRequest(2), hex("00 06 00 09 00 02 D9 D8"));
    QCOMPARE(setDeviceAddrRequest(1), hex("00 06 00 09 00 01 99 D9"));
    QCOMPARE(setDeviceAddrRequest(0xF7), hex("00 06 00 09 00 F7 19 9F"));
}

void TstCommands::calibrationRangeSelectsTheRegister()
{
    QCOMPARE(calibrateRegister(0), uint16_t(0x00C3));
    QCOMPARE(calibrateRegister(1), uint16_t(0x00C5));
    QCOMPARE(calibrateRegister(2), uint16_t(0x00C7));
    QCOMPARE(calibrateRegister(3), uint16_t(0x00C3));
    QCOMPARE(calibrateRegister(-1), uint16_t(0x00C3));
    QCOMPARE(calibrateRegister(std::numeric_limits<int>::min()), uint16_t(0x00C3));
}

void TstCommands::calibrationReadRequest()
{
    QCOMPARE(calibrateReadRequest(0), hex("00 03 00 C3 00 02 35 E6"));
    QCOMPARE(calibrateReadRequest(1), hex("00 03 00 C5 00 02 D5 E7"));
    QCOMPARE(calibrateReadRequest(2), hex("00 03 00 C7 00 02 74 27"));
    QCOMPARE(calibrateReadRequest(7), hex("00 03 00 C3 00 02 35 E6"));
}

void TstCommands::calibrationWriteSendsSignMagnitudeAndFactor_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("factor");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("-5, 100") << -5 << 100 << hex("00 10 00 C3 00 02 04 00 05 00 64 AA FC");
    QTest::newRow("5, 100") << 5 << 100 << hex("00 10 00 C3 00 02 04 01 05 00 64 AB 00");
    QTest::newRow("0, 0") << 0 << 0 << hex("00 10 00 C3 00 02 04 00 00 00 00 BB 16");
    QTest::newRow("300 keeps 2c, 256 keeps 00")
        << 300 << 256 << hex("00 10 00 C3 00 02 04 01 2C 00 00 7B 23");
}

void TstCommands::calibrationWriteSendsSignMagnitudeAndFactor()
{
    QFETCH(int, offset);
    QFETCH(int, factor);
    QFETCH(QByteArray, expected);
    const QByteArray request = calibrateWriteRequest(0, offset, factor);
    QCOMPARE(request, expected);
    QCOMPARE(request.size(), 13);
}

void TstCommands::calibrationWriteOfTheMostNegativeOffset()
{
    // |INT_MIN| is 0x80000000; its low byte is 00 and the sign is negative.
    const QByteArray request = calibrateWriteRequest(0, std::numeric_limits<int>::min(), 0x1FF);
    QCOMPARE(request.size(), 13);
    QCOMPARE(request.mid(7, 4), hex("00 00 00 FF"));
    QVERIFY(modbusCrcMatches(request));

    const QByteArray negative300 = calibrateWriteRequest(1, -300, 7);
    QCOMPARE(negative300.left(11), hex("00 10 00 C5 00 02 04 00 2C 00 07"));
    QVERIFY(modbusCrcMatches(negative300));
}

void TstCommands::parameterWriteRequest()
{
    const QByteArray request = setCaliParamRequest(150, -100, 0);
    QCOMPARE(request, hex("00 10 00 B2 00 06 0C 00 00 00 96 FF FF FF 9C 00 00 00 00 C0 40"));
    QCOMPARE(toHexText(request).size(), 63);

    const QByteArray extremes = setCaliParamRequest(kOutOfRange, 0x7FFFFFFF, -1);
    QCOMPARE(extremes.size(), 21);
    QCOMPARE(extremes.mid(7, 12), hex("80 00 00 00 7F FF FF FF FF FF FF FF"));
    QVERIFY(modbusCrcMatches(extremes));
}

void TstCommands::ownIdentityAndVersionQueries()
{
    QCOMPARE(ownIdentityQuery(), hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB"));
    QCOMPARE(ownVersionQuery(), hex("AA B5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB"));
}

void TstCommands::ownSetIdentityRequest()
{
    QCOMPARE(::ownSetIdentityRequest({0xFF, 0xFF, 0xFF, 0xFF}),
             hex("AA A7 00 00 00 00 00 00 FF FF FF FF 00 00 00 00 00 FC AB"));
    QCOMPARE(::ownSetIdentityRequest({0x12, 0x34, 0x12, 0x34}),
             hex("AA A7 00 00 00 00 00 00 12 34 12 34 00 00 00 00 00 8C AB"));
}

void TstCommands::ownParameterRequests()
{
    const QByteArray write = ownSetCaliParamRequest(150, -100, 0);
    QCOMPARE(write, hex("AA A8 51 00 00 00 96 FF FF FF 9C 00 00 00 00 00 00 80 AB"));

    const QByteArray read = ownCaliParamQuery();
    QCOMPARE(read, hex("AA A9 51 00 00 00 00 00 00 00 00 00 00 00 00 00 00 51 AB"));
    QCOMPARE(toHexText(read),
             QStringLiteral("aa a9 51 00 00 00 00 00 00 00 00 00 00 00 00 00 00 51 ab "));
}

void TstCommands::genericReadAndWriteRequests()
{
    QCOMPARE(modbus::readRequest(0, modbus::kReadInput, reg::kNoise, 1), noiseQuery());
    QCOMPARE(modbus::readRequest(0, modbus::kReadHolding, reg::kCaliParam, 6), caliParamQuery());
    QCOMPARE(modbus::readRequest(0x11, modbus::kReadHolding, 0x1234, 0x0102).left(6),
             hex("11 03 12 34 01 02"));
    QCOMPARE(modbus::writeSingleRequest(0, reg::kFactoryReset, reg::kFactoryResetValue),
             hex("00 06 00 A5 00 01 59 F8"));

    const QByteArray two = modbus::writeMultipleRequest(0, reg::kCalibrateRange0, {0x0005, 0x0064});
    QCOMPARE(two.size(), 13);
    QCOMPARE(two, hex("00 10 00 C3 00 02 04 00 05 00 64 AA FC"));

    const QByteArray six = modbus::writeMultipleRequest(
        0, reg::kCaliParam, {0x0000, 0x0096, 0xFFFF, 0xFF9C, 0x0000, 0x0000});
    QCOMPARE(six.size(), 21);
    QCOMPARE(six, hex("00 10 00 B2 00 06 0C 00 00 00 96 FF FF FF 9C 00 00 00 00 C0 40"));
}

void TstCommands::genericReplies()
{
    QCOMPARE(modbus::readReply(0, modbus::kReadInput, {0x01C8}), hex("00 04 02 01 C8 84 F6"));
    QCOMPARE(modbus::readReply(0, modbus::kReadHolding, {0x0005, 0x0064}),
             hex("00 03 04 00 05 00 64 FB 19"));
    const QByteArray params =
        modbus::readReply(0, modbus::kReadHolding, {0xFFFF, 0xFF9C, 0x0000, 0x0096, 0, 0});
    QCOMPARE(params.size(), 17);
    QCOMPARE(params, hex("00 03 0C FF FF FF 9C 00 00 00 96 00 00 00 00 B2 9A"));

    QCOMPARE(modbus::writeEcho(changeToModbusRequest()), hex("00 06 00 B1 00 03 98 3D"));
    QCOMPARE(modbus::writeEcho(setCaliParamRequest(150, -100, 0)), hex("00 10 00 B2 00 06 E1 FD"));
    QCOMPARE(modbus::writeEcho(calibrateWriteRequest(0, -5, 100)), hex("00 10 00 C3 00 02 B0 25"));

    QCOMPARE(modbus::exceptionReply(0, modbus::kReadHolding, modbus::kIllegalDataAddress),
             hex("00 83 02 91 31"));
}

void TstCommands::requestSizedFromItsHead()
{
    QCOMPARE(modbus::requestLength(QByteArray()), 0);
    QCOMPARE(modbus::requestLength(hex("00")), 0);
    QCOMPARE(modbus::requestLength(hex("00 03")), 8);
    QCOMPARE(modbus::requestLength(hex("00 04")), 8);
    QCOMPARE(modbus::requestLength(hex("00 06 00")), 8);

    // A multiple write is known only once its byte count (offset 6) is there.
    const QByteArray six = setCaliParamRequest(150, -100, 0);
    for (int n = 2; n <= 6; ++n)
        QCOMPARE(modbus::requestLength(six.left(n)), 0);
    QCOMPARE(modbus::requestLength(six.left(7)), 21);
    QCOMPARE(modbus::requestLength(six), 21);
    QCOMPARE(modbus::requestLength(calibrateWriteRequest(0, 1, 2).left(7)), 13);

    QCOMPARE(modbus::requestLength(hex("00 01")), -1);
    QCOMPARE(modbus::requestLength(hex("00 05 00 00")), -1);
    QCOMPARE(modbus::requestLength(hex("00 2B")), -1);
}

void TstCommands::replySizedFromItsHead()
{
    QCOMPARE(modbus::replyLength(QByteArray()), 0);
    QCOMPARE(modbus::replyLength(hex("00")), 0);

    // Read replies: known once the byte count (offset 2) is there.
    QCOMPARE(modbus::replyLength(hex("00 03")), 0);
    QCOMPARE(modbus::replyLength(hex("00 04")), 0);
    QCOMPARE(modbus::replyLength(hex("00 04 02")), 7);
    QCOMPARE(modbus::replyLength(hex("00 03 04")), 9);
    QCOMPARE(modbus::replyLength(hex("00 03 0C FF")), 17);
    QCOMPARE(modbus::replyLength(hex("00 03 FF")), 3 + 255 + 2);
    QCOMPARE(modbus::replyLength(hex("00 03 00")), 5);

    QCOMPARE(modbus::replyLength(hex("00 06")), 8);
    QCOMPARE(modbus::replyLength(hex("00 10")), 8);

    QCOMPARE(modbus::replyLength(hex("00 83")), 5);
    QCOMPARE(modbus::replyLength(hex("00 84 02")), 5);
    QCOMPARE(modbus::replyLength(hex("00 86")), 5);
    QCOMPARE(modbus::replyLength(hex("00 90")), 5);

    QCOMPARE(modbus::replyLength(hex("00 05")), -1);
    QCOMPARE(modbus::replyLength(hex("00 2B 0E")), -1);
    QCOMPARE(modbus::replyLength(hex("AA A6")), -1); // an own-protocol frame is no exception

    // The same from the request the reply answers: every register asked for
    // counts, also past the 127 a byte count could carry.
    QCOMPARE(modbus::expectedReplyLength(serialNumberQuery()), 9);
    QCOMPARE(modbus::expectedReplyLength(modbus::readRequest(0, modbus::kReadHolding, 0, 128)),
             3 + 256 + 2);
    QCOMPARE(modbus::expectedReplyLength(setDeviceAddrRequest(2)), 8);
    QCOMPARE(modbus::expectedReplyLength(hex("00 03 00")), -1);
}

void TstCommands::everyExceptionCodeHasAName()
{
    QCOMPARE(QString::fromUtf8(modbus::exceptionText(modbus::kIllegalDataAddress)),
             QStringLiteral("illegal data address"));
    for (int code = 0; code < 256; ++code) {
        const char *text = modbus::exceptionText(uint8_t(code));
        QVERIFY(text != nullptr);
        QVERIFY(*text != '\0');
    }
}

QTEST_APPLESS_MAIN(TstCommands)
#include "tst_commands.moc"
