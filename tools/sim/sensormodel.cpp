#include "sensormodel.h"

#include "frame.h"
#include "modbus.h"
#include "sensor.h"

#include <QVector>
#include <algorithm>
#include <cmath>

namespace {

// The low bytes of the values, in order.
QByteArray byteList(std::initializer_list<int> values)
{
    QByteArray out;
    for (int value : values)
        out.append(char(value & 0xFF));
    return out;
}

const uint8_t *bytesOf(const QByteArray &frame)
{
    return reinterpret_cast<const uint8_t *>(frame.constData());
}

QString exceptionNote(uint8_t code)
{
    return QStringLiteral("exception %1 (%2)")
        .arg(int(code))
        .arg(QLatin1String(modbus::exceptionText(code)));
}

bool isCaliParamRegister(uint16_t reg)
{
    return reg >= reg::kCaliParam && reg < reg::kCaliParam + reg::kCaliParamCount;
}

bool isCalibrationRegister(uint16_t reg)
{
    // Three ranges, an offset and a factor register each.
    return reg >= reg::kCalibrateRange0 && reg < reg::kCalibrateRange2 + reg::kCalibrationCount;
}

// Highest register count a read or write may ask for (Modbus limits).
constexpr int kMaxReadCount = 125;
constexpr int kMaxWriteCount = 123;
using modbus::kMaxSlaveAddress;

} // namespace

SensorModel::SensorModel(const SensorConfig &defaults, int levelTenths, int driftTenths,
                         uint32_t seed)
    : defaults_(defaults), config_(defaults), levelTenths_(levelTenths), driftTenths_(driftTenths),
      rng_(seed)
{
}

int SensorModel::sampleNoise()
{
    if (driftTenths_ > 0) {
        // A bounded random walk: each reading moves a few tenths at most.
        const int step = qMax(1, driftTenths_ / 4);
        deviation_ += int(rng_() % uint32_t(2 * step + 1)) - step;
        deviation_ = qBound(-driftTenths_, deviation_, driftTenths_);
    } else {
        deviation_ = 0;
    }
    return qBound(0, levelTenths_ + deviation_, 0xFFFF);
}

uint32_t SensorModel::originFromNoise(int noiseTenths)
{
    return uint32_t(std::lround(std::pow(10.0, noiseTenths / 200.0)));
}

uint32_t SensorModel::adCountFromNoise(int noiseTenths)
{
    const double count = std::pow(10.0, noiseTenths / 200.0) * 1000.0;
    return count >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(std::lround(count));
}

SensorModel::Answer SensorModel::handle(const Request &request)
{
    // The parser hands over whole frames only; anything else is not read.
    if (request.kind == Request::Own) {
        if (request.bytes.size() != kOwnFrameSize)
            return {{}, QStringLiteral("not a whole frame")};
        return handleOwn(request.bytes);
    }
    const int length = modbus::requestLength(request.bytes);
    if (request.bytes.size() < 4 || (length > 0 && request.bytes.size() != length))
        return {{}, QStringLiteral("not a whole frame")};
    return handleModbus(request.bytes);
}

SensorModel::Answer SensorModel::handleModbus(const QByteArray &request)
{
    const uint8_t *bytes = bytesOf(request);
    const uint8_t slave = bytes[modbus::kSlaveOffset];
    const uint8_t function = bytes[modbus::kFunctionOffset];
    if (slave != modbus::kToolSlaveAddress && slave != config_.address)
        return {{}, QStringLiteral("addressed to slave %1, not to this sensor").arg(int(slave))};

    if (config_.ownProtocol) {
        // In its own protocol the sensor still takes the protocol switch and
        // the factory reset over Modbus, so that it can always be brought back.
        const uint16_t target = bigEndian16(bytes + modbus::kRegisterOffset);
        const bool wayBack = function == modbus::kWriteSingle &&
                             request.size() == modbus::kReadRequestSize &&
                             (target == reg::kProtocolSelect || target == reg::kFactoryReset);
        if (!wayBack)
            return {{}, QStringLiteral("own protocol selected, Modbus request ignored")};
    }

    switch (function) {
    case modbus::kReadHolding:
    case modbus::kReadInput:
        return readRegisters(request);
    case modbus::kWriteSingle:
        return writeRegisters(request, bigEndian16(bytes + modbus::kRegisterOffset),
                              {bigEndian16(bytes + modbus::kCountOffset)});
    case modbus::kWriteMultiple: {
        const int count = bigEndian16(bytes + modbus::kCountOffset);
        const int byteCount = bytes[modbus::kWriteByteCountOffset];
        if (count < 1 || count > kMaxWriteCount || byteCount != 2 * count)
            return {modbus::exceptionReply(slave, function, modbus::kIllegalDataValue),
                    exceptionNote(modbus::kIllegalDataValue)};
        QVector<uint16_t> values;
        for (int i = 0; i < count; ++i)
            values.append(bigEndian16(bytes + modbus::kWriteDataOffset + 2 * i));
        return writeRegisters(request, bigEndian16(bytes + modbus::kRegisterOffset), values);
    }
    default:
        return {modbus::exceptionReply(slave, function, modbus::kIllegalFunction),
                exceptionNote(modbus::kIllegalFunction)};
    }
}

SensorModel::Answer SensorModel::readRegisters(const QByteArray &request)
{
    const uint8_t *bytes = bytesOf(request);
    const uint8_t slave = bytes[modbus::kSlaveOffset];
    const uint8_t function = bytes[modbus::kFunctionOffset];
    const uint16_t first = bigEndian16(bytes + modbus::kRegisterOffset);
    const int count = bigEndian16(bytes + modbus::kCountOffset);
    if (count < 1 || count > kMaxReadCount)
        return {modbus::exceptionReply(slave, function, modbus::kIllegalDataValue),
                exceptionNote(modbus::kIllegalDataValue)};

    // One noise reading serves every register of the request that shows it;
    // requests that show none leave the drift where it is.
    const bool showsNoise =
        function == modbus::kReadInput ||
        (first < reg::kOrigin + reads::kOrigin.count && first + count > reg::kOrigin);
    const int noise = showsNoise ? sampleNoise() : 0;
    const QVector<Block> blocks = function == modbus::kReadInput
                                      ? QVector<Block>{{reg::kNoise, encodeNoise(uint16_t(noise))}}
                                      : holdingRegisters(noise);
    QVector<uint16_t> values;
    for (int i = 0; i < count; ++i) {
        const int at = first + i;
        const auto block = std::find_if(blocks.cbegin(), blocks.cend(), [at](const Block &b) {
            return at >= b.first && at < b.first + b.words.size();
        });
        if (block == blocks.cend())
            return {modbus::exceptionReply(slave, function, modbus::kIllegalDataAddress),
                    exceptionNote(modbus::kIllegalDataAddress)};
        values.append(block->words[at - block->first]);
    }
    return {modbus::readReply(slave, function, values), QString()};
}

// The holding registers, each block as its read of the register table
// decodes it; `noise` is the reading the origin block shows.
QVector<SensorModel::Block> SensorModel::holdingRegisters(int noise) const
{
    const std::array<int32_t, 3> &p = config_.caliParams;
    const auto &c = config_.calibration;
    return {{reg::kSerialNumber, encodeSerialNumber(config_.serialNumber)},
            {reg::kVersion, encodeVersion(config_.version)},
            {reg::kDeviceAddr, encodeDeviceAddr(config_.address)},
            {reg::kOrigin, encodeOrigin({originFromNoise(noise), uint16_t(noise)})},
            {reg::kProtocolSelect, {encodeProtocolSelect(config_.ownProtocol)}},
            {reg::kCaliParam, encodeCaliParams({p[0], p[1], p[2]})},
            {reg::kCalibrateRange0, QVector<uint16_t>(c.cbegin(), c.cend())}};
}

// An offset register holds a sign byte (0 or 1) and a magnitude of one
// byte, a factor register a factor of one byte: a word beyond that is not a
// calibration the sensor can hold.
static bool calibrationWordFits(uint16_t reg, uint16_t value)
{
    const bool offset = (reg - reg::kCalibrateRange0) % 2 == 0;
    return (value >> 8) <= (offset ? 1 : 0);
}

uint8_t SensorModel::checkWrite(uint16_t reg, uint16_t value) const
{
    if (int(reg) == config_.refusedRegister)
        return modbus::kIllegalDataValue;
    switch (reg) {
    case reg::kDeviceAddr:
        return value >= 1 && value <= kMaxSlaveAddress ? 0 : modbus::kIllegalDataValue;
    case reg::kFactoryReset:
        return value == reg::kFactoryResetValue ? 0 : modbus::kIllegalDataValue;
    case reg::kProtocolSelect:
        return value == reg::kSelectOwnProtocol || value == reg::kSelectModbus
                   ? 0
                   : modbus::kIllegalDataValue;
    default:
        break;
    }
    if (isCaliParamRegister(reg))
        return 0;
    if (isCalibrationRegister(reg))
        return calibrationWordFits(reg, value) ? 0 : modbus::kIllegalDataValue;
    return modbus::kIllegalDataAddress;
}

void SensorModel::applyWrite(uint16_t reg, uint16_t value)
{
    switch (reg) {
    case reg::kDeviceAddr:
        config_.address = uint8_t(value);
        return;
    case reg::kFactoryReset:
        factoryReset();
        return;
    case reg::kProtocolSelect:
        config_.ownProtocol = decodeProtocolSelect(value);
        return;
    default:
        break;
    }
    if (isCaliParamRegister(reg)) {
        const int index = reg - reg::kCaliParam;
        uint32_t param = uint32_t(config_.caliParams[size_t(index / 2)]);
        if (index % 2 == 0)
            param = (param & 0x0000FFFFu) | (uint32_t(value) << 16);
        else
            param = (param & 0xFFFF0000u) | value;
        config_.caliParams[size_t(index / 2)] = int32_t(param);
    } else if (isCalibrationRegister(reg)) {
        config_.calibration[size_t(reg - reg::kCalibrateRange0)] = value;
    }
}

// Every register is checked before any is changed: a refused write changes
// nothing. The echo goes out from the address the request named, also when
// the write changes the sensor's address.
SensorModel::Answer SensorModel::writeRegisters(const QByteArray &request, uint16_t first,
                                                const QVector<uint16_t> &values)
{
    const uint8_t slave = uint8_t(request[modbus::kSlaveOffset]);
    const uint8_t function = uint8_t(request[modbus::kFunctionOffset]);
    uint8_t refusal = 0;
    for (int i = 0; i < values.size() && refusal == 0; ++i) {
        if (first + i > 0xFFFF)
            refusal = modbus::kIllegalDataAddress;
        else
            refusal = checkWrite(uint16_t(first + i), values[i]);
    }
    if (refusal != 0)
        return {modbus::exceptionReply(slave, function, refusal), exceptionNote(refusal)};
    for (int i = 0; i < values.size(); ++i)
        applyWrite(uint16_t(first + i), values[i]);
    return {modbus::writeEcho(request), QString()};
}

SensorModel::Answer SensorModel::handleOwn(const QByteArray &frame)
{
    if (!config_.ownProtocol)
        return {{}, QStringLiteral("Modbus selected, own-protocol frame ignored")};
    const uint8_t *bytes = bytesOf(frame);
    const uint8_t command = bytes[kOwnCommandOffset];
    switch (command) {
    case own::kIdentity:
        return {ownIdentityFrame(own::kIdentity, config_.serialNumber), QString()};
    case own::kVersion:
        return {ownVersionFrame(config_.version), QString()};
    case own::kSetIdentity:
        config_.serialNumber = decodeOwnIdentity(bytes);
        return {frame, QStringLiteral("identity set")};
    case own::kReadCaliParam:
    case own::kWriteCaliParam: {
        const uint8_t selector = bytes[own::kSelectorOffset];
        if (selector != own::kCaliParamSelector)
            return {{},
                    QStringLiteral("selector 0x%1 unknown, frame ignored").arg(hexPair(selector))};
        std::array<int32_t, 3> &p = config_.caliParams;
        if (command == own::kWriteCaliParam) {
            const CalibrationParameters sent = decodeOwnCaliParams(bytes);
            p = {sent.a, sent.b, sent.c};
        }
        return {ownCaliParamFrame(command, {p[0], p[1], p[2]}), QString()};
    }
    default:
        return {{}, QStringLiteral("command 0x%1 unknown, frame ignored").arg(hexPair(command))};
    }
}

QByteArray SensorModel::reportFrame()
{
    const int noise = sampleNoise();
    return ownReportFrame({uint16_t(qMin<uint32_t>(originFromNoise(noise), 0xFFFF)),
                           uint16_t(noise), adCountFromNoise(noise)});
}

QByteArray SensorModel::factoryDoneFrame() const
{
    return ownFrame(own::kConfig,
                    {{own::kSelectorOffset, QByteArray(1, char(own::kConfigFactoryReset))},
                     {own::kConfigSignOffset, QByteArray(1, char(own::kFactoryResetDone))}});
}

QByteArray SensorModel::calibrationFrame() const
{
    // Range 0: its offset register holds sign and magnitude, its factor
    // register the factor in the low byte.
    const QByteArray values =
        byteList({config_.calibration[0] >> 8, config_.calibration[0], config_.calibration[1]});
    return ownFrame(own::kConfig,
                    {{own::kSelectorOffset, QByteArray(1, char(own::kConfigCalibration))},
                     {own::kConfigSignOffset, values}});
}

QByteArray SensorModel::calibrateDoneFrame() const
{
    return ownFrame(own::kConfig,
                    {{own::kSelectorOffset, QByteArray(1, char(own::kConfigCalibrateDone))}});
}
