#include "decoder.h"

#include "frame.h"
#include "modbus.h"
#include "sensor.h"

#include <QCoreApplication>
#include <cstring>

QString realText(double value)
{
    return QStringLiteral("%1").arg(value);
}

QString identityText(const uint8_t *bytes)
{
    return hexPair(bytes[0]) + hexPair(bytes[1]) + QLatin1Char('-') + hexPair(bytes[2]) +
           hexPair(bytes[3]);
}

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

QString signedDecimal(uint8_t byte)
{
    return QString::number(int(int8_t(byte)));
}

// Zero offset as the sensor sends it: a magnitude and a sign byte, 0x00
// meaning negative.
QString zeroOffsetText(uint8_t signByte, uint8_t magnitude)
{
    const int value = signByte == 0x00 ? -int(magnitude) : int(magnitude);
    return QString::number(value);
}

QString hundredthsText(const uint8_t *bytes)
{
    return realText(int32_t(bigEndian32(bytes)) / 100.0);
}

void decodeOwnReply(const uint8_t *f, QVector<ReplyAction> &out)
{
    switch (f[1]) {
    case own::kReport:
        if (f[2] == own::kReportMarker) {
            const unsigned origin = f[5] | (f[6] << 8);
            const unsigned noise = f[11] | (f[12] << 8);
            const uint32_t adCount = bigEndian32(f + 13);
            out.append(appendLog(QStringLiteral("Origin Value:  ") + QString::number(origin) +
                                 QStringLiteral("    AD Count: ") + QString::number(adCount) +
                                 QStringLiteral("     ") + QStringLiteral(" Noise:  ") +
                                 realText(noise / 10.0) + QStringLiteral("  dB")));
        }
        break;
    case own::kIdentity:
        out.append(setField(Field::DeviceId, identityText(f + 8)));
        break;
    case own::kWriteCaliParam:
        if (f[2] == own::kCaliParamSelector)
            out.append(
                confirm(QT_TRANSLATE_NOOP("MainWindow", "Set Calibrate Param Success!"), false));
        break;
    case own::kReadCaliParam:
        if (f[2] == own::kCaliParamSelector) {
            out.append(setField(Field::CaliParamA, hundredthsText(f + 3)));
            out.append(setField(Field::CaliParamB, hundredthsText(f + 7)));
            out.append(setField(Field::CaliParamC, hundredthsText(f + 11)));
        }
        break;
    case own::kConfig:
        if (f[2] == own::kConfigFactoryReset && f[3] == 0x01) {
            out.append(confirm(QT_TRANSLATE_NOOP("MainWindow", "恢复出厂设置成功！"), false));
        } else if (f[2] == own::kConfigCalibration) {
            out.append(setField(Field::CalibrZero, zeroOffsetText(f[3], f[4])));
            out.append(setField(Field::CalibrateFactor, QString::number(f[5])));
        } else if (f[2] == own::kConfigCalibrateDone) {
            out.append(confirm(QT_TRANSLATE_NOOP("MainWindow", "设置校准成功!"), false));
        }
        break;
    case own::kVersion:
        out.append(setField(Field::SoftId, signedDecimal(f[9]) + QLatin1Char('-') +
                                               signedDecimal(f[10]) + QLatin1Char('-') +
                                               signedDecimal(f[11])));
        break;
    default:
        break;
    }
}

void decodeWriteEcho(const uint8_t *b, QVector<ReplyAction> &out)
{
    const char *source = nullptr;
    if (b[1] == modbus::kWriteSingle && b[3] == (reg::kProtocolSelect & 0xFF) &&
        b[5] == reg::kSelectModbus)
        source = QT_TRANSLATE_NOOP("MainWindow", "Device change to MODBUS!");
    else if (b[1] == modbus::kWriteSingle && b[3] == (reg::kProtocolSelect & 0xFF) &&
             b[5] == reg::kSelectOwnProtocol)
        source = QT_TRANSLATE_NOOP("MainWindow", "Device change to Vela!");
    else if (b[1] == modbus::kWriteSingle && b[3] == (reg::kFactoryReset & 0xFF) &&
             b[5] == reg::kFactoryResetValue)
        source = QT_TRANSLATE_NOOP("MainWindow", "Device change to FactoryConfig!");
    else if (b[1] == modbus::kWriteMultiple && b[3] == (reg::kCaliParam & 0xFF) &&
             b[5] == reg::kCaliParamCount)
        source = QT_TRANSLATE_NOOP("MainWindow", "Set Calibrate Param Success!");
    if (source) {
        out.append(confirm(source, true));
        return;
    }

    // The address and calibration writes have no confirmation box; their
    // echo is still news worth a line.
    const uint16_t registerNumber = bigEndian16(b + 2);
    const uint16_t value = bigEndian16(b + 4);
    const bool addressWrite = b[1] == modbus::kWriteSingle && registerNumber == reg::kDeviceAddr;
    const bool calibrationWrite =
        b[1] == modbus::kWriteMultiple && value == reg::kCalibrationCount &&
        (registerNumber == reg::kCalibrateRange0 || registerNumber == reg::kCalibrateRange1 ||
         registerNumber == reg::kCalibrateRange2);
    if (!addressWrite && !calibrationWrite)
        return;
    ReplyAction action;
    action.kind = ReplyAction::WriteConfirmed;
    action.function = b[1];
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

void decodeQueryReply(Query query, const uint8_t *b, QVector<ReplyAction> &out)
{
    switch (query) {
    case Query::Noise:
        out.append(appendLog(QStringLiteral("Current Noise Value: ") +
                             realText(bigEndian16(b + 3) / 10.0) + QStringLiteral("  dB")));
        break;
    case Query::DeviceAddr:
        out.append(setField(Field::DeviceAddr, QString::number(b[4], 16)));
        break;
    case Query::Calibrate:
        out.append(setField(Field::CalibrZero, zeroOffsetText(b[3], b[4])));
        out.append(setField(Field::CalibrateFactor, QString::number(b[6])));
        break;
    case Query::SerialNumber:
        out.append(setField(Field::DeviceId, identityText(b + 3)));
        break;
    case Query::Version:
        out.append(setField(Field::SoftId, QString::number((b[3] >> 4) + 16) + QLatin1Char('-') +
                                               QString::number(b[3] & 0x0F) + QLatin1Char('-') +
                                               signedDecimal(b[4])));
        break;
    case Query::Origin:
        out.append(appendLog(QStringLiteral("Origin Value:  ") +
                             QString::number(bigEndian32(b + 3)) + QStringLiteral("   ::::::  ") +
                             realText(bigEndian16(b + 7) / 10.0) + QStringLiteral("    dB   ")));
        break;
    case Query::CaliParam:
        out.append(setField(Field::CaliParamA, hundredthsText(b + 3)));
        out.append(setField(Field::CaliParamB, hundredthsText(b + 7)));
        out.append(setField(Field::CaliParamC, hundredthsText(b + 11)));
        break;
    }
}

// A read reply of `available` bytes (its whole length or the part of it that
// came) serves the oldest flag of its shape, if it holds that flag's bytes.
void decodeReadReply(const uint8_t *b, int available, PendingReplies &flags,
                     QVector<ReplyAction> &out)
{
    const uint8_t byteCount = b[2];
    const int oldest = oldestRaised(flags, b[1], byteCount);
    if (oldest < 0 || available < modbus::kReadReplyHeaderSize + byteCount)
        return;
    const Query query = Query(oldest);
    pendingFlag(flags, query) = 0;
    decodeQueryReply(query, b, out);
}

void decodeException(const uint8_t *b, PendingReplies &flags, QVector<ReplyAction> &out)
{
    ReplyAction action;
    action.kind = ReplyAction::Refused;
    action.function = uint8_t(b[1] & ~modbus::kExceptionBit);
    action.exceptionCode = b[2];
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
        const uint8_t function = b[1];
        const uint8_t base = function & ~modbus::kExceptionBit;
        const bool known = base == modbus::kReadHolding || base == modbus::kReadInput ||
                           base == modbus::kWriteSingle || base == modbus::kWriteMultiple;
        if (!known)
            return;
        if (function & modbus::kExceptionBit) {
            // Only a whole one: the tail of a split reply can look like the
            // start of an exception.
            if (available < modbus::kExceptionReplySize)
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
            at += modbus::kReadReplyHeaderSize + b[2] + modbus::kCrcSize;
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
