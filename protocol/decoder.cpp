#include "decoder.h"

#include "frame.h"
#include "modbus.h"
#include "sensor.h"

#include "formats.h"

#include <QCoreApplication>
#include <cstring>

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

// A 32-bit big-endian value of hundredths, as the window shows it.
QString hundredthsAt(const uint8_t *bytes)
{
    return realHundredthsText(int32_t(bigEndian32(bytes)));
}

void decodeOwnReply(const uint8_t *f, QVector<ReplyAction> &out)
{
    const uint8_t kind = f[own::kSelectorOffset];
    switch (f[kOwnCommandOffset]) {
    case own::kReport:
        if (kind == own::kReportMarker) {
            const uint8_t *origin = f + own::kReportOriginOffset;
            const uint8_t *noise = f + own::kReportNoiseOffset;
            out.append(appendLog(
                QStringLiteral("Origin Value:  ") + QString::number(origin[0] | (origin[1] << 8)) +
                QStringLiteral("    AD Count: ") +
                QString::number(bigEndian32(f + own::kReportAdCountOffset)) +
                QStringLiteral("     ") + QStringLiteral(" Noise:  ") +
                tenthsText(unsigned(noise[0] | (noise[1] << 8))) + QStringLiteral("  dB")));
        }
        break;
    case own::kIdentity:
        out.append(setField(Field::DeviceId, identityText(f + own::kIdentityOffset)));
        break;
    case own::kWriteCaliParam:
        if (kind == own::kCaliParamSelector)
            out.append(
                confirm(QT_TRANSLATE_NOOP("MainWindow", "Set Calibrate Param Success!"), false));
        break;
    case own::kReadCaliParam:
        if (kind == own::kCaliParamSelector) {
            const uint8_t *params = f + own::kCaliParamOffset;
            out.append(setField(Field::CaliParamA, hundredthsAt(params)));
            out.append(setField(Field::CaliParamB, hundredthsAt(params + 4)));
            out.append(setField(Field::CaliParamC, hundredthsAt(params + 8)));
        }
        break;
    case own::kConfig:
        if (kind == own::kConfigFactoryReset &&
            f[own::kConfigSignOffset] == own::kFactoryResetDone) {
            out.append(confirm(QT_TRANSLATE_NOOP("MainWindow", "恢复出厂设置成功！"), false));
        } else if (kind == own::kConfigCalibration) {
            out.append(setField(Field::CalibrZero, zeroOffsetText(f[own::kConfigSignOffset],
                                                                  f[own::kConfigMagnitudeOffset])));
            out.append(
                setField(Field::CalibrateFactor, QString::number(f[own::kConfigFactorOffset])));
        } else if (kind == own::kConfigCalibrateDone) {
            out.append(confirm(QT_TRANSLATE_NOOP("MainWindow", "设置校准成功!"), false));
        }
        break;
    case own::kVersion:
        out.append(setField(Field::SoftId, ownVersionText(f + own::kVersionOffset)));
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
    // Only an intact echo says what the sensor took.
    if ((!addressWrite && !calibrationWrite) ||
        !modbusCrcMatches(
            QByteArray::fromRawData(reinterpret_cast<const char *>(b), modbus::kWriteEchoSize)))
        return;
    ReplyAction action;
    action.kind = ReplyAction::WriteConfirmed;
    action.function = function;
    action.registerNumber = registerNumber;
    action.value = value;
    out.append(action);
}

// The raised flag of the given function code (and byte count, unless
// negative) whose query went out first; -1 when none is raised.
int oldestRaised(const PendingReplies &flags, uint8_t function, int byteCount)
{
    int oldest = -1;
    for (Query query : kQueries) {
        const RegisterRead read = queryRead(query);
        if (pendingFlag(flags, query) != 1 || read.function != function ||
            (byteCount >= 0 && read.replyByteCount() != byteCount))
            continue;
        const int index = int(query);
        if (oldest < 0 || flags.raisedAs[size_t(index)] < flags.raisedAs[size_t(oldest)])
            oldest = index;
    }
    return oldest;
}

// `data` is the reply's register data: two bytes a register, big-endian.
void decodeQueryReply(Query query, const uint8_t *data, QVector<ReplyAction> &out)
{
    switch (query) {
    case Query::Noise:
        out.append(appendLog(QStringLiteral("Current Noise Value: ") +
                             tenthsText(bigEndian16(data)) + QStringLiteral("  dB")));
        break;
    case Query::DeviceAddr: // the low byte of the register
        out.append(setField(Field::DeviceAddr, QString::number(data[1], 16)));
        break;
    case Query::Calibrate: // offset register: sign, magnitude; factor register: 0, factor
        out.append(setField(Field::CalibrZero, zeroOffsetText(data[0], data[1])));
        out.append(setField(Field::CalibrateFactor, QString::number(data[3])));
        break;
    case Query::SerialNumber:
        out.append(setField(Field::DeviceId, identityText(data)));
        break;
    case Query::Version:
        out.append(setField(Field::SoftId, modbusVersionText(bigEndian16(data))));
        break;
    case Query::Origin: // a 32-bit raw value, then the noise
        out.append(appendLog(QStringLiteral("Origin Value:  ") +
                             QString::number(bigEndian32(data)) + QStringLiteral("   ::::::  ") +
                             tenthsText(bigEndian16(data + 4)) + QStringLiteral("    dB   ")));
        break;
    case Query::CaliParam:
        out.append(setField(Field::CaliParamA, hundredthsAt(data)));
        out.append(setField(Field::CaliParamB, hundredthsAt(data + 4)));
        out.append(setField(Field::CaliParamC, hundredthsAt(data + 8)));
        break;
    }
}

// A read reply of `available` bytes (its whole length or the part of it that
// came) serves the oldest flag of its shape, if it holds that flag's bytes.
void decodeReadReply(const uint8_t *b, int available, PendingReplies &flags,
                     QVector<ReplyAction> &out)
{
    const uint8_t byteCount = b[modbus::kByteCountOffset];
    const int oldest = oldestRaised(flags, b[modbus::kFunctionOffset], byteCount);
    if (oldest < 0 || available < modbus::kReadReplyHeaderSize + byteCount)
        return;
    const Query query = Query(oldest);
    pendingFlag(flags, query) = 0;
    decodeQueryReply(query, b + modbus::kReplyDataOffset, out);
}

void decodeException(const uint8_t *b, PendingReplies &flags, QVector<ReplyAction> &out)
{
    ReplyAction action;
    action.kind = ReplyAction::Refused;
    action.function = uint8_t(b[modbus::kFunctionOffset] & ~modbus::kExceptionBit);
    action.exceptionCode = b[modbus::kExceptionCodeOffset];
    const int oldest = oldestRaised(flags, action.function, -1);
    if (oldest >= 0) {
        action.answersQuery = true;
        action.query = Query(oldest);
        pendingFlag(flags, action.query) = 0;
    }
    out.append(action);
}

// Takes the Modbus frames of the read one after another, each sized by its
// function code, until the bytes end or one cannot be sized.
void decodeModbusFrames(const uint8_t *copy, int n, PendingReplies &flags,
                        QVector<ReplyAction> &out)
{
    int at = 0;
    while (n - at >= 3) {
        const uint8_t *b = copy + at;
        const int available = n - at;
        const uint8_t function = b[modbus::kFunctionOffset];
        const uint8_t base = function & ~modbus::kExceptionBit;
        const bool known = base == modbus::kReadHolding || base == modbus::kReadInput ||
                           base == modbus::kWriteSingle || base == modbus::kWriteMultiple;
        if (!known)
            return;
        if (function & modbus::kExceptionBit) {
            // Only a whole one with its CRC: the tail of a split reply or
            // noise can look like the start of an exception, and a refusal
            // must not be claimed from such bytes.
            if (available < modbus::kExceptionReplySize ||
                !modbusCrcMatches(QByteArray::fromRawData(reinterpret_cast<const char *>(b),
                                                          modbus::kExceptionReplySize)))
                return;
            decodeException(b, flags, out);
            at += modbus::kExceptionReplySize;
        } else if (function == modbus::kWriteSingle || function == modbus::kWriteMultiple) {
            if (available < modbus::kWriteEchoSize)
                return;
            decodeWriteEcho(b, out);
            at += modbus::kWriteEchoSize;
        } else {
            decodeReadReply(b, available, flags, out);
            at += modbus::kReadReplyHeaderSize + b[modbus::kByteCountOffset] + modbus::kCrcSize;
        }
    }
}

void expireUnanswered(PendingReplies &flags, qint64 nowMs, QVector<ReplyAction> &out)
{
    for (Query query : kQueries) {
        int &flag = pendingFlag(flags, query);
        if (flag != 1 || nowMs - flags.writtenAtMs[size_t(query)] < kReplyDeadlineMs)
            continue;
        flag = 0;
        ReplyAction action;
        action.kind = ReplyAction::Unanswered;
        action.query = query;
        action.answersQuery = true;
        out.append(action);
    }
}

} // namespace

QVector<ReplyAction> decodeTick(const QByteArray &block, PendingReplies &flags, qint64 nowMs)
{
    QVector<ReplyAction> out;
    const int readLength = block.size();

    // Short reads are shown as they came; whole own-protocol replies are not.
    if (readLength >= 4 && readLength <= 17)
        out.append(appendLog(toHexText(block)));

    // Everything below looks only at the zero-filled working copy; bytes past
    // its end are dropped.
    uint8_t copy[kWorkingCopySize];
    std::memset(copy, 0, sizeof copy);
    const int n = qMin(readLength, kWorkingCopySize);
    if (n > 0)
        std::memcpy(copy, block.constData(), size_t(n));

    for (int slot = 0; slot + kOwnFrameSize <= n; slot += kOwnFrameSize) {
        const uint8_t *frame = copy + slot;
        if (frame[0] == kOwnHead && frame[kOwnFrameSize - 1] == kOwnTail)
            decodeOwnReply(frame, out);
    }

    decodeModbusFrames(copy, n, flags, out);
    expireUnanswered(flags, nowMs, out);
    return out;
}
