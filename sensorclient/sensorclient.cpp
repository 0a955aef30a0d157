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
        if (!isOwnFrameAt(reply, 0))
            outcome.replyAddress = uint8_t(reply[modbus::kSlaveOffset]);
        checkRefusal(reply, outcome);
        return outcome;
    case ExchangeResult::NoReply:
        outcome.kind = Outcome::NoReply;
        break;
    case ExchangeResult::BadReply:
        outcome.kind = Outcome::BadReply;
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
    return writeRegisters(setDeviceAddrRequest(address, slave_));
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

Outcome SensorClient::factoryReset()
{
    return writeRegisters(factoryConfigRequest(slave_));
}

Outcome SensorClient::switchProtocol(bool toOwnProtocol)
{
    return writeRegisters(toOwnProtocol ? changeToOwnProtocolRequest(slave_)
                                        : changeToModbusRequest(slave_));
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
    return outcome;
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
    return outcome;
}
