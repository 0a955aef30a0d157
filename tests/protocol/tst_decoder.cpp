// The reply decoder: one poll tick's bytes and the pending-reply flags in,
// the ordered list of what the window must show out.
#include "decoder.h"
#include "frame.h"

#include <QRegularExpression>
#include <QtTest>

#include <random>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// A 19-byte own-protocol reply with the given bytes set; the checksum is
// computed here by hand so the decoder's own helpers are not involved.
QByteArray ownReply(uint8_t command, std::initializer_list<std::pair<int, uint8_t>> bytes)
{
    QByteArray frame(19, '\0');
    frame[0] = char(0xAA);
    frame[1] = char(command);
    for (const auto &b : bytes)
        frame[b.first] = char(b.second);
    int sum = 0;
    for (int i = 2; i <= 16; ++i)
        sum += uint8_t(frame.at(i));
    frame[17] = char(sum & 0xFF);
    frame[18] = char(0xAB);
    return frame;
}

QString fieldName(Field field)
{
    switch (field) {
    case Field::DeviceId: return QStringLiteral("DeviceId");
    case Field::SoftId: return QStringLiteral("SoftId");
    case Field::DeviceAddr: return QStringLiteral("DeviceAddr");
    case Field::CalibrZero: return QStringLiteral("CalibrZero");
    case Field::CalibrateFactor: return QStringLiteral("CalibrateFactor");
    case Field::CaliParamA: return QStringLiteral("CaliParamA");
    case Field::CaliParamB: return QStringLiteral("CaliParamB");
    case Field::CaliParamC: return QStringLiteral("CaliParamC");
    }
    return QStringLiteral("?");
}

// One line per action, so a failing comparison shows the whole list.
QString describe(const ReplyAction &action)
{
    switch (action.kind) {
    case ReplyAction::AppendLog: return QStringLiteral("log ") + action.text;
    case ReplyAction::SetField: return fieldName(action.field) + QLatin1Char('=') + action.text;
    case ReplyAction::Confirm:
        return QStringLiteral("box ") + QString::fromUtf8(action.source ? action.source : "(null)");
    case ReplyAction::ConfirmAndLog:
        return QStringLiteral("box+log ")
               + QString::fromUtf8(action.source ? action.source : "(null)");
    }
    return QStringLiteral("?");
}

QStringList describe(const QVector<ReplyAction> &actions)
{
    QStringList lines;
    for (const ReplyAction &action : actions)
        lines << describe(action);
    return lines;
}

QStringList decode(const QByteArray &block, PendingReplies &flags)
{
    return describe(decodeTick(block, flags));
}

PendingReplies allRaised()
{
    PendingReplies flags;
    flags.waitNoise = flags.waitDeviceAddr = flags.waitCalibrate = flags.waitSN =
        flags.waitVersion = flags.waitOrigin = flags.waitCaliParam = 1;
    return flags;
}

QString flagText(const PendingReplies &f)
{
    return QStringLiteral("noise=%1 addr=%2 calibrate=%3 sn=%4 version=%5 origin=%6 param=%7")
        .arg(f.waitNoise)
        .arg(f.waitDeviceAddr)
        .arg(f.waitCalibrate)
        .arg(f.waitSN)
        .arg(f.waitVersion)
        .arg(f.waitOrigin)
        .arg(f.waitCaliParam);
}

QString echoOf(const QByteArray &block)
{
    QString text;
    for (char c : block)
        text += QStringLiteral("%1 ").arg(uint8_t(c), 2, 16, QChar('0'));
    return QStringLiteral("log ") + text;
}

QString ownReportLine(const char *origin, const char *ad, const char *noise)
{
    return QStringLiteral("log ") + QStringLiteral("Origin Value:  ") + origin
           + QStringLiteral("    AD Count: ") + ad + QStringLiteral("     ")
           + QStringLiteral(" Noise:  ") + noise + QStringLiteral("  dB");
}

QString noiseLine(const char *value)
{
    return QStringLiteral("log Current Noise Value: ") + value + QStringLiteral("  dB");
}

QString originLine(const char *origin, const char *noise)
{
    return QStringLiteral("log Origin Value:  ") + origin + QStringLiteral("   ::::::  ") + noise
           + QStringLiteral("    dB   ");
}

// A 17-byte parameter read reply whose bytes every flag decodes differently.
const QByteArray kEveryFlagReply =
    hex("00 03 0C 16 0B 00 64 01 C8 00 00 FF FF FF 9C ED DC");

// What each flag shows for kEveryFlagReply, in table order, with the fewest
// bytes a read must have to serve it.
struct FlagExpectation
{
    int PendingReplies::*flag;
    int minimumLength;
    QStringList lines;
};

QVector<FlagExpectation> everyFlagExpectations()
{
    return {
        {&PendingReplies::waitNoise, 5, {noiseLine("564.3")}},
        {&PendingReplies::waitDeviceAddr, 5, {"DeviceAddr=b"}},
        {&PendingReplies::waitCalibrate, 7, {"CalibrZero=11", "CalibrateFactor=100"}},
        {&PendingReplies::waitSN, 7, {"DeviceId=160b-0064"}},
        {&PendingReplies::waitVersion, 5, {"SoftId=17-6-11"}},
        {&PendingReplies::waitOrigin, 9, {originLine("369819748", "45.6")}},
        {&PendingReplies::waitCaliParam, 15,
         {"CaliParamA=3.6982e+06", "CaliParamB=298844", "CaliParamC=-1"}},
    };
}

const char *const kConfirmations[] = {
    "Device change to MODBUS!",
    "Device change to Vela!",
    "Device change to FactoryConfig!",
    "Set Calibrate Param Success!",
    "恢复出厂设置成功！",
    "设置校准成功!",
};

} // namespace

class TstDecoder : public QObject
{
    Q_OBJECT

private slots:
    void emptyReadShowsNothing();
    void onlyReadsOfFourToSeventeenBytesAreEchoed_data();
    void onlyReadsOfFourToSeventeenBytesAreEchoed();

    void ownReplies_data();
    void ownReplies();
    void ownReplyWithAWrongChecksumIsStillDecoded();
    void ownReplyNeverServesAFlag();

    void strayLeadingByteHidesEveryFrame();
    void twoRepliesInOneReadBothDecode();
    void ownSlotsDecodeBeforeTheModbusPass();
    void atMostEightSlotsAreExamined_data();
    void atMostEightSlotsAreExamined();
    void bytesPastTheWorkingCopyAreDropped();

    void writeEchoes_data();
    void writeEchoes();
    void exceptionReplyLeavesTheFlagRaised();

    void readReplyServesItsFlag_data();
    void readReplyServesItsFlag();
    void qualifyingReadWithNoFlagRaisedShowsOnlyTheEcho();
    void oneReplyServesEveryRaisedFlagInTableOrder();
    void noiseReplyAlsoServesARaisedAddressQuery();

    void truncatedReplyServesOnlyTheFlagsItHoldsBytesFor_data();
    void truncatedReplyServesOnlyTheFlagsItHoldsBytesFor();
    void fourByteVersionReplyLeavesTheFlagRaised();
    void eighteenByteReadIsDecodedButNotEchoed();

    void replyFedInSmallPiecesNeverShowsMissingBytes_data();
    void replyFedInSmallPiecesNeverShowsMissingBytes();

    void realValuesUseSixSignificantDigits();

    void randomBlocksNeverBreakTheDecoder();
};

void TstDecoder::emptyReadShowsNothing()
{
    PendingReplies flags = allRaised();
    QVERIFY(decodeTick(QByteArray(), flags).isEmpty());
    QCOMPARE(flagText(flags), flagText(allRaised()));
}

void TstDecoder::onlyReadsOfFourToSeventeenBytesAreEchoed_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QStringList>("expected");

    // Byte 1 is neither a read nor a write code, so only the echo can show.
    QByteArray filler;
    for (int i = 0; i < 18; ++i)
        filler.append(char(0xF0 - i));
    QTest::newRow("1") << filler.left(1) << QStringList();
    QTest::newRow("3") << filler.left(3) << QStringList();
    QTest::newRow("4") << filler.left(4) << QStringList{"log f0 ef ee ed "};
    QTest::newRow("8") << filler.left(8) << QStringList{echoOf(filler.left(8))};
    QTest::newRow("17") << filler.left(17)
                        << QStringList{"log f0 ef ee ed ec eb ea e9 e8 e7 e6 e5 e4 e3 e2 e1 e0 "};
    QTest::newRow("18") << filler.left(18) << QStringList();
    QTest::newRow("4 with zeros") << hex("00 00 00 00") << QStringList{"log 00 00 00 00 "};
}

void TstDecoder::onlyReadsOfFourToSeventeenBytesAreEchoed()
{
    QFETCH(QByteArray, block);
    QFETCH(QStringList, expected);
    PendingReplies flags = allRaised();
    QCOMPARE(decode(block, flags), expected);
    QCOMPARE(flagText(flags), flagText(allRaised()));
}

void TstDecoder::ownReplies_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("identity")
        << ownReply(0xA6, {{8, 0x12}, {9, 0xAB}, {10, 0x00}, {11, 0xFF}})
        << QStringList{"DeviceId=12ab-00ff"};
    QTest::newRow("identity ignores other bytes")
        << ownReply(0xA6, {{2, 0x99}, {7, 0x01}, {12, 0x02}, {8, 0x0A}, {11, 0x0B}})
        << QStringList{"DeviceId=0a00-000b"};

    QTest::newRow("version") << ownReply(0xB5, {{9, 0x11}, {10, 0x06}, {11, 0x07}})
                             << QStringList{"SoftId=17-6-7"};
    QTest::newRow("version negative last")
        << ownReply(0xB5, {{9, 0x11}, {10, 0x06}, {11, 0x80}}) << QStringList{"SoftId=17-6--128"};
    QTest::newRow("version all ff") << ownReply(0xB5, {{9, 0xFF}, {10, 0xFF}, {11, 0xFF}})
                                    << QStringList{"SoftId=-1--1--1"};

    QTest::newRow("parameters")
        << ownReply(0xA9, {{2, 0x51}, {3, 0xFF}, {4, 0xFF}, {5, 0xFF}, {6, 0x9C},
                           {9, 0x04}, {10, 0xD2}, {11, 0x05}, {12, 0xF5}, {13, 0xE1}})
        << QStringList{"CaliParamA=-1", "CaliParamB=12.34", "CaliParamC=1e+06"};
    QTest::newRow("parameters at the 32-bit bounds")
        << ownReply(0xA9, {{2, 0x51}, {3, 0x80}, {7, 0x7F}, {8, 0xFF}, {9, 0xFF}, {10, 0xFF}})
        << QStringList{"CaliParamA=-2.14748e+07", "CaliParamB=2.14748e+07", "CaliParamC=0"};
    QTest::newRow("parameters without selector")
        << ownReply(0xA9, {{2, 0x50}, {6, 0x64}}) << QStringList();

    QTest::newRow("parameter write confirmed")
        << ownReply(0xA8, {{2, 0x51}}) << QStringList{"box Set Calibrate Param Success!"};
    QTest::newRow("parameter write without selector") << ownReply(0xA8, {}) << QStringList();

    QTest::newRow("factory reset") << ownReply(0xB4, {{2, 0xFD}, {3, 0x01}})
                                   << QStringList{QStringLiteral("box 恢复出厂设置成功！")};
    QTest::newRow("factory reset with byte 3 zero")
        << ownReply(0xB4, {{2, 0xFD}, {3, 0x00}}) << QStringList();
    QTest::newRow("factory reset with byte 3 two")
        << ownReply(0xB4, {{2, 0xFD}, {3, 0x02}}) << QStringList();

    QTest::newRow("calibration negative")
        << ownReply(0xB4, {{2, 0x0B}, {3, 0x00}, {4, 0x05}, {5, 0x64}})
        << QStringList{"CalibrZero=-5", "CalibrateFactor=100"};
    QTest::newRow("calibration positive")
        << ownReply(0xB4, {{2, 0x0B}, {3, 0x01}, {4, 0x05}, {5, 0x64}})
        << QStringList{"CalibrZero=5", "CalibrateFactor=100"};
    QTest::newRow("calibration zero magnitude has no sign")
        << ownReply(0xB4, {{2, 0x0B}, {3, 0x00}, {4, 0x00}, {5, 0xFF}})
        << QStringList{"CalibrZero=0", "CalibrateFactor=255"};
    QTest::newRow("calibration any nonzero sign is positive")
        << ownReply(0xB4, {{2, 0x0B}, {3, 0x80}, {4, 0xFF}, {5, 0x00}})
        << QStringList{"CalibrZero=255", "CalibrateFactor=0"};

    QTest::newRow("calibration done")
        << ownReply(0xB4, {{2, 0x0C}}) << QStringList{QStringLiteral("box 设置校准成功!")};
    QTest::newRow("config with unknown selector") << ownReply(0xB4, {{2, 0x0D}}) << QStringList();

    QTest::newRow("report")
        << ownReply(0xA5, {{2, 0x03}, {5, 0x10}, {6, 0x27}, {11, 0xC8}, {12, 0x01}})
        << QStringList{ownReportLine("10000", "0", "45.6")};
    QTest::newRow("report at maximum values")
        << ownReply(0xA5, {{2, 0x03}, {5, 0xFF}, {6, 0xFF}, {11, 0xFF}, {12, 0xFF},
                           {13, 0xFF}, {14, 0xFF}, {15, 0xFF}, {16, 0xFF}})
        << QStringList{ownReportLine("65535", "4294967295", "6553.5")};
    QTest::newRow("report AD count is big-endian")
        << ownReply(0xA5, {{2, 0x03}, {5, 0x01}, {13, 0x00}, {14, 0x01}, {15, 0x86}, {16, 0xA0},
                           {11, 0xE8}, {12, 0x03}})
        << QStringList{ownReportLine("1", "100000", "100")};
    QTest::newRow("report without marker")
        << ownReply(0xA5, {{2, 0x02}, {5, 0x10}}) << QStringList();

    QTest::newRow("set identity is not a reply") << ownReply(0xA7, {{8, 0x12}}) << QStringList();
    QTest::newRow("unknown command") << ownReply(0xB6, {{2, 0x51}}) << QStringList();
}

void TstDecoder::ownReplies()
{
    QFETCH(QByteArray, block);
    QFETCH(QStringList, expected);
    PendingReplies flags;
    QCOMPARE(decode(block, flags), expected);
}

void TstDecoder::ownReplyWithAWrongChecksumIsStillDecoded()
{
    QByteArray frame = ownReply(0xA6, {{8, 0x12}, {9, 0xAB}, {10, 0x00}, {11, 0xFF}});
    frame[17] = char(uint8_t(frame.at(17)) + 1);
    PendingReplies flags;
    QCOMPARE(decode(frame, flags), QStringList{"DeviceId=12ab-00ff"});
}

void TstDecoder::ownReplyNeverServesAFlag()
{
    // Byte 1 of an own reply is its command code, never a Modbus read code.
    for (uint8_t command : {0xA5, 0xA6, 0xA8, 0xA9, 0xB4, 0xB5}) {
        PendingReplies flags = allRaised();
        decodeTick(ownReply(command, {{2, 0x03}}), flags);
        QCOMPARE(flagText(flags), flagText(allRaised()));
    }
}

void TstDecoder::strayLeadingByteHidesEveryFrame()
{
    const QByteArray identity = ownReply(0xA6, {{8, 0x12}, {9, 0xAB}, {10, 0x00}, {11, 0xFF}});
    PendingReplies flags;
    QCOMPARE(decode(QByteArray(1, '\0') + identity, flags), QStringList());
    QCOMPARE(decode(QByteArray(1, char(0xAA)) + identity + identity, flags), QStringList());
    // A frame split across two ticks is lost as well.
    QCOMPARE(decode(identity.left(10), flags), QStringList{echoOf(identity.left(10))});
    QCOMPARE(decode(identity.mid(10), flags), QStringList{echoOf(identity.mid(10))});
}

void TstDecoder::twoRepliesInOneReadBothDecode()
{
    const QByteArray first = ownReply(0xA9, {{2, 0x51}, {6, 0x64}, {10, 0xC8}, {14, 0x01}});
    const QByteArray second = ownReply(0xA9, {{2, 0x51}, {3, 0xFF}, {4, 0xFF}, {5, 0xFF}, {6, 0x9C},
                                              {9, 0x04}, {10, 0xD2}});
    PendingReplies flags;
    QCOMPARE(decode(first + second, flags),
             (QStringList{"CaliParamA=1", "CaliParamB=2", "CaliParamC=0.01", "CaliParamA=-1",
                          "CaliParamB=12.34", "CaliParamC=0"}));

    // A frame at the second slot is found behind a first slot of garbage.
    QCOMPARE(decode(QByteArray(19, char(0x55)) + second, flags),
             (QStringList{"CaliParamA=-1", "CaliParamB=12.34", "CaliParamC=0"}));
}

void TstDecoder::ownSlotsDecodeBeforeTheModbusPass()
{
    // A parameter read reply padded to one slot, then an identity reply.
    const QByteArray modbusReply = hex("00 03 0C FF FF FF 9C 00 00 04 D2 05 F5 E1 00 1B BF");
    const QByteArray block = modbusReply + hex("00 00")
                             + ownReply(0xA6, {{8, 0x12}, {9, 0xAB}, {10, 0x00}, {11, 0xFF}});
    QCOMPARE(block.size(), 38);
    PendingReplies flags;
    flags.waitCaliParam = 1;
    QCOMPARE(decode(block, flags), (QStringList{"DeviceId=12ab-00ff", "CaliParamA=-1",
                                                "CaliParamB=12.34", "CaliParamC=1e+06"}));
    QCOMPARE(flags.waitCaliParam, 0);
}

void TstDecoder::atMostEightSlotsAreExamined_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("extraBytes");
    QTest::addColumn<int>("decoded");

    QTest::newRow("7 frames, 151 bytes") << 7 << 18 << 7;
    QTest::newRow("8 frames, 152 bytes") << 8 << 0 << 8;
    QTest::newRow("8 frames, 160 bytes") << 8 << 8 << 8;
    QTest::newRow("9 frames, 171 bytes") << 9 << 0 << 8;
    QTest::newRow("15 frames, 300 bytes") << 15 << 15 << 8;
    QTest::newRow("50 frames, 950 bytes") << 50 << 0 << 8;
}

void TstDecoder::atMostEightSlotsAreExamined()
{
    QFETCH(int, frames);
    QFETCH(int, extraBytes);
    QFETCH(int, decoded);

    QByteArray block;
    QStringList expected;
    for (int i = 0; i < frames; ++i) {
        block += ownReply(0xA6, {{8, uint8_t(i)}, {11, uint8_t(0xF0 + i % 16)}});
        if (i < decoded)
            expected << QString::asprintf("DeviceId=%02x00-00%02x", i, 0xF0 + i % 16);
    }
    block += QByteArray(extraBytes, char(0xAA));
    PendingReplies flags = allRaised();
    QCOMPARE(decode(block, flags), expected);
    QCOMPARE(flagText(flags), flagText(allRaised()));
}

void TstDecoder::bytesPastTheWorkingCopyAreDropped()
{
    // Slots 8 and 9 (offsets 152 and 171) lie past the 160-byte copy.
    QByteArray block(300, '\0');
    const QByteArray identity = ownReply(0xA6, {{8, 0x12}});
    block.replace(152, 19, identity);
    block.replace(171, 19, identity);
    PendingReplies flags;
    QCOMPARE(decode(block, flags), QStringList());

    // A long read that starts with a read reply serves the flags once.
    QByteArray longReply = kEveryFlagReply + QByteArray(300 - kEveryFlagReply.size(), char(0x03));
    flags = allRaised();
    QStringList expected;
    for (const FlagExpectation &e : everyFlagExpectations())
        expected += e.lines;
    QCOMPARE(decode(longReply, flags), expected);
    QCOMPARE(flagText(flags), flagText(PendingReplies()));
}

void TstDecoder::writeEchoes_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("confirmation");

    QTest::newRow("to modbus") << hex("00 06 00 B1 00 03 98 3D") << "Device change to MODBUS!";
    QTest::newRow("to own protocol") << hex("00 06 00 B1 00 00 D8 3C") << "Device change to Vela!";
    QTest::newRow("factory config") << hex("00 06 00 A5 00 01 59 F8")
                                    << "Device change to FactoryConfig!";
    QTest::newRow("parameter write") << hex("00 10 00 B2 00 06 E1 FD")
                                     << "Set Calibrate Param Success!";
    QTest::newRow("bytes 0, 2, 4 and crc not examined")
        << hex("7F 06 55 B1 66 03 00 00") << "Device change to MODBUS!";

    QTest::newRow("protocol select with unknown value") << hex("00 06 00 B1 00 02 59 FD") << "";
    QTest::newRow("device address write") << hex("00 06 00 09 00 02 D9 D8") << "";
    QTest::newRow("calibration write") << hex("00 10 00 C3 00 02 B0 25") << "";
    QTest::newRow("multiple write to protocol select") << hex("00 10 00 B1 00 03 00 00") << "";
    QTest::newRow("single write to parameters") << hex("00 06 00 B2 00 06 00 00") << "";
    QTest::newRow("8-byte read reply") << hex("00 03 04 12 AB 00 FF DE") << "";
    QTest::newRow("8-byte input read reply") << hex("00 04 00 B1 00 03 00 00") << "";
}

void TstDecoder::writeEchoes()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, confirmation);
    QStringList expected{echoOf(block)};
    if (!confirmation.isEmpty())
        expected << QStringLiteral("box+log ") + confirmation;

    PendingReplies flags = allRaised();
    QCOMPARE(decode(block, flags), expected);
    QCOMPARE(flagText(flags), flagText(allRaised()));
}

void TstDecoder::exceptionReplyLeavesTheFlagRaised()
{
    PendingReplies flags;
    flags.waitNoise = 1;
    QCOMPARE(decode(hex("00 83 02 91 31"), flags), QStringList{"log 00 83 02 91 31 "});
    QCOMPARE(flags.waitNoise, 1);

    flags = allRaised();
    decodeTick(hex("00 84 02 C2 C1"), flags);
    decodeTick(hex("00 90 04 4D C3"), flags);
    QCOMPARE(flagText(flags), flagText(allRaised()));
}

void TstDecoder::readReplyServesItsFlag_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("noise") << hex("00 04 02 01 C8 84 F6") << "noise"
                           << QStringList{noiseLine("45.6")};
    QTest::newRow("noise whole dB") << hex("00 04 02 03 E8 00 00") << "noise"
                                    << QStringList{noiseLine("100")};
    QTest::newRow("noise maximum") << hex("00 04 02 FF FF 00 00") << "noise"
                                   << QStringList{noiseLine("6553.5")};
    QTest::newRow("noise zero") << hex("00 04 02 00 00 00 00") << "noise"
                                << QStringList{noiseLine("0")};

    QTest::newRow("address 1f") << hex("00 03 02 00 1F C4 4C") << "addr"
                                << QStringList{"DeviceAddr=1f"};
    QTest::newRow("address a, high byte ignored") << hex("00 03 02 0A 0A 03 23") << "addr"
                                                  << QStringList{"DeviceAddr=a"};
    QTest::newRow("address 0") << hex("00 03 02 00 00 00 00") << "addr"
                               << QStringList{"DeviceAddr=0"};
    QTest::newRow("address ff") << hex("00 03 02 00 FF 00 00") << "addr"
                                << QStringList{"DeviceAddr=ff"};

    QTest::newRow("calibration negative") << hex("00 03 04 00 05 00 64 FB 19") << "calibrate"
                                          << QStringList{"CalibrZero=-5", "CalibrateFactor=100"};
    QTest::newRow("calibration positive, byte 5 ignored")
        << hex("00 03 04 01 05 7F 64 00 00") << "calibrate"
        << QStringList{"CalibrZero=5", "CalibrateFactor=100"};
    QTest::newRow("calibration zero magnitude has no sign")
        << hex("00 03 04 00 00 00 FF 00 00") << "calibrate"
        << QStringList{"CalibrZero=0", "CalibrateFactor=255"};

    QTest::newRow("serial number") << hex("00 03 04 12 AB 00 FF DE 2B") << "sn"
                                   << QStringList{"DeviceId=12ab-00ff"};

    QTest::newRow("version") << hex("00 03 02 16 0B CA 23") << "version"
                             << QStringList{"SoftId=17-6-11"};
    QTest::newRow("version extremes") << hex("00 03 02 F0 80 00 00") << "version"
                                      << QStringList{"SoftId=31-0--128"};

    QTest::newRow("origin") << hex("00 03 06 00 01 86 A0 01 C8 38 49") << "origin"
                            << QStringList{originLine("100000", "45.6")};
    QTest::newRow("origin maximum") << hex("00 03 06 FF FF FF FF FF FF 2D 6A") << "origin"
                                    << QStringList{originLine("4294967295", "6553.5")};

    QTest::newRow("parameters")
        << hex("00 03 0C FF FF FF 9C 00 00 04 D2 05 F5 E1 00 1B BF") << "param"
        << QStringList{"CaliParamA=-1", "CaliParamB=12.34", "CaliParamC=1e+06"};
    QTest::newRow("parameters at the 32-bit bounds")
        << hex("00 03 0C 80 00 00 00 7F FF FF FF 00 00 00 00 00 00") << "param"
        << QStringList{"CaliParamA=-2.14748e+07", "CaliParamB=2.14748e+07", "CaliParamC=0"};
}

void TstDecoder::readReplyServesItsFlag()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, flag);
    QFETCH(QStringList, lines);

    PendingReplies flags;
    int *raised = flag == "noise"       ? &flags.waitNoise
                  : flag == "addr"      ? &flags.waitDeviceAddr
                  : flag == "calibrate" ? &flags.waitCalibrate
                  : flag == "sn"        ? &flags.waitSN
                  : flag == "version"   ? &flags.waitVersion
                  : flag == "origin"    ? &flags.waitOrigin
                                        : &flags.waitCaliParam;
    *raised = 1;
    QCOMPARE(decode(block, flags), QStringList{echoOf(block)} + lines);
    QCOMPARE(flagText(flags), flagText(PendingReplies()));
}

void TstDecoder::qualifyingReadWithNoFlagRaisedShowsOnlyTheEcho()
{
    PendingReplies flags;
    const QByteArray noise = hex("00 04 02 01 C8 84 F6");
    QCOMPARE(decode(noise, flags), QStringList{echoOf(noise)});
    QCOMPARE(decode(kEveryFlagReply, flags), QStringList{echoOf(kEveryFlagReply)});
}

void TstDecoder::oneReplyServesEveryRaisedFlagInTableOrder()
{
    PendingReplies flags = allRaised();
    QStringList expected{echoOf(kEveryFlagReply)};
    for (const FlagExpectation &e : everyFlagExpectations())
        expected += e.lines;
    QCOMPARE(decode(kEveryFlagReply, flags), expected);
    QCOMPARE(flagText(flags), flagText(PendingReplies()));

    // A second copy finds every flag lowered.
    QCOMPARE(decode(kEveryFlagReply, flags), QStringList{echoOf(kEveryFlagReply)});
}

void TstDecoder::noiseReplyAlsoServesARaisedAddressQuery()
{
    PendingReplies flags;
    flags.waitNoise = 1;
    flags.waitDeviceAddr = 1;
    const QByteArray reply = hex("00 03 02 00 1F C4 4C");
    QCOMPARE(decode(reply, flags),
             (QStringList{echoOf(reply), noiseLine("3.1"), "DeviceAddr=1f"}));
    QCOMPARE(flagText(flags), flagText(PendingReplies()));

    // A query never answered is served by the next qualifying read.
    flags.waitSN = 1;
    decodeTick(hex("00 06 00 09 00 02 D9 D8"), flags); // an 8-byte echo does not qualify
    QCOMPARE(flags.waitSN, 1);
    QCOMPARE(decode(reply, flags), (QStringList{echoOf(reply), "DeviceId=001f-c44c"}));
    QCOMPARE(flags.waitSN, 0);
}

void TstDecoder::truncatedReplyServesOnlyTheFlagsItHoldsBytesFor_data()
{
    QTest::addColumn<int>("length");
    for (int n = 2; n <= 18; ++n) {
        if (n != 8)
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
}

void TstDecoder::truncatedReplyServesOnlyTheFlagsItHoldsBytesFor()
{
    QFETCH(int, length);
    const QByteArray block = kEveryFlagReply.left(length) + QByteArray(qMax(0, length - 17), '\0');
    QCOMPARE(block.size(), length);

    PendingReplies flags = allRaised();
    PendingReplies expectedFlags = allRaised();
    QStringList expected;
    if (length >= 4 && length <= 17)
        expected << echoOf(block);
    for (const FlagExpectation &e : everyFlagExpectations()) {
        if (length >= e.minimumLength) {
            expected += e.lines; // the same text a whole reply gives: no byte made up
            expectedFlags.*e.flag = 0;
        }
    }
    QCOMPARE(decode(block, flags), expected);
    QCOMPARE(flagText(flags), flagText(expectedFlags));
}

void TstDecoder::fourByteVersionReplyLeavesTheFlagRaised()
{
    PendingReplies flags;
    flags.waitVersion = 1;
    QCOMPARE(decode(hex("00 03 02 05"), flags), QStringList{"log 00 03 02 05 "});
    QCOMPARE(flags.waitVersion, 1);

    QCOMPARE(decode(hex("00 03 02 05 0B"), flags),
             (QStringList{"log 00 03 02 05 0b ", "SoftId=16-5-11"}));
    QCOMPARE(flags.waitVersion, 0);
}

void TstDecoder::eighteenByteReadIsDecodedButNotEchoed()
{
    PendingReplies flags;
    flags.waitSN = 1;
    const QByteArray block = hex("00 03 04 12 AB 00 FF DE 2B") + QByteArray(9, char(0xAB));
    QCOMPARE(block.size(), 18);
    QCOMPARE(decode(block, flags), QStringList{"DeviceId=12ab-00ff"});
    QCOMPARE(flags.waitSN, 0);
}

void TstDecoder::replyFedInSmallPiecesNeverShowsMissingBytes_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("piece");

    const QByteArray replies[] = {
        hex("00 04 02 01 C8 84 F6"),
        hex("00 03 04 12 AB 00 FF DE 2B"),
        hex("00 03 06 00 01 86 A0 01 C8 38 49"),
        kEveryFlagReply,
        ownReply(0xA9, {{2, 0x51}, {6, 0x64}}),
    };
    for (const QByteArray &reply : replies) {
        for (int piece = 1; piece <= 3; ++piece) {
            const QString name = QStringLiteral("%1 bytes, %2 a tick").arg(reply.size()).arg(piece);
            QTest::newRow(qPrintable(name)) << reply << piece;
        }
    }
}

void TstDecoder::replyFedInSmallPiecesNeverShowsMissingBytes()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, piece);

    // Pieces of at most three bytes are too short to be echoed and too short
    // for any flag: nothing shows and every flag stays raised.
    PendingReplies flags = allRaised();
    for (int at = 0; at < reply.size(); at += piece) {
        const QStringList shown = decode(reply.mid(at, piece), flags);
        QVERIFY2(shown.isEmpty(),
                 qPrintable(QStringLiteral("at %1: ").arg(at) + shown.join(" | ")));
    }
    QCOMPARE(flagText(flags), flagText(allRaised()));
}

void TstDecoder::realValuesUseSixSignificantDigits()
{
    QCOMPARE(realText(456 / 10.0), QStringLiteral("45.6"));
    QCOMPARE(realText(1000 / 10.0), QStringLiteral("100"));
    QCOMPARE(realText(-100 / 100.0), QStringLiteral("-1"));
    QCOMPARE(realText(1234 / 100.0), QStringLiteral("12.34"));
    QCOMPARE(realText(100000000 / 100.0), QStringLiteral("1e+06"));
    QCOMPARE(realText(1234567.0), QStringLiteral("1.23457e+06"));
    QCOMPARE(realText(0.0), QStringLiteral("0"));
    QCOMPARE(realText(1 / 100.0), QStringLiteral("0.01"));
    QCOMPARE(realText(-2147483648 / 100.0), QStringLiteral("-2.14748e+07"));
}

void TstDecoder::randomBlocksNeverBreakTheDecoder()
{
    // Every text a tick can produce, by the shape it must have.
    const QString real = QStringLiteral("-?\\d+(\\.\\d+)?(e[+-]\\d\\d)?");
    const QRegularExpression noise(QStringLiteral("^Current Noise Value: ") + real
                                   + QStringLiteral("  dB$"));
    const QRegularExpression origin(QStringLiteral("^Origin Value:  \\d{1,10}   ::::::  ") + real
                                    + QStringLiteral("    dB   $"));
    const QRegularExpression report(QStringLiteral("^Origin Value:  \\d{1,5}    AD Count: \\d{1,10}"
                                                   "      Noise:  ")
                                    + real + QStringLiteral("  dB$"));
    const QRegularExpression identity(QStringLiteral("^[0-9a-f]{4}-[0-9a-f]{4}$"));
    const QRegularExpression version(QStringLiteral("^-?\\d{1,3}--?\\d{1,3}--?\\d{1,3}$"));
    const QRegularExpression address(QStringLiteral("^[0-9a-f]{1,2}$"));
    const QRegularExpression zero(QStringLiteral("^(0|-?[1-9]\\d{0,2})$"));
    const QRegularExpression factor(QStringLiteral("^(0|[1-9]\\d{0,2})$"));
    const QRegularExpression param(QStringLiteral("^") + real + QStringLiteral("$"));
    QSet<QString> confirmations;
    for (const char *text : kConfirmations)
        confirmations.insert(QString::fromUtf8(text));

    const int minimumLength[7] = {5, 5, 7, 7, 5, 9, 15};
    int PendingReplies::*const flagMembers[7] = {
        &PendingReplies::waitNoise,     &PendingReplies::waitDeviceAddr,
        &PendingReplies::waitCalibrate, &PendingReplies::waitSN,
        &PendingReplies::waitVersion,   &PendingReplies::waitOrigin,
        &PendingReplies::waitCaliParam};
    const int modbusActionCount[7] = {1, 1, 2, 1, 1, 1, 3};

    std::mt19937 random(450u);
    auto below = [&random](int n) { return int(random() % unsigned(n)); };
    const uint8_t commands[] = {0xA5, 0xA6, 0xA8, 0xA9, 0xB4, 0xB5, 0xA7, 0x00};
    const uint8_t selectors[] = {0x03, 0x51, 0xFD, 0x0B, 0x0C, 0x00};
    const uint8_t functions[] = {0x03, 0x04, 0x06, 0x10, 0x83, 0x00};

    const int rounds = 200000;
    qint64 actionsSeen = 0;
    for (int round = 0; round < rounds; ++round) {
        const int shape = below(4);
        int size = below(401);
        if (shape == 1)
            size = below(24);
        else if (shape == 3)
            size = 8;
        QByteArray block(size, '\0');
        for (char &c : block)
            c = char(below(256));
        if (shape == 1 && size >= 2) {
            block[1] = char(functions[below(6)]);
        } else if (shape == 2) {
            for (int slot = 0; (slot + 1) * 19 <= size; ++slot) {
                if (below(3) == 0)
                    continue;
                const int at = slot * 19;
                block[at] = char(0xAA);
                block[at + 1] = char(commands[below(8)]);
                block[at + 2] = char(selectors[below(6)]);
                block[at + 3] = char(below(3));
                block[at + 18] = char(0xAB);
            }
        } else if (shape == 3) {
            block[1] = char(functions[below(4)]);
            block[3] = char(QByteArray::fromHex("B1A5B209C3").at(below(5)));
            block[5] = char(QByteArray::fromHex("0001020306").at(below(5)));
        }

        PendingReplies flags;
        for (auto member : flagMembers)
            flags.*member = below(2);
        const PendingReplies before = flags;

        const QVector<ReplyAction> actions = decodeTick(block, flags);
        actionsSeen += actions.size();

        const QString where = QStringLiteral("round %1, block %2").arg(round).arg(toHexText(block));
        const int n = qMin(size, kWorkingCopySize);
        const bool echoed = size >= 4 && size <= 17;
        const bool qualifies = n != 8 && n >= 2 && (block.at(1) == 3 || block.at(1) == 4);

        // Flags: only lowered, and only by a read long enough for them.
        int expectedModbusActions = 0;
        for (int f = 0; f < 7; ++f) {
            const int was = before.*flagMembers[f];
            const int now = flags.*flagMembers[f];
            const bool served = was == 1 && qualifies && n >= minimumLength[f];
            if (now != (served ? 0 : was)) {
                const QString change = QStringLiteral(": flag %1 went %2 -> %3").arg(f).arg(was);
                QFAIL(qPrintable(where + change.arg(now)));
            }
            if (served)
                expectedModbusActions += modbusActionCount[f];
        }

        for (int i = 0; i < actions.size(); ++i) {
            const ReplyAction &a = actions.at(i);
            const QString &t = a.text;
            bool sane = false;
            switch (a.kind) {
            case ReplyAction::AppendLog:
                if (i == 0 && echoed)
                    sane = QStringLiteral("log ") + t == echoOf(block);
                else
                    sane = noise.match(t).hasMatch() || origin.match(t).hasMatch()
                           || report.match(t).hasMatch();
                break;
            case ReplyAction::SetField:
                switch (a.field) {
                case Field::DeviceId: sane = identity.match(t).hasMatch(); break;
                case Field::SoftId: sane = version.match(t).hasMatch(); break;
                case Field::DeviceAddr: sane = address.match(t).hasMatch(); break;
                case Field::CalibrZero:
                    sane = zero.match(t).hasMatch() && qAbs(t.toInt()) <= 255;
                    break;
                case Field::CalibrateFactor:
                    sane = factor.match(t).hasMatch() && t.toInt() <= 255;
                    break;
                case Field::CaliParamA:
                case Field::CaliParamB:
                case Field::CaliParamC:
                    sane = param.match(t).hasMatch() && qAbs(t.toDouble()) <= 21474836.5;
                    break;
                }
                break;
            case ReplyAction::Confirm:
                sane = a.source && size >= 19
                       && confirmations.contains(QString::fromUtf8(a.source));
                break;
            case ReplyAction::ConfirmAndLog:
                sane = a.source && size == 8 && i == actions.size() - 1
                       && confirmations.contains(QString::fromUtf8(a.source));
                break;
            }
            if (!sane)
                QFAIL(qPrintable(where
                                 + QStringLiteral(": action %1 is '%2'").arg(i).arg(describe(a))));
        }
        if (echoed && (actions.isEmpty() || actions.first().kind != ReplyAction::AppendLog))
            QFAIL(qPrintable(where + QStringLiteral(": no echo")));

        // Apart from the echo, what the Modbus pass shows plus at most three
        // actions per own-protocol slot.
        int slotsWithFrames = 0;
        for (int at = 0; at + 19 <= n; at += 19)
            slotsWithFrames += isOwnFrameAt(block.left(n), at) ? 1 : 0;
        const int rest = actions.size() - (echoed ? 1 : 0) - expectedModbusActions
                         - (size == 8 && !actions.isEmpty()
                                    && actions.last().kind == ReplyAction::ConfirmAndLog
                                ? 1
                                : 0);
        if (rest < 0 || rest > 3 * slotsWithFrames)
            QFAIL(qPrintable(where
                             + QStringLiteral(": %1 actions for %2 frames and %3 Modbus actions: ")
                                   .arg(actions.size())
                                   .arg(slotsWithFrames)
                                   .arg(expectedModbusActions)
                             + describe(actions).join(" | ")));
    }
    qInfo("decoded %d random blocks, %lld actions", rounds, actionsSeen);
}

QTEST_APPLESS_MAIN(TstDecoder)
#include "tst_decoder.moc"
