#include "sensorcommands.h"

#include "commands.h"
#include "decoder.h"
#include "frame.h"
#include "modbus.h"
#include "sensor.h"

#include <QJsonValue>

namespace {

const uint8_t *bytesOf(const QByteArray &frame)
{
    return reinterpret_cast<const uint8_t *>(frame.constData());
}

QByteArray readHolding(uint8_t slave, uint16_t first, uint16_t count)
{
    return modbus::readRequest(slave, modbus::kReadHolding, first, count);
}

CommandPlan modbusPlan(const QByteArray &request)
{
    return {request, ReplyFramer::modbus(request)};
}

QString offsetFactorText(int offset, int factor)
{
    return QStringLiteral("%1 %2").arg(offset).arg(factor);
}

QString paramsText(const std::array<int32_t, 3> &params)
{
    return QStringLiteral("%1 %2 %3")
        .arg(hundredthsText(params[0]), hundredthsText(params[1]), hundredthsText(params[2]));
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
QString modbusReplyError(const QByteArray &request, const QByteArray &reply)
{
    const uint8_t *r = bytesOf(reply);
    if (r[1] & modbus::kExceptionBit)
        return QStringLiteral("the sensor refused the request: %1 (exception code %2)")
            .arg(QLatin1String(modbus::exceptionText(r[2])))
            .arg(r[2]);
    switch (uint8_t(request[1])) {
    case modbus::kReadHolding:
    case modbus::kReadInput: {
        const int expected = 2 * bigEndian16(bytesOf(request) + 4);
        if (r[2] != expected)
            return QStringLiteral("the reply carries %1 data bytes instead of %2")
                .arg(r[2])
                .arg(expected);
        return QString();
    }
    default:
        if (reply.left(6) != request.left(6))
            return QStringLiteral("the sensor's echo (%1) does not match the request (%2)")
                .arg(toHexText(reply).trimmed(), toHexText(request).trimmed());
        return QString();
    }
}

Interpretation readModbus(const CtlCommand &command, const QByteArray &reply)
{
    Interpretation out;
    const uint8_t *r = bytesOf(reply);
    switch (command.kind) {
    case CommandKind::Noise:
    case CommandKind::Watch: {
        const double noise = bigEndian16(r + 3) / 10.0;
        out.reading = reading(realText(noise), QStringLiteral("noise"), noise);
        break;
    }
    case CommandKind::Serial:
        out.reading = textReading(decodedFieldText(reply, &PendingReplies::waitSN, Field::DeviceId),
                                  QStringLiteral("serial"));
        break;
    case CommandKind::Version:
        out.reading =
            textReading(decodedFieldText(reply, &PendingReplies::waitVersion, Field::SoftId),
                        QStringLiteral("version"));
        break;
    case CommandKind::Origin: {
        const uint32_t origin = bigEndian32(r + 3);
        const double noise = bigEndian16(r + 7) / 10.0;
        out.reading.text = QStringLiteral("%1 %2").arg(origin).arg(realText(noise));
        out.reading.json.insert(QStringLiteral("origin"), double(origin));
        out.reading.json.insert(QStringLiteral("noise"), noise);
        break;
    }
    case CommandKind::Address:
        out.reading =
            reading(decodedFieldText(reply, &PendingReplies::waitDeviceAddr, Field::DeviceAddr),
                    QStringLiteral("address"), int(r[4]));
        break;
    case CommandKind::Calibration: {
        const QString offset =
            decodedFieldText(reply, &PendingReplies::waitCalibrate, Field::CalibrZero);
        const QString factor =
            decodedFieldText(reply, &PendingReplies::waitCalibrate, Field::CalibrateFactor);
        out.reading.text = offset + QLatin1Char(' ') + factor;
        out.reading.json.insert(QStringLiteral("range"), command.range);
        out.reading.json.insert(QStringLiteral("offset"), offset.toInt());
        out.reading.json.insert(QStringLiteral("factor"), factor.toInt());
        break;
    }
    case CommandKind::Params: {
        const std::array<int32_t, 3> params = paramsAt(r + 3);
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
            textReading(decodedFieldText(reply, nullptr, Field::SoftId), QStringLiteral("version"));
        break;
    case CommandKind::Identity:
        if (!command.write) {
            out.reading = textReading(decodedFieldText(reply, nullptr, Field::DeviceId),
                                      QStringLiteral("identity"));
            break;
        }
        {
            const std::array<uint8_t, 4> confirmed = {r[8], r[9], r[10], r[11]};
            if (confirmed != command.identity) {
                out.error = QStringLiteral("the sensor confirmed identity %1 instead of %2")
                                .arg(identityText(confirmed.data()), identityText(command.identity.data()));
                break;
            }
            const QString id = identityText(command.identity.data());
            out.reading = reading(QStringLiteral("identity set to %1").arg(id),
                                  QStringLiteral("identity"), id);
        }
        break;
    case CommandKind::Params: {
        const std::array<int32_t, 3> params = paramsAt(r + 3);
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

QString hundredthsText(int32_t hundredths)
{
    const int64_t value = hundredths;
    const int64_t magnitude = value < 0 ? -value : value;
    QString text = QString::number(magnitude / 100);
    const int cents = int(magnitude % 100);
    if (cents != 0) {
        text += QLatin1Char('.') + QString::number(cents / 10);
        if (cents % 10 != 0)
            text += QString::number(cents % 10);
    }
    return value < 0 ? QLatin1Char('-') + text : text;
}

QString decodedFieldText(const QByteArray &reply, int PendingReplies::*flag, Field field)
{
    PendingReplies flags;
    if (flag)
        flags.*flag = 1;
    QString text;
    for (const ReplyAction &action : decodeTick(reply, flags, 0)) {
        if (action.kind == ReplyAction::SetField && action.field == field)
            text = action.text;
    }
    return text;
}

CommandPlan planCommand(const CtlCommand &c, uint8_t slave)
{
    switch (c.kind) {
    case CommandKind::Noise:
    case CommandKind::Watch:
        return modbusPlan(modbus::readRequest(slave, modbus::kReadInput, reg::kNoise, 1));
    case CommandKind::Serial:
        return modbusPlan(readHolding(slave, reg::kSerialNumber, 2));
    case CommandKind::Version:
        if (c.ownProtocol)
            return {ownVersionQuery(), ReplyFramer::own(own::kVersion)};
        return modbusPlan(readHolding(slave, reg::kVersion, 1));
    case CommandKind::Origin:
        return modbusPlan(readHolding(slave, reg::kOrigin, 3));
    case CommandKind::Address:
        if (c.write)
            return modbusPlan(modbus::writeSingleRequest(slave, reg::kDeviceAddr, c.newAddress));
        return modbusPlan(readHolding(slave, reg::kDeviceAddr, 1));
    case CommandKind::Calibration:
        if (c.write)
            return modbusPlan(modbus::writeMultipleRequest(
                slave, calibrateRegister(c.range), calibrationRegisters(c.offset, c.factor)));
        return modbusPlan(readHolding(slave, calibrateRegister(c.range), 2));
    case CommandKind::Params:
        if (c.ownProtocol && c.write)
            return {ownSetCaliParamRequest(c.params[0], c.params[1], c.params[2]),
                    ReplyFramer::own(own::kWriteCaliParam, own::kCaliParamSelector)};
        if (c.ownProtocol)
            return {ownCaliParamQuery(),
                    ReplyFramer::own(own::kReadCaliParam, own::kCaliParamSelector)};
        if (c.write)
            return modbusPlan(modbus::writeMultipleRequest(slave, reg::kCaliParam,
                                                           caliParamRegisters(c.params[0], c.params[1], c.params[2])));
        return modbusPlan(readHolding(slave, reg::kCaliParam, 6));
    case CommandKind::Identity:
        if (c.write)
            return {ownSetIdentityRequest(c.identity), ReplyFramer::own(own::kSetIdentity)};
        return {ownIdentityQuery(), ReplyFramer::own(own::kIdentity)};
    case CommandKind::FactoryReset:
        return modbusPlan(
            modbus::writeSingleRequest(slave, reg::kFactoryReset, reg::kFactoryResetValue));
    case CommandKind::Protocol:
        return modbusPlan(modbus::writeSingleRequest(slave, reg::kProtocolSelect,
                                                     c.toOwnProtocol ? reg::kSelectOwnProtocol
                                                                     : reg::kSelectModbus));
    case CommandKind::Ports:
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
