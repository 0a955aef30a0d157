#include "sensorclient.h"

#include "commands.h"
#include "formats.h"
#include "frame.h"
#include "modbus.h"

namespace {

const uint8_t *bytesOf(const QByteArray &frame)
{
    return reinterpret_cast<const uint8_t *>(frame.constData());
}

// A whole reply that does not say what was asked.
void contradicted(Outcome &outcome, const QString &reason)
{
    outcome.kind = Outcome::BadReply;
    outcome.replied = true;
    outcome.reason = reason;
}

// A Modbus exception: the sensor says no to the request.
void checkRefusal(const QByteArray &reply, Outcome &outcome)
{
    const uint8_t *r = bytesOf(reply);
    if (isOwnFrameAt(reply, 0) || !(r[modbus::kFunctionOffset] & modbus::kExceptionBit))
        return;
    const uint8_t code = r[modbus::kExceptionCodeOffset];
    contradicted(outcome, QStringLiteral("the sensor refused the request: %1 (exception code %2)")
                              .arg(QLatin1String(modbus::exceptionText(code)))
                              .arg(code));
}

// Nothing from a sensor: silence, or only the request's own echo.
bool unanswered(const Outcome &outcome)
{
    return outcome.kind == Outcome::NoReply || outcome.echoOnly;
}

QString addressText(uint8_t address)
{
    return QString::number(address, 16);
}

} // namespace

SensorClient::SensorClient(Transport &transport) : exchange_(transport) {}

bool SensorClient::open(const QString &port, qint32 baud, QString &error)
{
    return exchange_.open(port, baud, error);
}

void SensorClient::close()
{
    exchange_.close();
}

Outcome SensorClient::transact(const QByteArray &request, const ReplyFramer &framer,
                               QByteArray &reply)
{
    const ExchangeResult result = exchange_.transact(request, framer);
    Outcome outcome;
    outcome.attempts = result.attempts;
    switch (result.outcome) {
    case ExchangeResult::Replied:
        reply = result.reply;
        outcome.unproven = reply == request;
        if (!isOwnFrameAt(reply, 0))
            outcome.replyAddress = uint8_t(reply[modbus::kSlaveOffset]);
        checkRefusal(reply, outcome);
        return outcome;
    case ExchangeResult::NoReply:
        outcome.kind = Outcome::NoReply;
        break;
    case ExchangeResult::BadReply:
        outcome.kind = Outcome::BadReply;
        outcome.echoOnly = result.echoOnly;
        break;
    case ExchangeResult::PortFailure:
        outcome.kind = Outcome::PortFailure;
        break;
    }
    outcome.reason = result.message;
    return outcome;
}

template <typename T, typename Decode>
Result<T> SensorClient::readRegisters(const QByteArray &request, Decode decode)
{
    Result<T> result;
    QByteArray reply;
    result.outcome = transact(request, ReplyFramer::modbus(request), reply);
    if (result.ok())
        result.value = decode(bytesOf(reply) + modbus::kReplyDataOffset);
    return result;
}

Outcome SensorClient::writeRegisters(const QByteArray &request)
{
    QByteArray reply;
    return transact(request, ReplyFramer::modbus(request), reply);
}

// `write` once `proof`, a read only a sensor answers, has shown that one
// took it; `proof` itself says when the value it read is not the one
// written.
Outcome SensorClient::proven(Outcome write, const std::function<Outcome()> &proof)
{
    if (!write.ok() || !write.unproven || !proveWrites_)
        return write;
    Outcome read = proof();
    read.attempts = qMax(read.attempts, write.attempts);
    if (read.ok()) {
        write.unproven = false;
        write.attempts = read.attempts;
        return write;
    }
    if (read.kind == Outcome::PortFailure || read.replied)
        return read;
    if (!unanswered(read)) {
        read.reason = QStringLiteral("the write came back unchanged, and the read that shows a "
                                     "sensor took it failed: %1")
                          .arg(read.reason);
        return read;
    }
    Outcome failed;
    failed.kind = Outcome::BadReply;
    failed.echoOnly = true;
    failed.attempts = read.attempts;
    failed.reason =
        QStringLiteral("the write came back unchanged, but no sensor answered the read that "
                       "shows it took it (%1)")
            .arg(read.echoOnly ? QStringLiteral("only that read's own echo came back")
                               : QStringLiteral("nothing came back"));
    if (!exchange_.localEcho())
        failed.reason += QStringLiteral(": the adapter echoes what it sends (give --local-echo)");
    return failed;
}

// `read` asked at address `slave`, whatever the address set.
template <typename Read> auto SensorClient::readAt(uint8_t slave, Read read)
{
    const uint8_t set = slave_;
    slave_ = slave;
    const auto result = read();
    slave_ = set;
    return result;
}

// A query that carries no data comes back unchanged from an adapter that
// echoes: that frame is not the sensor's answer.
template <typename T, typename Decode>
Result<T> SensorClient::readOwn(const QByteArray &query, uint8_t command, int selector,
                                Decode decode)
{
    Result<T> result;
    QByteArray reply;
    result.outcome = transact(query, ReplyFramer::own(command, selector, query), reply);
    if (result.ok())
        result.value = decode(bytesOf(reply));
    return result;
}

Result<uint16_t> SensorClient::readNoise()
{
    return readRegisters<uint16_t>(noiseQuery(slave_), decodeNoise);
}

Result<uint32_t> SensorClient::readSerialNumber()
{
    return readRegisters<uint32_t>(serialNumberQuery(slave_), decodeSerialNumber);
}

Result<FirmwareVersion> SensorClient::readVersion()
{
    return readRegisters<FirmwareVersion>(versionQuery(slave_), decodeVersion);
}

Result<uint8_t> SensorClient::readAddress()
{
    return readRegisters<uint8_t>(deviceAddrQuery(slave_), decodeDeviceAddr);
}

Result<Origin> SensorClient::readOrigin()
{
    return readRegisters<Origin>(originQuery(slave_), decodeOrigin);
}

Result<Calibration> SensorClient::readCalibration(int range)
{
    return readRegisters<Calibration>(calibrateReadRequest(range, slave_), decodeCalibration);
}

Result<CalibrationParameters> SensorClient::readParameters()
{
    return readRegisters<CalibrationParameters>(caliParamQuery(slave_), decodeCaliParams);
}

Outcome SensorClient::writeAddress(uint8_t address)
{
    // A sensor asked at its own address answers at the new one now.
    const uint8_t readFrom = slave_ == kToolSlaveAddress ? slave_ : address;
    return proven(writeRegisters(setDeviceAddrRequest(address, slave_)), [this, address, readFrom] {
        Result<uint8_t> read = readAt(readFrom, [this] { return readAddress(); });
        if (read.ok() && read.value != address)
            contradicted(read.outcome,
                         QStringLiteral("the sensor reads back address %1 after %2 was written")
                             .arg(addressText(read.value), addressText(address)));
        return read.outcome;
    });
}

Outcome SensorClient::writeCalibration(int range, const Calibration &calibration)
{
    return writeRegisters(
        calibrateWriteRequest(range, calibration.offset, calibration.factor, slave_));
}

Outcome SensorClient::writeParameters(const CalibrationParameters &params)
{
    return writeRegisters(setCaliParamRequest(params.a, params.b, params.c, slave_));
}

// A reset may give the sensor its factory address and protocol: it is asked
// for its version where the write went, then at address 0, then in its own
// protocol, until it answers.
Outcome SensorClient::factoryReset()
{
    return proven(writeRegisters(factoryConfigRequest(slave_)), [this] {
        Outcome read = readVersion().outcome;
        if (unanswered(read) && slave_ != kToolSlaveAddress)
            read = readAt(kToolSlaveAddress, [this] { return readVersion(); }).outcome;
        if (unanswered(read))
            read = readOwnVersion().outcome;
        return read;
    });
}

Outcome SensorClient::switchProtocol(bool toOwnProtocol)
{
    return proven(writeRegisters(toOwnProtocol ? changeToOwnProtocolRequest(slave_)
                                               : changeToModbusRequest(slave_)),
                  [this, toOwnProtocol] {
                      return toOwnProtocol ? readOwnVersion().outcome : readVersion().outcome;
                  });
}

Result<uint32_t> SensorClient::readOwnIdentity()
{
    return readOwn<uint32_t>(ownIdentityQuery(), own::kIdentity, -1, decodeOwnIdentity);
}

Outcome SensorClient::writeOwnIdentity(uint32_t identity)
{
    const QByteArray request = ownIdentityFrame(own::kSetIdentity, identity);
    QByteArray reply;
    Outcome outcome = transact(request, ReplyFramer::own(own::kSetIdentity), reply);
    const uint32_t confirmed = outcome.ok() ? decodeOwnIdentity(bytesOf(reply)) : identity;
    if (confirmed != identity)
        contradicted(outcome, QStringLiteral("the sensor confirmed identity %1 instead of %2")
                                  .arg(identityText(confirmed), identityText(identity)));
    return proven(outcome, [this, identity] {
        Result<uint32_t> read = readOwnIdentity();
        if (read.ok() && read.value != identity)
            contradicted(read.outcome,
                         QStringLiteral("the sensor reads back identity %1 after %2 was written")
                             .arg(identityText(read.value), identityText(identity)));
        return read.outcome;
    });
}

Result<FirmwareVersion> SensorClient::readOwnVersion()
{
    return readOwn<FirmwareVersion>(ownVersionQuery(), own::kVersion, -1, decodeOwnVersion);
}

Result<CalibrationParameters> SensorClient::readOwnParameters()
{
    return readOwn<CalibrationParameters>(ownCaliParamQuery(), own::kReadCaliParam,
                                          own::kCaliParamSelector, decodeOwnCaliParams);
}

Outcome SensorClient::writeOwnParameters(const CalibrationParameters &params)
{
    const QByteArray request = ownCaliParamFrame(own::kWriteCaliParam, params);
    QByteArray reply;
    Outcome outcome =
        transact(request, ReplyFramer::own(own::kWriteCaliParam, own::kCaliParamSelector), reply);
    const CalibrationParameters confirmed =
        outcome.ok() ? decodeOwnCaliParams(bytesOf(reply)) : params;
    if (confirmed != params)
        contradicted(outcome, QStringLiteral("the sensor confirmed parameters %1 instead of %2")
                                  .arg(parametersText(confirmed), parametersText(params)));
    return proven(outcome, [this, params] {
        Result<CalibrationParameters> read = readOwnParameters();
        if (read.ok() && read.value != params)
            contradicted(read.outcome,
                         QStringLiteral("the sensor reads back parameters %1 after %2 were written")
                             .arg(parametersText(read.value), parametersText(params)));
        return read.outcome;
    });
}
