#include "sensorcommands.h"

#include "commands.h"
#include "formats.h"
#include "frame.h"
#include "modbus.h"
#include "sensor.h"

#include <QJsonValue>

namespace {

const uint8_t *bytesOf(const QByteArray &frame)
{
    return reinterpret_cast<const uint8_t *>(frame.constData());
}

CommandPlan modbusPlan(const QByteArray &request)
{
    return {request, ReplyFramer::modbus(request)};
}

// A query that carries no data comes back unchanged from an adapter that
// echoes: that frame is not the sensor's answer.
CommandPlan ownQueryPlan(const QByteArray &query, uint8_t command, int selector = -1)
{
    return {query, ReplyFramer::own(command, selector, query)};
}

QString offsetFactorText(int offset, int factor)
{
    return QStringLiteral("%1 %2").arg(offset).arg(factor);
}

QString paramsText(const std::array<int32_t, 3> &params)
{
    return QStringLiteral("%1 %2 %3")
        .arg(exactHundredthsText(params[0]), exactHundredthsText(params[1]),
             exactHundredthsText(params[2]));
}

QJsonObject paramsJson(const std::array<int32_t, 3> &params)
{
    // Hundredths as doubles: exact to the last digit for 32-bit values.
    QJsonObject json;
    json.insert(QStringLiteral("a"), params[0] / 100.0);
    json.insert(QStringLiteral("b"), params[1] / 100.0);
    json.insert(QStringLiteral("c"), params[2] / 100.0);
    return json;
}

std::array<int32_t, 3> paramsAt(const uint8_t *bytes)
{
    return {int32_t(bigEndian32(bytes)), int32_t(bigEndian32(bytes + 4)),
            int32_t(bigEndian32(bytes + 8))};
}

Reading reading(const QString &text, const QString &key, const QJsonValue &value)
{
    Reading out;
    out.text = text;
    out.json.insert(key, value);
    return out;
}

// A reading whose JSON value is its text (identities, versions).
Reading textReading(const QString &text, const QString &key)
{
    return reading(text, key, text);
}

// Checks of a Modbus reply that apply to every command: an exception, the
// data length of a read, the echo of a write.
constexpr int kEchoedAfterAddress =
    modbus::kWriteEchoSize - modbus::kCrcSize - modbus::kFunctionOffset;

QString modbusReplyError(const QByteArray &request, const QByteArray &reply)
{
    const uint8_t *r = bytesOf(reply);
    if (r[modbus::kFunctionOffset] & modbus::kExceptionBit) {
        const uint8_t code = r[modbus::kExceptionCodeOffset];
        return QStringLiteral("the sensor refused the request: %1 (exception code %2)")
            .arg(QLatin1String(modbus::exceptionText(code)))
            .arg(code);
    }
    switch (uint8_t(request[modbus::kFunctionOffset])) {
    case modbus::kReadHolding:
    case modbus::kReadInput: {
        const int expected = 2 * bigEndian16(bytesOf(request) + modbus::kCountOffset);
        const int carried = r[modbus::kByteCountOffset];
        if (carried != expected)
            return QStringLiteral("the reply carries %1 data bytes instead of %2")
                .arg(carried)
                .arg(expected);
        return QString();
    }
    default:
        // A write echo repeats the request up to its CRC; its address is
        // the sensor's own when the request went to address 0.
        if (reply.mid(modbus::kFunctionOffset, kEchoedAfterAddress) !=
            request.mid(modbus::kFunctionOffset, kEchoedAfterAddress))
            return QStringLiteral("the sensor's echo (%1) does not match the request (%2)")
                .arg(toHexText(reply).trimmed(), toHexText(request).trimmed());
        return QString();
    }
}

Interpretation readModbus(const CtlCommand &command, const QByteArray &reply)
{
    Interpretation out;
    const uint8_t *data = bytesOf(reply) + modbus::kReplyDataOffset;
    switch (command.kind) {
    case CommandKind::Noise:
    case CommandKind::Watch:
    case CommandKind::Verify: {
        const unsigned tenths = bigEndian16(data);
        out.reading = reading(tenthsText(tenths), QStringLiteral("noise"), tenths / 10.0);
        break;
    }
    case CommandKind::Serial:
        out.reading = textReading(identityText(data), QStringLiteral("serial"));
        break;
    case CommandKind::Version:
        out.reading = textReading(modbusVersionText(bigEndian16(data)), QStringLiteral("version"));
        break;
    case CommandKind::Origin: {
        // A 32-bit raw value, then the noise in tenths.
        const uint32_t origin = bigEndian32(data);
        const unsigned tenths = bigEndian16(data + 4);
        out.reading.text = QStringLiteral("%1 %2").arg(origin).arg(tenthsText(tenths));
        out.reading.json.insert(QStringLiteral("origin"), double(origin));
        out.reading.json.insert(QStringLiteral("noise"), tenths / 10.0);
        break;
    }
    case CommandKind::Address: // the low byte of the register
        out.reading =
            reading(QString::number(data[1], 16), QStringLiteral("address"), int(data[1]));
        break;
    case CommandKind::Calibration: {
        // Offset register: sign and magnitude; factor register: 0 and factor.
        const QString offset = zeroOffsetText(data[0], data[1]);
        const int factor = data[3];
        out.reading.text = offset + QLatin1Char(' ') + QString::number(factor);
        out.reading.json.insert(QStringLiteral("range"), command.range);
        out.reading.json.insert(QStringLiteral("offset"), offset.toInt());
        out.reading.json.insert(QStringLiteral("factor"), factor);
        break;
    }
    case CommandKind::Params: {
        const std::array<int32_t, 3> params = paramsAt(data);
        out.reading.text = paramsText(params);
        out.reading.json = paramsJson(params);
        break;
    }
    default:
        out.error = QStringLiteral("this command reads nothing over Modbus");
        break;
    }
    return out;
}

Interpretation confirmModbusWrite(const CtlCommand &command)
{
    Interpretation out;
    switch (command.kind) {
    case CommandKind::Address: {
        const QString address = QString::number(command.newAddress, 16);
        out.reading = reading(QStringLiteral("address set to %1").arg(address),
                              QStringLiteral("address"), int(command.newAddress));
        break;
    }
    case CommandKind::Calibration:
        out.reading.text = QStringLiteral("calibration range %1 set to %2")
                               .arg(command.range)
                               .arg(offsetFactorText(command.offset, command.factor));
        out.reading.json.insert(QStringLiteral("range"), command.range);
        out.reading.json.insert(QStringLiteral("offset"), command.offset);
        out.reading.json.insert(QStringLiteral("factor"), command.factor);
        break;
    case CommandKind::Params:
        out.reading.text = QStringLiteral("parameters set to %1").arg(paramsText(command.params));
        out.reading.json = paramsJson(command.params);
        break;
    case CommandKind::FactoryReset:
        out.reading = reading(QStringLiteral("factory settings restored"),
                              QStringLiteral("factoryReset"), true);
        break;
    case CommandKind::Protocol: {
        const QString name =
            command.toOwnProtocol ? QStringLiteral("own") : QStringLiteral("modbus");
        out.reading = reading(QStringLiteral("protocol switched to %1").arg(name),
                              QStringLiteral("protocol"), name);
        break;
    }
    default:
        out.error = QStringLiteral("this command writes nothing over Modbus");
        break;
    }
    return out;
}

Interpretation interpretOwn(const CtlCommand &command, const QByteArray &reply)
{
    Interpretation out;
    const uint8_t *r = bytesOf(reply);
    switch (command.kind) {
    case CommandKind::Version:
        out.reading =
            textReading(ownVersionText(r + own::kVersionOffset), QStringLiteral("version"));
        break;
    case CommandKind::Identity:
        if (!command.write) {
            out.reading =
                textReading(identityText(r + own::kIdentityOffset), QStringLiteral("identity"));
            break;
        }
        {
            const uint8_t *sent = r + own::kIdentityOffset;
            const std::array<uint8_t, 4> confirmed = {sent[0], sent[1], sent[2], sent[3]};
            if (confirmed != command.identity) {
                out.error =
                    QStringLiteral("the sensor confirmed identity %1 instead of %2")
                        .arg(identityText(confirmed.data()), identityText(command.identity.data()));
                break;
            }
            const QString id = identityText(command.identity.data());
            out.reading = reading(QStringLiteral("identity set to %1").arg(id),
                                  QStringLiteral("identity"), id);
        }
        break;
    case CommandKind::Params: {
        const std::array<int32_t, 3> params = paramsAt(r + own::kCaliParamOffset);
        if (!command.write) {
            out.reading.text = paramsText(params);
            out.reading.json = paramsJson(params);
            break;
        }
        if (params != command.params) {
            out.error = QStringLiteral("the sensor confirmed parameters %1 instead of %2")
                            .arg(paramsText(params), paramsText(command.params));
            break;
        }
        out.reading.text = QStringLiteral("parameters set to %1").arg(paramsText(command.params));
        out.reading.json = paramsJson(command.params);
        break;
    }
    default:
        out.error = QStringLiteral("this command has no own-protocol reply");
        break;
    }
    return out;
}

} // namespace

CommandPlan planCommand(const CtlCommand &c, uint8_t slave)
{
    switch (c.kind) {
    case CommandKind::Noise:
    case CommandKind::Watch:
    case CommandKind::Verify:
        return modbusPlan(noiseQuery(slave));
    case CommandKind::Serial:
        return modbusPlan(serialNumberQuery(slave));
    case CommandKind::Version:
        if (c.ownProtocol)
            return ownQueryPlan(ownVersionQuery(), own::kVersion);
        return modbusPlan(versionQuery(slave));
    case CommandKind::Origin:
        return modbusPlan(originQuery(slave));
    case CommandKind::Address:
        if (c.write)
            return modbusPlan(setDeviceAddrRequest(c.newAddress, slave));
        return modbusPlan(deviceAddrQuery(slave));
    case CommandKind::Calibration:
        if (c.write)
            return modbusPlan(calibrateWriteRequest(c.range, c.offset, c.factor, slave));
        return modbusPlan(calibrateReadRequest(c.range, slave));
    case CommandKind::Params:
        if (c.ownProtocol && c.write)
            return {ownSetCaliParamRequest(c.params[0], c.params[1], c.params[2]),
                    ReplyFramer::own(own::kWriteCaliParam, own::kCaliParamSelector)};
        if (c.ownProtocol)
            return ownQueryPlan(ownCaliParamQuery(), own::kReadCaliParam, own::kCaliParamSelector);
        if (c.write)
            return modbusPlan(setCaliParamRequest(c.params[0], c.params[1], c.params[2], slave));
        return modbusPlan(caliParamQuery(slave));
    case CommandKind::Identity:
        if (c.write)
            return {ownSetIdentityRequest(c.identity), ReplyFramer::own(own::kSetIdentity)};
        return ownQueryPlan(ownIdentityQuery(), own::kIdentity);
    case CommandKind::FactoryReset:
        return modbusPlan(factoryConfigRequest(slave));
    case CommandKind::Protocol:
        return modbusPlan(c.toOwnProtocol ? changeToOwnProtocolRequest(slave)
                                          : changeToModbusRequest(slave));
    case CommandKind::Ports:
    case CommandKind::History:
    case CommandKind::Scan:
    case CommandKind::Commission:
    case CommandKind::Report:
        break;
    }
    return {QByteArray(), ReplyFramer::modbus(QByteArray())};
}

Interpretation interpretReply(const CtlCommand &command, const QByteArray &request,
                              const QByteArray &reply)
{
    if (command.ownProtocol)
        return interpretOwn(command, reply);
    Interpretation out;
    out.error = modbusReplyError(request, reply);
    if (!out.ok())
        return out;
    return command.write ? confirmModbusWrite(command) : readModbus(command, reply);
}
