// Wire basics: the two integrity codes, hex text, own-protocol frame layout
// and big-endian packing.
#include "bytes.h"
#include "frame.h"

#include <QtTest>

#include <vector>

namespace {

const uint8_t *raw(const QByteArray &bytes)
{
    return reinterpret_cast<const uint8_t *>(bytes.constData());
}

} // namespace

class TstFrame : public QObject
{
    Q_OBJECT

  private slots:
    void ownChecksumSumsOnlyTheDataBytes();
    void ownChecksumKeepsTheLowEightBits();

    void crcMatchesThePublishedCheckValue();
    void crcOfTheFactoryResetRequest();
    void crcOfNothingIsTheInitialValue();
    void crcHandlesTheLongestLengthItAccepts();

    void hexTextIsLowercaseWithATrailingBlankPerByte();
    void hexTextNeverSignExtendsHighBytes();
    void hexTextOfNothingOrANegativeCountIsEmpty();
    void hexTextCoversEveryByteValue();
    void hexPairKeepsLeadingZeros();

    void appendedCrcGoesLowByteFirst();
    void crcMatchRejectsAnyDamagedByte();
    void crcMatchRejectsFramesTooShortForACrc();

    void ownFrameHasHeadChecksumAndTail();
    void ownFramePlacesDataFromOffsetTwo();
    void ownFrameNeverGrowsPastNineteenBytes();
    void frameIsFoundOnlyWhereHeadAndTailLineUp();

    void bigEndianPackingPutsTheHighByteFirst();
};

void TstFrame::ownChecksumSumsOnlyTheDataBytes()
{
    uint8_t frame[kOwnFrameSize] = {};
    QCOMPARE(ownChecksum(frame), uint8_t(0x00));

    // Head, command, checksum position and tail are outside the sum.
    frame[0] = 0xAA;
    frame[1] = 0xA7;
    frame[17] = 0x55;
    frame[18] = 0xAB;
    QCOMPARE(ownChecksum(frame), uint8_t(0x00));

    frame[2] = 0x01;
    frame[16] = 0x02;
    QCOMPARE(ownChecksum(frame), uint8_t(0x03));
}

void TstFrame::ownChecksumKeepsTheLowEightBits()
{
    uint8_t frame[kOwnFrameSize] = {};
    frame[8] = frame[9] = frame[10] = frame[11] = 0xFF; // sum 0x3FC
    QCOMPARE(ownChecksum(frame), uint8_t(0xFC));

    for (int i = 2; i <= 16; ++i)
        frame[i] = 0xFF; // 15 * 255 = 0xEF1
    QCOMPARE(ownChecksum(frame), uint8_t(0xF1));
}

void TstFrame::crcMatchesThePublishedCheckValue()
{
    const char digits[] = "123456789";
    QCOMPARE(crc16Modbus(reinterpret_cast<const uint8_t *>(digits), 9), uint16_t(0x4B37));
}

void TstFrame::crcOfTheFactoryResetRequest()
{
    const QByteArray request = hex("00 06 00 A5 00 01");
    QCOMPARE(crc16Modbus(raw(request), 6), uint16_t(0xF859));
    const QByteArray paramQuery = hex("00 03 00 B2 00 06");
    QCOMPARE(crc16Modbus(raw(paramQuery), 6), uint16_t(0x3E64));
}

void TstFrame::crcOfNothingIsTheInitialValue()
{
    QCOMPARE(crc16Modbus(nullptr, 0), uint16_t(0xFFFF));
    const uint8_t one = 0x42;
    QCOMPARE(crc16Modbus(&one, 0), uint16_t(0xFFFF));
}

void TstFrame::crcHandlesTheLongestLengthItAccepts()
{
    std::vector<uint8_t> zeros(65535, 0);
    QCOMPARE(crc16Modbus(zeros.data(), 65535), uint16_t(0x40BF));

    std::vector<uint8_t> ramp(256);
    for (int i = 0; i < 256; ++i)
        ramp[i] = uint8_t(i);
    QCOMPARE(crc16Modbus(ramp.data(), 256), uint16_t(0xDE6C));
}

void TstFrame::hexTextIsLowercaseWithATrailingBlankPerByte()
{
    const uint8_t bytes[] = {0xAA, 0xA6};
    QCOMPARE(toHexText(bytes, 2), QStringLiteral("aa a6 "));

    const QByteArray query = hex("00 04 00 00 00 01 30 1B");
    const QString text = toHexText(query);
    QCOMPARE(text, QStringLiteral("00 04 00 00 00 01 30 1b "));
    QCOMPARE(text.size(), 24);
}

void TstFrame::hexTextNeverSignExtendsHighBytes()
{
    const uint8_t bytes[] = {0x80};
    QCOMPARE(toHexText(bytes, 1), QStringLiteral("80 "));
    QCOMPARE(toHexText(QByteArray(1, char(0xFF))), QStringLiteral("ff "));
}

void TstFrame::hexTextOfNothingOrANegativeCountIsEmpty()
{
    const uint8_t bytes[] = {0x01, 0x02};
    QCOMPARE(toHexText(bytes, 0), QString());
    QCOMPARE(toHexText(bytes, -1), QString());
    QCOMPARE(toHexText(bytes, -1000), QString());
    QCOMPARE(toHexText(nullptr, 0), QString());
    QCOMPARE(toHexText(QByteArray()), QString());
}

void TstFrame::hexTextCoversEveryByteValue()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    const QString text = toHexText(all);
    QCOMPARE(text.size(), 3 * 256);
    for (int i = 0; i < 256; ++i) {
        const QString expected = QStringLiteral("%1 ").arg(i, 2, 16, QChar('0'));
        QCOMPARE(text.mid(3 * i, 3), expected);
    }
    QCOMPARE(toHexText(raw(all), 256), text);
}

void TstFrame::hexPairKeepsLeadingZeros()
{
    QCOMPARE(hexPair(0x00), QStringLiteral("00"));
    QCOMPARE(hexPair(0x0A), QStringLiteral("0a"));
    QCOMPARE(hexPair(0x80), QStringLiteral("80"));
    QCOMPARE(hexPair(0xAB), QStringLiteral("ab"));
    QCOMPARE(hexPair(0xFF), QStringLiteral("ff"));
}

void TstFrame::appendedCrcGoesLowByteFirst()
{
    QByteArray request = hex("00 06 00 A5 00 01");
    appendModbusCrc(request);
    QCOMPARE(request, hex("00 06 00 A5 00 01 59 F8"));

    QByteArray noise = hex("00 04 00 00 00 01");
    appendModbusCrc(noise);
    QCOMPARE(noise, hex("00 04 00 00 00 01 30 1B"));

    QByteArray empty;
    appendModbusCrc(empty);
    QCOMPARE(empty, hex("FF FF"));
}

void TstFrame::crcMatchRejectsAnyDamagedByte()
{
    const QByteArray good = hex("00 10 00 B2 00 06 0C 00 00 00 96 FF FF FF 9C 00 00 00 00 C0 40");
    QVERIFY(modbusCrcMatches(good));
    for (int i = 0; i < good.size(); ++i) {
        QByteArray bad = good;
        bad[i] = char(bad.at(i) ^ 0x01);
        QVERIFY2(!modbusCrcMatches(bad), qPrintable(QString::number(i)));
    }
    // Swapped CRC bytes (high byte first) do not match either.
    QVERIFY(!modbusCrcMatches(hex("00 06 00 A5 00 01 F8 59")));
}

void TstFrame::crcMatchRejectsFramesTooShortForACrc()
{
    QVERIFY(!modbusCrcMatches(QByteArray()));
    QVERIFY(!modbusCrcMatches(hex("FF")));
}

void TstFrame::ownFrameHasHeadChecksumAndTail()
{
    const QByteArray query = ownFrame(0xA6);
    QCOMPARE(query.size(), kOwnFrameSize);
    QCOMPARE(query, hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB"));
    QCOMPARE(ownFrame(0xB5), hex("AA B5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB"));
}

void TstFrame::ownFramePlacesDataFromOffsetTwo()
{
    const QByteArray data = hex("00 00 00 00 00 00 FF FF FF FF");
    QCOMPARE(ownFrame(0xA7, data), hex("AA A7 00 00 00 00 00 00 FF FF FF FF 00 00 00 00 00 FC AB"));

    QCOMPARE(ownFrame(0xA9, hex("51")),
             hex("AA A9 51 00 00 00 00 00 00 00 00 00 00 00 00 00 00 51 AB"));
}

void TstFrame::ownFrameNeverGrowsPastNineteenBytes()
{
    QByteArray data;
    for (int i = 1; i <= 20; ++i)
        data.append(char(i));
    const QByteArray frame = ownFrame(0xA8, data);
    QCOMPARE(frame.size(), kOwnFrameSize);
    QCOMPARE(uint8_t(frame.at(0)), kOwnHead);
    QCOMPARE(uint8_t(frame.at(1)), uint8_t(0xA8));
    QCOMPARE(frame.mid(2, 15), data.left(15));
    QCOMPARE(uint8_t(frame.at(17)), uint8_t(120)); // 1 + 2 + ... + 15
    QCOMPARE(uint8_t(frame.at(18)), kOwnTail);
}

void TstFrame::frameIsFoundOnlyWhereHeadAndTailLineUp()
{
    const QByteArray frame = ownFrame(0xA6);
    QVERIFY(isOwnFrameAt(frame, 0));

    // The checksum byte is not part of the shape.
    QByteArray wrongSum = frame;
    wrongSum[17] = char(0x77);
    QVERIFY(isOwnFrameAt(wrongSum, 0));

    const QByteArray two = frame + frame;
    QVERIFY(isOwnFrameAt(two, 0));
    QVERIFY(isOwnFrameAt(two, 19));
    QVERIFY(!isOwnFrameAt(two, 1));
    QVERIFY(!isOwnFrameAt(two, 20)); // would run past the end

    const QByteArray shifted = QByteArray(1, char(0x00)) + frame;
    QVERIFY(!isOwnFrameAt(shifted, 0));
    QVERIFY(isOwnFrameAt(shifted, 1));

    QVERIFY(!isOwnFrameAt(frame.left(18), 0));
    QVERIFY(!isOwnFrameAt(frame, -1));
    QVERIFY(!isOwnFrameAt(QByteArray(), 0));

    QByteArray badTail = frame;
    badTail[18] = char(0xAC);
    QVERIFY(!isOwnFrameAt(badTail, 0));
}

void TstFrame::bigEndianPackingPutsTheHighByteFirst()
{
    QByteArray out;
    appendBigEndian16(out, 0x1234);
    appendBigEndian32(out, 0x80000000u);
    appendBigEndian32(out, uint32_t(-100));
    QCOMPARE(out, hex("12 34 80 00 00 00 FF FF FF 9C"));

    QCOMPARE(bigEndian16(raw(out)), uint16_t(0x1234));
    QCOMPARE(bigEndian32(raw(out) + 2), 0x80000000u);
    QCOMPARE(bigEndian32(raw(out) + 6), 0xFFFFFF9Cu);
    QCOMPARE(int32_t(bigEndian32(raw(out) + 6)), int32_t(-100));
    QCOMPARE(bigEndian16(raw(out) + 8), uint16_t(0xFF9C));
}

QTEST_APPLESS_MAIN(TstFrame)
#include "tst_frame.moc"
