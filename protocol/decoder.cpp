#include "decoder.h"

#include "formats.h"
#include "frame.h"
#include "framefinder.h"
#include "modbus.h"
#include "registercodec.h"
#include "sensor.h"

#include <QCoreApplication>
#include <optional>

namespace {

ReplyAction appendLog(const QString &text)
{
    ReplyAction action;
    action.kind = ReplyAction::AppendLog;
    action.text = text;
    return action;
}

ReplyAction setField(Field field, const QString &text)
{
    ReplyAction action;
    action.kind = ReplyAction::SetField;
    action.field = field;
    action.text = text;
    return action;
}

ReplyAction confirm(const char *source, bool alsoLog)
{
    ReplyAction action;
    action.kind = alsoLog ? ReplyAction::ConfirmAndLog : ReplyAction::Confirm;
    action.source = source;
    action.text = QString::fromUtf8(source);
    return action;
}

void setParamFields(const CalibrationParameters &params, QVector<ReplyAction> &out)
{
    out.append(setField(Field::CaliParamA, realHundredthsText(params.a)));
    out.append(setField(Field::CaliParamB, realHundredthsText(params.b)));
    out.append(setField(Field::CaliParamC, realHundredthsText(params.c)));
}

void setCalibrationFields(const Calibration &calibration, QVector<ReplyAction> &out)
{
    out.append(setField(Field::CalibrZero, QString::number(calibration.offset)));
    out.append(setField(Field::CalibrateFactor, QString::number(calibration.factor)));
}

void decodeOwnReply(const uint8_t *f, QVector<ReplyAction> &out)
{
    const uint8_t kind = f[own::kSelectorOffset];
    switch (f[kOwnCommandOffset]) {
    case own::kReport:
        if (kind == own::kReportMarker) {
            const OwnReport report = decodeOwnReport(f);
            out.append(appendLog(QStringLiteral("Origin Value:  ") +
                                 QString::number(report.origin) + QStringLiteral("    AD Count: ") +
                                 QString::number(report.adCount) + QStringLiteral("     ") +
                                 QStringLiteral(" Noise:  ") + tenthsText(report.noiseTenths) +
                                 QStringLiteral("  dB")));
        }
        break;
    case own::kIdentity:
        out.append(setField(Field::DeviceId, identityText(decodeOwnIdentity(f))));
        break;
    case own::kWriteCaliParam:
        if (kind == own::kCaliParamSelector)
            out.append(
                confirm(QT_TRANSLATE_NOOP("MainWindow", "Set Calibrate Param Success!"), false));
        break;
    case own::kReadCaliParam:
        if (kind == own::kCaliParamSelector)
            setParamFields(decodeOwnCaliParams(f), out);
        break;
    case own::kConfig:
        if (kind == own::kConfigFactoryReset &&
            f[own::kConfigSignOffset] == own::kFactoryResetDone) {
            out.append(confirm(QT_TRANSLATE_NOOP("MainWindow", "恢复出厂设置成功！"), false));
        } else if (kind == own::kConfigCalibration) {
            setCalibrationFields(decodeOwnCalibration(f), out);
        } else if (kind == own::kConfigCalibrateDone) {
            out.append(confirm(QT_TRANSLATE_NOOP("MainWindow", "设置校准成功!"), false));
        }
        break;
    case own::kVersion:
        out.append(setField(Field::SoftId, firmwareVersionText(decodeOwnVersion(f))));
        break;
    default:
        break;
    }
}

void decodeWriteEcho(const uint8_t *b, QVector<ReplyAction> &out)
{
    // The confirmations look at the low bytes of register and value only.
    const uint8_t function = b[modbus::kFunctionOffset];
    const uint8_t registerLow = b[modbus::kRegisterOffset + 1];
    const uint8_t valueLow = b[modbus::kCountOffset + 1];
    const auto is = [&](uint8_t f, uint16_t reg, uint16_t value) {
        return function == f && registerLow == (reg & 0xFF) && valueLow == value;
    };
    const char *source = nullptr;
    if (is(modbus::kWriteSingle, reg::kProtocolSelect, reg::kSelectModbus))
        source = QT_TRANSLATE_NOOP("MainWindow", "Device change to MODBUS!");
    else if (is(modbus::kWriteSingle, reg::kProtocolSelect, reg::kSelectOwnProtocol))
        source = QT_TRANSLATE_NOOP("MainWindow", "Device change to Vela!");
    else if (is(modbus::kWriteSingle, reg::kFactoryReset, reg::kFactoryResetValue))
        source = QT_TRANSLATE_NOOP("MainWindow", "Device change to FactoryConfig!");
    else if (is(modbus::kWriteMultiple, reg::kCaliParam, reg::kCaliParamCount))
        source = QT_TRANSLATE_NOOP("MainWindow", "Set Calibrate Param Success!");
    if (source) {
        out.append(confirm(source, true));
        return;
    }

    // The address and calibration writes have no confirmation box; their
    // echo is still news worth a line.
    const uint16_t registerNumber = bigEndian16(b + modbus::kRegisterOffset);
    const uint16_t value = bigEndian16(b + modbus::kCountOffset);
    const bool addressWrite =
        function == modbus::kWriteSingle && registerNumber == reg::kDeviceAddr;
    const bool calibrationWrite =
        function == modbus::kWriteMultiple && value == reg::kCalibrationCount &&
        (registerNumber == reg::kCalibrateRange0 || registerNumber == reg::kCalibrateRange1 ||
         registerNumber == reg::kCalibrateRange2);
    if (!addressWrite && !calibrationWrite)
        return;
    ReplyAction action;
    action.kind = ReplyAction::WriteConfirmed;
    action.function = function;
    action.registerNumber = registerNumber;
    action.value = value;
    out.append(action);
}

// `data` is the reply's register data, decoded by the register codec.
void decodeQueryReply(Query query, const uint8_t *data, QVector<ReplyAction> &out)
{
    switch (query) {
    case Query::Noise:
        out.append(appendLog(QStringLiteral("Current Noise Value: ") +
                             tenthsText(decodeNoise(data)) + QStringLiteral("  dB")));
        break;
    case Query::DeviceAddr:
        out.append(setField(Field::DeviceAddr, QString::number(decodeDeviceAddr(data), 16)));
        break;
    case Query::Calibrate:
        setCalibrationFields(decodeCalibration(data), out);
        break;
    case Query::SerialNumber:
        out.append(setField(Field::DeviceId, identityText(decodeSerialNumber(data))));
        break;
    case Query::Version:
        out.append(setField(Field::SoftId, firmwareVersionText(decodeVersion(data))));
        break;
    case Query::Origin: {
        const Origin origin = decodeOrigin(data);
        out.append(appendLog(QStringLiteral("Origin Value:  ") + QString::number(origin.raw) +
                             QStringLiteral("   ::::::  ") + tenthsText(origin.noiseTenths) +
                             QStringLiteral("    dB   ")));
        break;
    }
    case Query::CaliParam:
        setParamFields(decodeCaliParams(data), out);
        break;
    }
}

QByteArray headOf(const uint8_t *b)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(b), modbus::kReplyDataOffset);
}

// The query whose flag a frame answering `written` lowers: its own, or that
// of the same query asked again (a late reply shows that query's value too).
// None when the query is no longer awaited: the frame is a late reply.
std::optional<Query> awaitedFor(const PendingReplies &flags,
                                const std::optional<PendingReplies::Written> &written)
{
    if (!written || pendingFlag(flags, written->query) != 1)
        return std::nullopt;
    return written->query;
}

void decodeException(const uint8_t *b, PendingReplies &flags, QVector<ReplyAction> &out)
{
    ReplyAction action;
    action.kind = ReplyAction::Refused;
    action.function = uint8_t(b[modbus::kFunctionOffset] & ~modbus::kExceptionBit);
    action.exceptionCode = b[modbus::kExceptionCodeOffset];
    const std::optional<Query> query = awaitedFor(flags, takeWrite(flags, headOf(b)));
    if (query) {
        action.answersQuery = true;
        action.query = *query;
        pendingFlag(flags, action.query) = 0;
    }
    out.append(action);
}

// One whole Modbus frame whose CRC holds.
void decodeModbusFrame(const QByteArray &frame, PendingReplies &flags, QVector<ReplyAction> &out)
{
    const auto *b = reinterpret_cast<const uint8_t *>(frame.constData());
    const uint8_t function = b[modbus::kFunctionOffset];
    if (function & modbus::kExceptionBit) {
        decodeException(b, flags, out);
    } else if (function == modbus::kWriteSingle || function == modbus::kWriteMultiple) {
        decodeWriteEcho(b, out);
    } else if (const std::optional<Query> query = awaitedFor(flags, takeWrite(flags, frame))) {
        pendingFlag(flags, *query) = 0;
        decodeQueryReply(*query, b + modbus::kReplyDataOffset, out);
    }
}

// A Modbus frame whose CRC fails answers nothing and takes no write off the
// line: its header may be damaged too, or be bytes that only look like one.
// But when it looks like the reply to the write its query awaits, from the
// address intact replies come from, that query learns that its reply may
// have come damaged.
void noteDamagedFrame(const QByteArray &frame, PendingReplies &flags)
{
    if (flags.replySlave >= 0 && uint8_t(frame[modbus::kSlaveOffset]) != flags.replySlave)
        return;
    const std::optional<PendingReplies::Written> written = firstWriteFor(flags, frame);
    if (written && pendingFlag(flags, written->query) == 1 &&
        flags.raisedAs[size_t(written->query)] == written->order)
        flags.damaged[size_t(written->query)] = true;
}

// Whether the kept fragment, begun before the query's deadline, may yet
// become its reply.
bool fragmentMayAnswer(const PendingReplies &flags, Query query)
{
    const RegisterRead read = queryRead(query);
    return !flags.fragment.isEmpty() &&
           flags.fragmentSinceMs < flags.writtenAtMs[size_t(query)] + kReplyDeadlineMs &&
           modbusHeadCouldBe(flags.fragment, read.function, read.replyByteCount());
}

void expireUnanswered(PendingReplies &flags, qint64 nowMs, QVector<ReplyAction> &out)
{
    for (Query query : kQueries) {
        const size_t i = size_t(query);
        int &flag = pendingFlag(flags, query);
        if (flag != 1 || nowMs - flags.writtenAtMs[i] < kReplyDeadlineMs ||
            fragmentMayAnswer(flags, query))
            continue;
        // Its write stays on the line: the reply may still come late.
        flag = 0;
        flags.expiredAtMs[i] = nowMs;
        flags.quietSinceExpiry[i] = false;
        ReplyAction action;
        action.kind = flags.damaged[i] ? ReplyAction::ArrivedDamaged : ReplyAction::Unanswered;
        action.query = query;
        action.answersQuery = true;
        out.append(action);
    }
}

// Keeps what may still grow into a frame for the next tick, remembering
// when its first byte came.
void keepFragment(const QByteArray &stream, const FrameScan &scan, int keptBefore, qint64 nowMs,
                  PendingReplies &flags)
{
    if (scan.incompleteFrom < 0) {
        flags.fragment.clear();
        return;
    }
    if (scan.incompleteFrom >= keptBefore)
        flags.fragmentSinceMs = nowMs;
    flags.fragment = stream.mid(scan.incompleteFrom);
}

} // namespace

QVector<ReplyAction> decodeTick(const QByteArray &block, PendingReplies &flags, qint64 nowMs)
{
    QVector<ReplyAction> out;

    // Short reads are shown as they came; whole own-protocol replies are not.
    if (block.size() >= 4 && block.size() <= 17)
        out.append(appendLog(toHexText(block)));

    // A fragment that has not grown into a frame within a reply's deadline
    // never will: it is junk, or a reply whose rest was lost.
    if (!flags.fragment.isEmpty() && nowMs - flags.fragmentSinceMs > kReplyDeadlineMs)
        flags.fragment.clear();
    const int keptBefore = flags.fragment.size();
    const QByteArray stream = flags.fragment + block.left(kWorkingCopySize);

    const FrameScan scan = scanFrames(stream);
    for (const FoundFrame &found : scan.frames) {
        const QByteArray frame = stream.mid(found.offset, found.length);
        if (found.intact)
            flags.lastFrameMs = nowMs;
        if (found.kind == FoundFrame::Own) {
            if (found.intact)
                decodeOwnReply(reinterpret_cast<const uint8_t *>(frame.constData()), out);
        } else if (found.intact) {
            flags.replySlave = uint8_t(frame[modbus::kSlaveOffset]);
            decodeModbusFrame(frame, flags, out);
        } else {
            noteDamagedFrame(frame, flags);
        }
    }
    keepFragment(stream, scan, keptBefore, nowMs, flags);

    expireUnanswered(flags, nowMs, out);
    const bool lineQuiet = block.isEmpty() && flags.fragment.isEmpty();
    for (const PendingReplies::Held &turn : releaseTurns(flags, nowMs, lineQuiet)) {
        ReplyAction action;
        action.kind = ReplyAction::WriteQuery;
        action.query = turn.query;
        action.answersQuery = true;
        action.frame = turn.frame;
        out.append(action);
    }
    return out;
}
