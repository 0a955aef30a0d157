// The reply decoder: one poll tick's bytes and the pending-reply flags in,
// the ordered list of what the window must show out.
#include "bytes.h"
#include "decoder.h"
#include "formats.h"
#include "frame.h"
#include "modbus.h"

#include <QRegularExpression>
#include <QtTest>

#include <random>

namespace {

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
    case Field::DeviceId:
        return QStringLiteral("DeviceId");
    case Field::SoftId:
        return QStringLiteral("SoftId");
    case Field::DeviceAddr:
        return QStringLiteral("DeviceAddr");
    case Field::CalibrZero:
        return QStringLiteral("CalibrZero");
    case Field::CalibrateFactor:
        return QStringLiteral("CalibrateFactor");
    case Field::CaliParamA:
        return QStringLiteral("CaliParamA");
    case Field::CaliParamB:
        return QStringLiteral("CaliParamB");
    case Field::CaliParamC:
        return QStringLiteral("CaliParamC");
    }
    return QStringLiteral("?");
}

QString queryText(Query query)
{
    static const char *const names[] = {"noise",   "addr",   "calibrate", "sn",
                                        "version", "origin", "param"};
    return QLatin1String(names[int(query)]);
}

// One line per action, so a failing comparison shows the whole list.
QString describe(const ReplyAction &action)
{
    switch (action.kind) {
    case ReplyAction::AppendLog:
        return QStringLiteral("log ") + action.text;
    case ReplyAction::SetField:
        return fieldName(action.field) + QLatin1Char('=') + action.text;
    case ReplyAction::Confirm:
        return QStringLiteral("box ") + QString::fromUtf8(action.source ? action.source : "(null)");
    case ReplyAction::ConfirmAndLog:
        return QStringLiteral("box+log ") +
               QString::fromUtf8(action.source ? action.source : "(null)");
    case ReplyAction::Unanswered:
        return QStringLiteral("unanswered ") + queryText(action.query);
    case ReplyAction::ArrivedDamaged:
        return QStringLiteral("damaged ") + queryText(action.query);
    case ReplyAction::WriteQuery:
        return QStringLiteral("write ") + queryText(action.query) + QLatin1Char(' ') +
               QString::fromLatin1(action.frame.toHex(' '));
    case ReplyAction::Refused:
        return QStringLiteral("refused %1 %2")
                   .arg(action.function, 2, 16, QChar('0'))
                   .arg(action.exceptionCode) +
               (action.answersQuery ? QLatin1Char(' ') + queryText(action.query) : QString());
    case ReplyAction::WriteConfirmed:
        return QStringLiteral("confirmed %1=%2")
            .arg(action.registerNumber, 4, 16, QChar('0'))
            .arg(action.value);
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

QStringList decode(const QByteArray &block, PendingReplies &flags, qint64 nowMs = 0)
{
    return describe(decodeTick(block, flags, nowMs));
}

// Flags raised in the given order, their queries written at `atMs`.
PendingReplies raised(std::initializer_list<Query> queries, qint64 atMs = 0)
{
    PendingReplies flags;
    for (Query query : queries)
        raisePending(flags, query, atMs);
    return flags;
}

PendingReplies allRaised()
{
    return raised({Query::Noise, Query::DeviceAddr, Query::Calibrate, Query::SerialNumber,
                   Query::Version, Query::Origin, Query::CaliParam});
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
    return QStringLiteral("log ") + QStringLiteral("Origin Value:  ") + origin +
           QStringLiteral("    AD Count: ") + ad + QStringLiteral("     ") +
           QStringLiteral(" Noise:  ") + noise + QStringLiteral("  dB");
}

QString noiseLine(const char *value)
{
    return QStringLiteral("log Current Noise Value: ") + value + QStringLiteral("  dB");
}

QString originLine(const char *origin, const char *noise)
{
    return QStringLiteral("log Origin Value:  ") + origin + QStringLiteral("   ::::::  ") + noise +
           QStringLiteral("    dB   ");
}

// A 17-byte parameter read reply whose bytes every flag decodes differently.
const QByteArray kEveryFlagReply = hex("00 03 0C 16 0B 00 64 01 C8 00 00 FF FF FF 9C ED DC");

const char *const kConfirmations[] = {
    "Device change to MODBUS!",     "Device change to Vela!", "Device change to FactoryConfig!",
    "Set Calibrate Param Success!", "恢复出厂设置成功！",     "设置校准成功!",
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
    void damageToAnyCoveredByteDecodesNothingAndIsSaidAtTheDeadline();
    void ownReplyNeverServesAFlag();

    void junkAroundFramesIsSkipped_data();
    void junkAroundFramesIsSkipped();
    void twoRepliesInOneReadBothDecode();
    void framesDecodeInTheOrderTheyCame();
    void atMostEightSlotsAreExamined_data();
    void atMostEightSlotsAreExamined();
    void bytesPastTheWorkingCopyAreDropped();

    void writeEchoes_data();
    void writeEchoes();
    void exceptionAnswersTheOldestQueryOfItsFunction();

    void readReplyServesItsFlag_data();
    void readReplyServesItsFlag();
    void qualifyingReadWithNoFlagRaisedShowsOnlyTheEcho();
    void replyServesOnlyTheOldestFlagOfItsShape_data();
    void replyServesOnlyTheOldestFlagOfItsShape();
    void sameShapeRepliesServeTheirFlagsInRequestOrder();
    void repliesBackToBackInOneReadEachServeTheirOwnFlag();
    void unansweredQueriesAreLoweredAtTheirDeadline();

    void replySplitAtEveryOffsetIsJoined_data();
    void replySplitAtEveryOffsetIsJoined();
    void fragmentThatNeverCompletesIsDropped();
    void sameShapeQueriesWaitTheirTurn();
    void eighteenByteReadIsDecodedButNotEchoed();

    void replyFedInSmallPiecesShowsOnlyWhenWhole_data();
    void replyFedInSmallPiecesShowsOnlyWhenWhole();

    void realValuesUseSixSignificantDigits();

    void randomBlocksNeverBreakTheDecoder();
};

void TstDecoder::emptyReadShowsNothing()
{
    PendingReplies flags = allRaised();
    QVERIFY(decodeTick(QByteArray(), flags, 0).isEmpty());
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

    QTest::newRow("identity") << ownReply(0xA6, {{8, 0x12}, {9, 0xAB}, {10, 0x00}, {11, 0xFF}})
                              << QStringList{"DeviceId=12ab-00ff"};
    QTest::newRow("identity ignores other bytes")
        << ownReply(0xA6, {{2, 0x99}, {7, 0x01}, {12, 0x02}, {8, 0x0A}, {11, 0x0B}})
        << QStringList{"DeviceId=0a00-000b"};

    QTest::newRow("version") << ownReply(0xB5, {{9, 0x11}, {10, 0x06}, {11, 0x07}})
                             << QStringList{"SoftId=17-6-7"};
    QTest::newRow("version negative last")
        << ownReply(0xB5, {{9, 0x11}, {10, 0x06}, {11, 0x80}}) << QStringList{"SoftId=17-6--128"};
    QTest::newRow("version all ff")
        << ownReply(0xB5, {{9, 0xFF}, {10, 0xFF}, {11, 0xFF}}) << QStringList{"SoftId=-1--1--1"};

    QTest::newRow("parameters") << ownReply(0xA9, {{2, 0x51},
                                                   {3, 0xFF},
                                                   {4, 0xFF},
                                                   {5, 0xFF},
                                                   {6, 0x9C},
                                                   {9, 0x04},
                                                   {10, 0xD2},
                                                   {11, 0x05},
                                                   {12, 0xF5},
                                                   {13, 0xE1}})
                                << QStringList{"CaliParamA=-1", "CaliParamB=12.34",
                                               "CaliParamC=1e+06"};
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

    QTest::newRow("report") << ownReply(0xA5,
                                        {{2, 0x03}, {5, 0x10}, {6, 0x27}, {11, 0xC8}, {12, 0x01}})
                            << QStringList{ownReportLine("10000", "0", "45.6")};
    QTest::newRow("report at maximum values")
        << ownReply(0xA5, {{2, 0x03},
                           {5, 0xFF},
                           {6, 0xFF},
                           {11, 0xFF},
                           {12, 0xFF},
                           {13, 0xFF},
                           {14, 0xFF},
                           {15, 0xFF},
                           {16, 0xFF}})
        << QStringList{ownReportLine("65535", "4294967295", "6553.5")};
    QTest::newRow("report AD count is big-endian")
        << ownReply(0xA5, {{2, 0x03},
                           {5, 0x01},
                           {13, 0x00},
                           {14, 0x01},
                           {15, 0x86},
                           {16, 0xA0},
                           {11, 0xE8},
                           {12, 0x03}})
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

void TstDecoder::damageToAnyCoveredByteDecodesNothingAndIsSaidAtTheDeadline()
{
    struct Case {
        QByteArray frame;
        QString query;    // the query it answers, if any
        int firstCovered; // the first byte its integrity code covers
    };
    const Case cases[] = {
        {withCrc("00 04 02 01 C8"), "noise", 0},
        {withCrc("00 03 04 12 AB 00 FF"), "sn", 0},
        {kEveryFlagReply, "param", 0},
        {withCrc("00 06 00 B1 00 03"), QString(), 0},
        {withCrc("00 83 02"), "version", 0},
        // An own frame's checksum covers bytes 2 to 16 and itself; a
        // changed head or tail makes no frame at all.
        {ownReply(0xA6, {{8, 0x12}, {11, 0xFF}}), QString(), 2},
        {ownReply(0xB4, {{2, 0xFD}, {3, 0x01}}), QString(), 2},
    };
    const QByteArray intact = ownReply(0xB5, {{9, 0x11}, {10, 0x06}, {11, 0x07}});
    for (const Case &c : cases) {
        Query query = Query::Noise;
        for (Query q : kQueries) {
            if (queryText(q) == c.query)
                query = q;
        }
        for (int at = c.firstCovered; at < c.frame.size() - (c.firstCovered ? 1 : 0); ++at) {
            QByteArray damaged = c.frame;
            damaged[at] = char(damaged.at(at) ^ 0x5A);
            const QString where = QStringLiteral("%1 byte %2").arg(toHexText(c.frame)).arg(at);
            PendingReplies flags = raised({query});
            // Nothing of the damaged frame shows; the intact reply behind it does.
            QCOMPARE(
                decode(damaged + intact, flags).filter(QRegularExpression("^(?!log ..( ..)* $)")),
                QStringList{"SoftId=17-6-7"});
            if (c.query.isEmpty())
                continue;
            // Its query waits on, and at its deadline learns that its reply
            // came damaged (unless the damage hid which query it answers).
            const QStringList said = decode(QByteArray(), flags, kReplyDeadlineMs);
            const bool shapeKept = at > modbus::kByteCountOffset;
            QVERIFY2(said == QStringList{(shapeKept ? "damaged " : "unanswered ") + c.query} ||
                         (!shapeKept && said == QStringList{"damaged " + c.query}),
                     qPrintable(where + QStringLiteral(": ") + said.join(" | ")));
        }
    }
}

void TstDecoder::ownReplyNeverServesAFlag()
{
    // Byte 1 of an own reply is its command code, never a Modbus read code.
    for (uint8_t command : {0xA5, 0xA6, 0xA8, 0xA9, 0xB4, 0xB5}) {
        PendingReplies flags = allRaised();
        decodeTick(ownReply(command, {{2, 0x03}}), flags, 0);
        QCOMPARE(flagText(flags), flagText(allRaised()));
    }
}

void TstDecoder::junkAroundFramesIsSkipped_data()
{
    QTest::addColumn<QByteArray>("junk");
    QTest::newRow("a zero byte") << hex("00");
    QTest::newRow("a frame head") << hex("AA");
    QTest::newRow("a function code") << hex("03");
    QTest::newRow("line noise") << hex("FF 13 AA 07 03 0C 55");
    QTest::newRow("an old reply's tail") << hex("00 FF DE 2B");
    QTest::newRow("a damaged reply") << hex("00 03 02 00 1F C4 4D");
}

void TstDecoder::junkAroundFramesIsSkipped()
{
    QFETCH(QByteArray, junk);
    const QByteArray identity = ownReply(0xA6, {{8, 0x12}, {9, 0xAB}, {10, 0x00}, {11, 0xFF}});
    const QByteArray noise = withCrc("00 04 02 01 C8");
    const QByteArray stream = junk + identity + junk + noise + junk;
    // Whole, and fed a byte a tick: the same values in the same order.
    for (int piece : {stream.size(), 1}) {
        PendingReplies flags = raised({Query::Noise});
        QStringList shown;
        for (int at = 0; at < stream.size(); at += piece)
            shown += decode(stream.mid(at, piece), flags)
                         .filter(QRegularExpression("^(?!log ..( ..)* $)"));
        QCOMPARE(shown, (QStringList{"DeviceId=12ab-00ff", noiseLine("45.6")}));
        QCOMPARE(flags.waitNoise, 0);
    }
}

void TstDecoder::twoRepliesInOneReadBothDecode()
{
    const QByteArray first = ownReply(0xA9, {{2, 0x51}, {6, 0x64}, {10, 0xC8}, {14, 0x01}});
    const QByteArray second = ownReply(
        0xA9, {{2, 0x51}, {3, 0xFF}, {4, 0xFF}, {5, 0xFF}, {6, 0x9C}, {9, 0x04}, {10, 0xD2}});
    PendingReplies flags;
    QCOMPARE(decode(first + second, flags),
             (QStringList{"CaliParamA=1", "CaliParamB=2", "CaliParamC=0.01", "CaliParamA=-1",
                          "CaliParamB=12.34", "CaliParamC=0"}));

    // A frame at the second slot is found behind a first slot of garbage.
    QCOMPARE(decode(QByteArray(19, char(0x55)) + second, flags),
             (QStringList{"CaliParamA=-1", "CaliParamB=12.34", "CaliParamC=0"}));
}

void TstDecoder::framesDecodeInTheOrderTheyCame()
{
    // A parameter read reply, two junk bytes, then an identity reply.
    const QByteArray modbusReply = hex("00 03 0C FF FF FF 9C 00 00 04 D2 05 F5 E1 00 1B BF");
    const QByteArray block =
        modbusReply + hex("00 00") + ownReply(0xA6, {{8, 0x12}, {9, 0xAB}, {10, 0x00}, {11, 0xFF}});
    PendingReplies flags = raised({Query::CaliParam});
    QCOMPARE(decode(block, flags), (QStringList{"CaliParamA=-1", "CaliParamB=12.34",
                                                "CaliParamC=1e+06", "DeviceId=12ab-00ff"}));
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

    // A long read that starts with a read reply serves its flag once.
    QByteArray longReply = kEveryFlagReply + QByteArray(300 - kEveryFlagReply.size(), char(0x03));
    flags = allRaised();
    QCOMPARE(decode(longReply, flags),
             (QStringList{"CaliParamA=3.6982e+06", "CaliParamB=298844", "CaliParamC=-1"}));
    PendingReplies expectedFlags = allRaised();
    expectedFlags.waitCaliParam = 0;
    QCOMPARE(flagText(flags), flagText(expectedFlags));
}

void TstDecoder::writeEchoes_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QStringList>("shown");

    const auto box = [](const char *text) {
        return QStringList{QStringLiteral("box+log ") + text};
    };
    QTest::newRow("to modbus") << hex("00 06 00 B1 00 03 98 3D") << box("Device change to MODBUS!");
    QTest::newRow("to own protocol")
        << hex("00 06 00 B1 00 00 D8 3C") << box("Device change to Vela!");
    QTest::newRow("factory config")
        << hex("00 06 00 A5 00 01 59 F8") << box("Device change to FactoryConfig!");
    QTest::newRow("parameter write")
        << hex("00 10 00 B2 00 06 E1 FD") << box("Set Calibrate Param Success!");
    QTest::newRow("bytes 0, 2 and 4 not examined")
        << withCrc("7F 06 55 B1 66 03") << box("Device change to MODBUS!");
    QTest::newRow("device address write")
        << withCrc("00 06 00 09 00 1F") << QStringList{"confirmed 0009=31"};
    QTest::newRow("calibration write, range 0")
        << withCrc("00 10 00 C3 00 02") << QStringList{"confirmed 00c3=2"};
    QTest::newRow("calibration write, range 2")
        << withCrc("00 10 00 C7 00 02") << QStringList{"confirmed 00c7=2"};

    QTest::newRow("address write echo without its CRC")
        << hex("00 06 00 09 00 1F 00 00") << QStringList();
    QTest::newRow("protocol select with unknown value")
        << hex("00 06 00 B1 00 02 59 FD") << QStringList();
    QTest::newRow("to modbus with a damaged CRC")
        << hex("00 06 00 B1 00 03 98 3C") << QStringList();
    QTest::newRow("calibration write of three registers")
        << withCrc("00 10 00 C3 00 03") << QStringList();
    QTest::newRow("multiple write to protocol select")
        << withCrc("00 10 00 B1 00 03") << QStringList();
    QTest::newRow("single write to parameters") << withCrc("00 06 00 B2 00 06") << QStringList();
    QTest::newRow("8 bytes of a read reply of no query's shape")
        << withCrc("00 04 00 B1 00 03") << QStringList();
}

void TstDecoder::writeEchoes()
{
    QFETCH(QByteArray, block);
    QFETCH(QStringList, shown);
    PendingReplies flags = allRaised();
    QCOMPARE(decode(block, flags), QStringList{echoOf(block)} + shown);
    QCOMPARE(flagText(flags), flagText(allRaised()));
}

void TstDecoder::exceptionAnswersTheOldestQueryOfItsFunction()
{
    PendingReplies flags = raised({Query::Version, Query::Noise, Query::SerialNumber});
    const struct {
        QByteArray reply;
        const char *said;
    } refusals[] = {{withCrc("00 83 02"), "refused 03 2 version"},
                    {withCrc("00 84 04"), "refused 04 4 noise"},
                    {withCrc("00 83 01"), "refused 03 1 sn"},
                    {withCrc("00 86 03"), "refused 06 3"}, // a write: no flag to answer
                    {withCrc("00 90 09"), "refused 10 9"}};
    for (const auto &r : refusals)
        QCOMPARE(decode(r.reply, flags), (QStringList{echoOf(r.reply), r.said}));
    QCOMPARE(flagText(flags), flagText(PendingReplies()));

    // Neither the tail of a split reply nor bytes without their CRC are a
    // refusal, though byte 1 may look so; nor is an unknown function.
    flags = raised({Query::Noise});
    for (const QByteArray &bytes : {hex("C8 84 F6"), hex("00 84 02 00 00"), withCrc("00 85 01")}) {
        const QStringList echo = bytes.size() >= 4 ? QStringList{echoOf(bytes)} : QStringList();
        QCOMPARE(decode(bytes, flags), echo);
    }
    QCOMPARE(flags.waitNoise, 1);
}

void TstDecoder::readReplyServesItsFlag_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("noise") << hex("00 04 02 01 C8 84 F6") << "noise"
                           << QStringList{noiseLine("45.6")};
    QTest::newRow("noise whole dB")
        << withCrc("00 04 02 03 E8") << "noise" << QStringList{noiseLine("100")};
    QTest::newRow("noise maximum")
        << withCrc("00 04 02 FF FF") << "noise" << QStringList{noiseLine("6553.5")};
    QTest::newRow("noise zero") << withCrc("00 04 02 00 00") << "noise"
                                << QStringList{noiseLine("0")};

    QTest::newRow("address 1f") << hex("00 03 02 00 1F C4 4C") << "addr"
                                << QStringList{"DeviceAddr=1f"};
    QTest::newRow("address a, high byte ignored")
        << hex("00 03 02 0A 0A 03 23") << "addr" << QStringList{"DeviceAddr=a"};
    QTest::newRow("address 0") << withCrc("00 03 02 00 00") << "addr"
                               << QStringList{"DeviceAddr=0"};
    QTest::newRow("address ff") << withCrc("00 03 02 00 FF") << "addr"
                                << QStringList{"DeviceAddr=ff"};

    QTest::newRow("calibration negative") << hex("00 03 04 00 05 00 64 FB 19") << "calibrate"
                                          << QStringList{"CalibrZero=-5", "CalibrateFactor=100"};
    QTest::newRow("calibration positive, byte 5 ignored")
        << withCrc("00 03 04 01 05 7F 64") << "calibrate"
        << QStringList{"CalibrZero=5", "CalibrateFactor=100"};
    QTest::newRow("calibration zero magnitude has no sign")
        << withCrc("00 03 04 00 00 00 FF") << "calibrate"
        << QStringList{"CalibrZero=0", "CalibrateFactor=255"};

    QTest::newRow("serial number")
        << hex("00 03 04 12 AB 00 FF DE 2B") << "sn" << QStringList{"DeviceId=12ab-00ff"};

    QTest::newRow("version") << hex("00 03 02 16 0B CA 23") << "version"
                             << QStringList{"SoftId=17-6-11"};
    QTest::newRow("version extremes")
        << withCrc("00 03 02 F0 80") << "version" << QStringList{"SoftId=31-0--128"};

    QTest::newRow("origin") << hex("00 03 06 00 01 86 A0 01 C8 38 49") << "origin"
                            << QStringList{originLine("100000", "45.6")};
    QTest::newRow("origin maximum") << hex("00 03 06 FF FF FF FF FF FF 2D 6A") << "origin"
                                    << QStringList{originLine("4294967295", "6553.5")};

    QTest::newRow("parameters") << hex("00 03 0C FF FF FF 9C 00 00 04 D2 05 F5 E1 00 1B BF")
                                << "param"
                                << QStringList{"CaliParamA=-1", "CaliParamB=12.34",
                                               "CaliParamC=1e+06"};
    QTest::newRow("parameters at the 32-bit bounds")
        << withCrc("00 03 0C 80 00 00 00 7F FF FF FF 00 00 00 00") << "param"
        << QStringList{"CaliParamA=-2.14748e+07", "CaliParamB=2.14748e+07", "CaliParamC=0"};
}

void TstDecoder::readReplyServesItsFlag()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, flag);
    QFETCH(QStringList, lines);

    Query query = Query::Noise;
    for (Query q : kQueries) {
        if (queryText(q) == flag)
            query = q;
    }
    PendingReplies flags = raised({query});
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

// Every flag raised; a reply of each query's shape serves that query alone,
// or the oldest of the queries that share its shape.
void TstDecoder::replyServesOnlyTheOldestFlagOfItsShape_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("served");

    QTest::newRow("04/02 noise") << hex("00 04 02 01 C8 84 F6") << QStringList{noiseLine("45.6")};
    QTest::newRow("03/02 address before version")
        << hex("00 03 02 00 1F C4 4C") << QStringList{"DeviceAddr=1f"};
    QTest::newRow("03/04 calibration before serial number")
        << hex("00 03 04 00 05 00 64 FB 19") << QStringList{"CalibrZero=-5", "CalibrateFactor=100"};
    QTest::newRow("03/06 origin") << hex("00 03 06 00 01 86 A0 01 C8 38 49")
                                  << QStringList{originLine("100000", "45.6")};
    QTest::newRow("03/0c parameters")
        << kEveryFlagReply
        << QStringList{"CaliParamA=3.6982e+06", "CaliParamB=298844", "CaliParamC=-1"};
    QTest::newRow("03/08 no query's shape")
        << withCrc("00 03 08 01 02 03 04 05 06 07 08") << QStringList();
    QTest::newRow("04/04 no query's shape") << withCrc("00 04 04 01 02 03 04") << QStringList();
}

void TstDecoder::replyServesOnlyTheOldestFlagOfItsShape()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, served);
    PendingReplies flags = allRaised();
    QCOMPARE(decode(reply, flags), QStringList{echoOf(reply)} + served);
    int lowered = 0;
    for (Query query : kQueries)
        lowered += 1 - pendingFlag(flags, query);
    QCOMPARE(lowered, served.isEmpty() ? 0 : 1);
}

void TstDecoder::sameShapeRepliesServeTheirFlagsInRequestOrder()
{
    // Version asked before the address: the first 03/02 reply is the version.
    const QByteArray version = hex("00 03 02 16 0B CA 23");
    const QByteArray address = hex("00 03 02 00 1F C4 4C");
    PendingReplies flags = raised({Query::Version, Query::DeviceAddr});
    QCOMPARE(decode(version, flags), (QStringList{echoOf(version), "SoftId=17-6-11"}));
    QCOMPARE(flags.waitDeviceAddr, 1);
    QCOMPARE(decode(address, flags), (QStringList{echoOf(address), "DeviceAddr=1f"}));

    // Asking again keeps a flag's place: it is still the oldest.
    flags = raised({Query::SerialNumber, Query::Calibrate});
    raisePending(flags, Query::SerialNumber, 100);
    const QByteArray serial = hex("00 03 04 12 AB 00 FF DE 2B");
    QCOMPARE(decode(serial, flags), (QStringList{echoOf(serial), "DeviceId=12ab-00ff"}));
    QCOMPARE(flags.waitCalibrate, 1);
}

void TstDecoder::repliesBackToBackInOneReadEachServeTheirOwnFlag()
{
    // Serial number and version clicked together: both replies in one read.
    const QByteArray serial = hex("00 03 04 12 AB 00 FF DE 2B");
    const QByteArray version = hex("00 03 02 16 0B CA 23");
    PendingReplies flags = raised({Query::SerialNumber, Query::Version});
    QCOMPARE(decode(serial + version, flags),
             (QStringList{echoOf(serial + version), "DeviceId=12ab-00ff", "SoftId=17-6-11"}));
    QCOMPARE(flagText(flags), flagText(PendingReplies()));

    // Noise, an exception, a write echo and the address: each frame by its size.
    const QByteArray noise = hex("00 04 02 01 C8 84 F6");
    const QByteArray refusal = withCrc("00 86 03");
    const QByteArray echo = hex("00 06 00 B1 00 03 98 3D");
    const QByteArray addressReply = hex("00 03 02 00 1F C4 4C");
    flags = raised({Query::Noise, Query::DeviceAddr});
    QCOMPARE(decode(noise + refusal + echo + addressReply, flags),
             (QStringList{noiseLine("45.6"), "refused 06 3", "box+log Device change to MODBUS!",
                          "DeviceAddr=1f"}));
    QCOMPARE(flagText(flags), flagText(PendingReplies()));
}

void TstDecoder::unansweredQueriesAreLoweredAtTheirDeadline()
{
    PendingReplies flags = raised({Query::Noise}, 1000);
    raisePending(flags, Query::Version, 1500);
    QCOMPARE(decode(QByteArray(), flags, 1000 + kReplyDeadlineMs - 1), QStringList());
    QCOMPARE(decode(QByteArray(), flags, 1000 + kReplyDeadlineMs), QStringList{"unanswered noise"});
    QCOMPARE(flags.waitVersion, 1);

    // A reply read in the tick that reaches the deadline still serves.
    const QByteArray version = hex("00 03 02 16 0B CA 23");
    QCOMPARE(decode(version, flags, 1500 + kReplyDeadlineMs),
             (QStringList{echoOf(version), "SoftId=17-6-11"}));

    // Asking again gives the query a new deadline.
    flags = raised({Query::Origin}, 0);
    raisePending(flags, Query::Origin, 1500);
    QCOMPARE(decode(QByteArray(), flags, kReplyDeadlineMs + 100), QStringList());
    QCOMPARE(decode(QByteArray(), flags, 1500 + kReplyDeadlineMs),
             QStringList{"unanswered origin"});
}

void TstDecoder::replySplitAtEveryOffsetIsJoined_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("flag");
    QTest::newRow("noise") << hex("00 04 02 01 C8 84 F6") << "noise";
    QTest::newRow("calibration") << hex("00 03 04 00 05 00 64 FB 19") << "calibrate";
    QTest::newRow("origin") << hex("00 03 06 00 01 86 A0 01 C8 38 49") << "origin";
    QTest::newRow("parameters") << kEveryFlagReply << "param";
    QTest::newRow("refusal") << withCrc("00 83 02") << "addr";
    QTest::newRow("write echo") << withCrc("00 06 00 09 00 1F") << "";
    QTest::newRow("own parameters") << ownReply(0xA9, {{2, 0x51}, {6, 0x64}}) << "";
}

void TstDecoder::replySplitAtEveryOffsetIsJoined()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, flag);
    Query query = Query::Noise;
    for (Query q : kQueries) {
        if (queryText(q) == flag)
            query = q;
    }
    const QRegularExpression notEcho("^(?!log ..( ..)* $)");
    PendingReplies whole = raised({query});
    const QStringList wholeShown = decode(reply, whole).filter(notEcho);
    for (int split = 1; split < reply.size(); ++split) {
        // The first part shows nothing, however much of the reply it holds;
        // the second, read 300 ms later, completes it.
        PendingReplies flags = raised({query});
        QCOMPARE(decode(reply.left(split), flags, 0).filter(notEcho), QStringList());
        QCOMPARE(pendingFlag(flags, query), 1);
        QCOMPARE(decode(reply.mid(split), flags, 300).filter(notEcho), wholeShown);
        QCOMPARE(flagText(flags), flagText(whole));
    }
}

void TstDecoder::fragmentThatNeverCompletesIsDropped()
{
    // A reply's first bytes, then its rest too late: the rest alone is no
    // frame, and the query says it was not answered.
    PendingReplies flags = raised({Query::Version}, 0);
    const QByteArray version = hex("00 03 02 16 0B CA 23");
    QCOMPARE(decode(version.left(3), flags, 100), QStringList());
    QCOMPARE(decode(QByteArray(), flags, 2000), QStringList());
    QCOMPARE(decode(version.mid(3), flags, 2200),
             (QStringList{"log 16 0b ca 23 ", "unanswered version"}));
}

// Version and address draw replies of one shape: the address query waits
// until the version query is answered, refused or given up, and then it
// alone can be served by the next reply of the shape.
void TstDecoder::sameShapeQueriesWaitTheirTurn()
{
    const QByteArray addressQuery = hex("00 03 00 09 00 01 54 08");
    const QByteArray version = hex("00 03 02 16 0B CA 23");
    const QString writeAddress = "write addr " + QString::fromLatin1(addressQuery.toHex(' '));
    const struct {
        const char *name;
        QByteArray answer; // what comes for the version query
        qint64 atMs;
        QStringList said;
    } endings[] = {
        {"answered", version, 300, {"SoftId=17-6-11", writeAddress}},
        {"refused", withCrc("00 83 02"), 300, {"refused 03 2 version", writeAddress}},
        {"damaged", hex("00 03 02 16 0B CA 24"), kReplyDeadlineMs, {"damaged version"}},
        {"unanswered", QByteArray(), kReplyDeadlineMs, {"unanswered version"}},
    };
    const QRegularExpression notEcho("^(?!log ..( ..)* $)");
    for (const auto &ending : endings) {
        PendingReplies flags;
        QCOMPARE(takeTurn(flags, Query::Version, QByteArray(), 0), QueryTurn::Now);
        QCOMPARE(takeTurn(flags, Query::DeviceAddr, hex("00"), 10), QueryTurn::Held);
        QCOMPARE(takeTurn(flags, Query::DeviceAddr, addressQuery, 20), QueryTurn::Held);
        QCOMPARE(takeTurn(flags, Query::Noise, QByteArray(), 20), QueryTurn::Now);
        flags.waitNoise = 0; // another shape went out at once
        QCOMPARE(flags.waitDeviceAddr, 0);
        QCOMPARE(decode(ending.answer, flags, ending.atMs).filter(notEcho).mid(0, 2), ending.said);
        if (ending.said.size() == 2) {
            QCOMPARE(flags.waitDeviceAddr, 1);
            continue;
        }
        // After an expiry the shape settles first: the version's late reply
        // serves nothing, and the address goes out after a tick that read
        // nothing.
        QCOMPARE(flags.waitDeviceAddr, 0);
        QCOMPARE(decode(version, flags, ending.atMs + 400).filter(notEcho), QStringList());
        QCOMPARE(decode(QByteArray(), flags, ending.atMs + 800), QStringList{writeAddress});
        QCOMPARE(decode(hex("00 03 02 00 1F C4 4C"), flags, ending.atMs + 1200).filter(notEcho),
                 QStringList{"DeviceAddr=1f"});
    }
    // Without a late reply the shape settles once a reply to a later query
    // proves the version's reply lost (the sensor answers in order), or
    // after two deadlines without a byte.
    for (bool laterAnswered : {true, false}) {
        PendingReplies flags;
        takeTurn(flags, Query::Version, QByteArray(), 0);
        takeTurn(flags, Query::DeviceAddr, addressQuery, 0);
        QCOMPARE(takeTurn(flags, Query::Noise, QByteArray(), 100), QueryTurn::Now);
        const qint64 expiry = kReplyDeadlineMs;
        QCOMPARE(decode(QByteArray(), flags, expiry), QStringList{"unanswered version"});
        const QByteArray noise = laterAnswered ? withCrc("00 04 02 01 C8") : QByteArray();
        QCOMPARE(decode(noise, flags, expiry + 50).filter(notEcho).size(), laterAnswered ? 1 : 0);
        QCOMPARE(decode(QByteArray(), flags, expiry + 400).filter(notEcho),
                 laterAnswered ? QStringList{writeAddress} : QStringList{"unanswered noise"});
        if (laterAnswered)
            continue;
        QCOMPARE(decode(QByteArray(), flags, expiry + 2 * kReplyDeadlineMs - 1), QStringList());
        QCOMPARE(decode(QByteArray(), flags, expiry + 2 * kReplyDeadlineMs),
                 QStringList{writeAddress});
    }
    // The same query asked again waits only for a tick without input: its
    // late reply would show its own value.
    PendingReplies flags;
    takeTurn(flags, Query::Version, QByteArray(), 0);
    QCOMPARE(decode(QByteArray(), flags, kReplyDeadlineMs), QStringList{"unanswered version"});
    const QByteArray again = hex("00 03 00 03 00 01 75 DB");
    QCOMPARE(takeTurn(flags, Query::Version, again, kReplyDeadlineMs + 10), QueryTurn::Held);
    QCOMPARE(decode(QByteArray(), flags, kReplyDeadlineMs + 360),
             QStringList{"write version 00 03 00 03 00 01 75 db"});
}

void TstDecoder::eighteenByteReadIsDecodedButNotEchoed()
{
    PendingReplies flags = raised({Query::SerialNumber});
    const QByteArray block = hex("00 03 04 12 AB 00 FF DE 2B") + QByteArray(9, char(0xAB));
    QCOMPARE(block.size(), 18);
    QCOMPARE(decode(block, flags), QStringList{"DeviceId=12ab-00ff"});
    QCOMPARE(flags.waitSN, 0);
}

void TstDecoder::replyFedInSmallPiecesShowsOnlyWhenWhole_data()
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

void TstDecoder::replyFedInSmallPiecesShowsOnlyWhenWhole()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, piece);

    // Pieces of at most three bytes are too short to be echoed: nothing
    // shows until the last piece, which shows what the whole reply shows.
    PendingReplies whole = allRaised();
    const QStringList wholeShown =
        decode(reply, whole).filter(QRegularExpression("^(?!log ..( ..)* $)"));
    PendingReplies flags = allRaised();
    for (int at = 0; at < reply.size(); at += piece) {
        const QStringList shown = decode(reply.mid(at, piece), flags);
        const bool last = at + piece >= reply.size();
        QVERIFY2(shown == (last ? wholeShown : QStringList()),
                 qPrintable(QStringLiteral("at %1: ").arg(at) + shown.join(" | ")));
    }
    QCOMPARE(flagText(flags), flagText(whole));
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
    const QRegularExpression noise(QStringLiteral("^Current Noise Value: ") + real +
                                   QStringLiteral("  dB$"));
    const QRegularExpression origin(QStringLiteral("^Origin Value:  \\d{1,10}   ::::::  ") + real +
                                    QStringLiteral("    dB   $"));
    const QRegularExpression report(QStringLiteral("^Origin Value:  \\d{1,5}    AD Count: \\d{1,10}"
                                                   "      Noise:  ") +
                                    real + QStringLiteral("  dB$"));
    const QRegularExpression identity(QStringLiteral("^[0-9a-f]{4}-[0-9a-f]{4}$"));
    const QRegularExpression version(QStringLiteral("^-?\\d{1,3}--?\\d{1,3}--?\\d{1,3}$"));
    const QRegularExpression address(QStringLiteral("^[0-9a-f]{1,2}$"));
    const QRegularExpression zero(QStringLiteral("^(0|-?[1-9]\\d{0,2})$"));
    const QRegularExpression factor(QStringLiteral("^(0|[1-9]\\d{0,2})$"));
    const QRegularExpression param(QStringLiteral("^") + real + QStringLiteral("$"));
    QSet<QString> confirmations;
    for (const char *text : kConfirmations)
        confirmations.insert(QString::fromUtf8(text));

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
        for (Query query : kQueries) {
            if (below(2))
                raisePending(flags, query, below(3000));
        }
        const PendingReplies before = flags;

        const QVector<ReplyAction> actions = decodeTick(block, flags, 2000 + below(2000));
        actionsSeen += actions.size();

        const QString where = QStringLiteral("round %1, block %2").arg(round).arg(toHexText(block));
        const bool echoed = size >= 4 && size <= 17;

        // Flags are only ever lowered, each by one reply, refusal or deadline.
        int lowered = 0;
        for (Query query : kQueries) {
            const int was = pendingFlag(before, query);
            const int now = pendingFlag(flags, query);
            if (now != was && !(was == 1 && now == 0))
                QFAIL(qPrintable(where + QStringLiteral(": flag %1 went %2 -> %3")
                                             .arg(queryText(query))
                                             .arg(was)
                                             .arg(now)));
            lowered += was - now;
        }
        int answers = 0;

        for (int i = 0; i < actions.size(); ++i) {
            const ReplyAction &a = actions.at(i);
            const QString &t = a.text;
            bool sane = false;
            switch (a.kind) {
            case ReplyAction::AppendLog:
                if (i == 0 && echoed)
                    sane = QStringLiteral("log ") + t == echoOf(block);
                else
                    sane = noise.match(t).hasMatch() || origin.match(t).hasMatch() ||
                           report.match(t).hasMatch();
                break;
            case ReplyAction::SetField:
                switch (a.field) {
                case Field::DeviceId:
                    sane = identity.match(t).hasMatch();
                    break;
                case Field::SoftId:
                    sane = version.match(t).hasMatch();
                    break;
                case Field::DeviceAddr:
                    sane = address.match(t).hasMatch();
                    break;
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
                sane =
                    a.source && size >= 19 && confirmations.contains(QString::fromUtf8(a.source));
                break;
            case ReplyAction::ConfirmAndLog:
                sane = a.source && size >= 8 && confirmations.contains(QString::fromUtf8(a.source));
                break;
            case ReplyAction::Unanswered:
            case ReplyAction::ArrivedDamaged:
                sane = pendingFlag(before, a.query) == 1;
                answers += 1;
                break;
            case ReplyAction::WriteQuery:
                sane = !before.held.isEmpty();
                break;
            case ReplyAction::Refused:
                sane = !a.answersQuery || pendingFlag(before, a.query) == 1;
                answers += a.answersQuery ? 1 : 0;
                break;
            case ReplyAction::WriteConfirmed:
                sane = a.registerNumber == 0x0009 || a.registerNumber == 0x00C3 ||
                       a.registerNumber == 0x00C5 || a.registerNumber == 0x00C7;
                break;
            }
            if (!sane)
                QFAIL(qPrintable(where +
                                 QStringLiteral(": action %1 is '%2'").arg(i).arg(describe(a))));
        }
        if (echoed && (actions.isEmpty() || actions.first().kind != ReplyAction::AppendLog))
            QFAIL(qPrintable(where + QStringLiteral(": no echo")));

        // A flag lowered without a word is one a reply served.
        if (answers > lowered)
            QFAIL(qPrintable(
                where +
                QStringLiteral(": %1 answers for %2 lowered flags").arg(answers).arg(lowered)));
    }
    qInfo("decoded %d random blocks, %lld actions", rounds, actionsSeen);
}

QTEST_APPLESS_MAIN(TstDecoder)
#include "tst_decoder.moc"
