#include "decoder.h"

#include "frame.h"
#include "sensor.h"

#include <QCoreApplication>
#include <cstring>

QString realText(double value)
{
    return QStringLiteral("%1").arg(value);
}

QString identityText(const uint8_t *bytes)
{
    return hexPair(bytes[0]) + hexPair(bytes[1]) + QLatin1Char('-') + hexPair(bytes[2])
           + hexPair(bytes[3]);
}

namespace {

// Shortest read that holds every byte a flag's decoding reads. A shorter read
// leaves the flag raised instead of showing zeros for bytes that never came.
constexpr int kNoiseReplyMin = 5;
constexpr int kDeviceAddrReplyMin = 5;
constexpr int kCalibrateReplyMin = 7;
constexpr int kSerialNumberReplyMin = 7;
constexpr int kVersionReplyMin = 5;
constexpr int kOriginReplyMin = 9;
constexpr int kCaliParamReplyMin = 15;

constexpr int kWriteEchoSize = 8;

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
            out.append(appendLog(QStringLiteral("Origin Value:  ") + QString::number(origin)
                                 + QStringLiteral("    AD Count: ") + QString::number(adCount)
                                 + QStringLiteral("     ") + QStringLiteral(" Noise:  ")
                                 + realText(noise / 10.0) + QStringLiteral("  dB")));
        }
        break;
    case own::kIdentity:
        out.append(setField(Field::DeviceId, identityText(f + 8)));
        break;
    case own::kWriteCaliParam:
        if (f[2] == own::kCaliParamSelector)
            out.append(confirm(QT_TRANSLATE_NOOP("MainWindow", "Set Calibrate Param Success!"),
                               false));
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
        out.append(setField(Field::SoftId, signedDecimal(f[9]) + QLatin1Char('-')
                                               + signedDecimal(f[10]) + QLatin1Char('-')
                                               + signedDecimal(f[11])));
        break;
    default:
        break;
    }
}

void decodeWriteEcho(const uint8_t *b, QVector<ReplyAction> &out)
{
    const char *source = nullptr;
    if (b[1] == modbus::kWriteSingle && b[3] == (reg::kProtocolSelect & 0xFF)
        && b[5] == reg::kSelectModbus)
        source = QT_TRANSLATE_NOOP("MainWindow", "Device change to MODBUS!");
    else if (b[1] == modbus::kWriteSingle && b[3] == (reg::kProtocolSelect & 0xFF)
             && b[5] == reg::kSelectOwnProtocol)
        source = QT_TRANSLATE_NOOP("MainWindow", "Device change to Vela!");
    else if (b[1] == modbus::kWriteSingle && b[3] == (reg::kFactoryReset & 0xFF)
             && b[5] == reg::kFactoryResetValue)
        source = QT_TRANSLATE_NOOP("MainWindow", "Device change to FactoryConfig!");
    else if (b[1] == modbus::kWriteMultiple && b[3] == (reg::kCaliParam & 0xFF) && b[5] == 0x06)
        source = QT_TRANSLATE_NOOP("MainWindow", "Set Calibrate Param Success!");
    if (source)
        out.append(confirm(source, true));
}

// Lowers the flag and tells the caller to decode, when the flag is raised and
// the read holds every byte its decoding needs.
bool serve(int &flag, int n, int minimum)
{
    if (flag != 1 || n < minimum)
        return false;
    flag = 0;
    return true;
}

void decodeReadReply(const uint8_t *b, int n, PendingReplies &flags, QVector<ReplyAction> &out)
{
    if (serve(flags.waitNoise, n, kNoiseReplyMin))
        out.append(appendLog(QStringLiteral("Current Noise Value: ")
                             + realText(bigEndian16(b + 3) / 10.0) + QStringLiteral("  dB")));
    if (serve(flags.waitDeviceAddr, n, kDeviceAddrReplyMin))
        out.append(setField(Field::DeviceAddr, QString::number(b[4], 16)));
    if (serve(flags.waitCalibrate, n, kCalibrateReplyMin)) {
        out.append(setField(Field::CalibrZero, zeroOffsetText(b[3], b[4])));
        out.append(setField(Field::CalibrateFactor, QString::number(b[6])));
    }
    if (serve(flags.waitSN, n, kSerialNumberReplyMin))
        out.append(setField(Field::DeviceId, identityText(b + 3)));
    if (serve(flags.waitVersion, n, kVersionReplyMin))
        out.append(setField(Field::SoftId, QString::number((b[3] >> 4) + 16) + QLatin1Char('-')
                                               + QString::number(b[3] & 0x0F) + QLatin1Char('-')
                                               + signedDecimal(b[4])));
    if (serve(flags.waitOrigin, n, kOriginReplyMin))
        out.append(appendLog(QStringLiteral("Origin Value:  ") + QString::number(bigEndian32(b + 3))
                             + QStringLiteral("   ::::::  ") + realText(bigEndian16(b + 7) / 10.0)
                             + QStringLiteral("    dB   ")));
    if (serve(flags.waitCaliParam, n, kCaliParamReplyMin)) {
        out.append(setField(Field::CaliParamA, hundredthsText(b + 3)));
        out.append(setField(Field::CaliParamB, hundredthsText(b + 7)));
        out.append(setField(Field::CaliParamC, hundredthsText(b + 11)));
    }
}

} // namespace

QVector<ReplyAction> decodeTick(const QByteArray &block, PendingReplies &flags)
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

    if (n == kWriteEchoSize)
        decodeWriteEcho(copy, out);
    else if (copy[1] == modbus::kReadHolding || copy[1] == modbus::kReadInput)
        decodeReadReply(copy, n, flags, out);

    return out;
}
