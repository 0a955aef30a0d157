#include "scan.h"

#include "ctloutput.h"
#include "frame.h"
#include "modbus.h"
#include "sensorcommands.h"
#include "serialline.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <cstdio>
#include <unistd.h>

namespace {

// Reads of a sensor that did answer are sent again as usual; a probe of an
// address nobody may have is not.
constexpr int kReadRetries = 2;

int msCeil(qint64 us)
{
    return int((us + 999) / 1000);
}

CommandPlan planRead(CommandKind kind, bool ownProtocol, uint8_t slave)
{
    CtlCommand command;
    command.kind = kind;
    command.ownProtocol = ownProtocol;
    return planCommand(command, slave);
}

int replyLengthOf(const CommandPlan &plan)
{
    return isOwnFrameAt(plan.request, 0) ? kOwnFrameSize
                                         : ReplyFramer::expectedModbusLength(plan.request);
}

class Scanner
{
  public:
    Scanner(SerialExchange &exchange, const QString &port, const ScanSettings &settings,
            const ScanCallbacks &callbacks)
        : exchange_(exchange), port_(port), settings_(settings), callbacks_(callbacks)
    {
    }

    int run();

  private:
    struct Answer {
        ExchangeResult::Outcome outcome = ExchangeResult::NoReply;
        QJsonObject json; // what the reply says, when it answered
        QByteArray reply;
    };

    bool openAt(int32_t baud);
    Answer ask(CommandKind kind, bool ownProtocol, uint8_t slave, int retries);
    bool fastPath();
    bool confirmLone(const FoundSensor &candidate);
    bool scanAddresses();
    bool readModbusSensor(int32_t baud, uint8_t address, const QJsonObject &serial);
    void report(const FoundSensor &sensor);
    void progress(int address);
    qint64 probeMs(int32_t baud) const;
    int probes() const { return settings_.addresses.second - settings_.addresses.first + 1; }

    SerialExchange &exchange_;
    QString port_;
    const ScanSettings &settings_;
    const ScanCallbacks &callbacks_;
    int32_t baud_ = 0;
    int found_ = 0;
    qint64 msLeft_ = 0;
    QString failure_; // the port's failure, which ends the scan
};

bool Scanner::openAt(int32_t baud)
{
    exchange_.close();
    QString reason;
    if (!exchange_.open(port_, baud, reason)) {
        failure_ =
            QStringLiteral("cannot open port %1 at %2 baud: %3").arg(port_).arg(baud).arg(reason);
        return false;
    }
    baud_ = baud;
    return true;
}

// One request, with a timeout from its wire time at this baud rate.
Scanner::Answer Scanner::ask(CommandKind kind, bool ownProtocol, uint8_t slave, int retries)
{
    const CommandPlan plan = planRead(kind, ownProtocol, slave);
    exchange_.setTimeout(scanTimeoutMs(baud_, replyLengthOf(plan), settings_.marginMs));
    exchange_.setRetries(retries);
    const ExchangeResult result = exchange_.transact(plan.request, plan.framer);
    Answer answer;
    answer.outcome = result.outcome;
    if (result.outcome == ExchangeResult::PortFailure)
        failure_ = result.message;
    if (result.outcome != ExchangeResult::Replied)
        return answer;
    CtlCommand command;
    command.kind = kind;
    command.ownProtocol = ownProtocol;
    const Interpretation interpretation = interpretReply(command, plan.request, result.reply);
    if (!interpretation.ok()) {
        answer.outcome = ExchangeResult::BadReply;
        return answer;
    }
    answer.json = interpretation.reading.json;
    answer.reply = result.reply;
    return answer;
}

qint64 Scanner::probeMs(int32_t baud) const
{
    const CommandPlan plan = planRead(CommandKind::Serial, false, settings_.addresses.first);
    const qint64 wireUs = (plan.request.size() + replyLengthOf(plan)) * characterUs(baud);
    return msCeil(frameGapUs(baud) + wireUs) + settings_.marginMs;
}

void Scanner::progress(int address)
{
    if (callbacks_.progress)
        callbacks_.progress({baud_, address, found_, msLeft_});
}

void Scanner::report(const FoundSensor &sensor)
{
    ++found_;
    callbacks_.found(sensor);
}

// The query to address 0 at each baud rate, and the identity query in the
// own protocol. Sensors in their own protocol are reported here: they have
// no address to scan. Returns true when the scan is over: a lone sensor was
// found and read, or the port failed.
bool Scanner::fastPath()
{
    QVector<FoundSensor> modbusSensors;
    bool garbled = false;
    int ownFound = 0;
    for (const int32_t baud : settings_.bauds) {
        if (!openAt(baud))
            return true;
        progress(0);
        const Answer answer =
            ask(CommandKind::Serial, false, modbus::kToolSlaveAddress, /*retries=*/0);
        if (!failure_.isEmpty())
            return true;
        // Replies of several sensors collide: that is not a sensor.
        garbled = garbled || answer.outcome == ExchangeResult::BadReply;
        if (answer.outcome == ExchangeResult::Replied) {
            FoundSensor sensor;
            sensor.baud = baud;
            sensor.address = uint8_t(answer.reply[modbus::kSlaveOffset]);
            sensor.serial = answer.json.value(QStringLiteral("serial")).toString();
            modbusSensors << sensor;
        }
        if (!settings_.ownProtocol)
            continue;
        const Answer identity = ask(CommandKind::Identity, true, 0, /*retries=*/0);
        if (!failure_.isEmpty())
            return true;
        if (identity.outcome == ExchangeResult::BadReply)
            callbacks_.warn(QStringLiteral("a damaged own-protocol reply at %1 baud: several "
                                           "sensors in their own protocol answer at once, or "
                                           "the line is noisy; switch all but one to Modbus")
                                .arg(baud));
        if (identity.outcome != ExchangeResult::Replied)
            continue;
        FoundSensor sensor;
        sensor.baud = baud;
        sensor.serial = identity.json.value(QStringLiteral("identity")).toString();
        const Answer version = ask(CommandKind::Version, true, 0, kReadRetries);
        sensor.version = version.json.value(QStringLiteral("version")).toString();
        if (!failure_.isEmpty())
            return true;
        ++ownFound;
        report(sensor);
    }
    const bool lone = !garbled && modbusSensors.size() + ownFound == 1;
    if (!lone || settings_.all)
        return false;
    return modbusSensors.isEmpty() || confirmLone(modbusSensors.front());
}

// A lone sensor that answered address 0: its own address (when it answered
// from 0) and version, read at that address. False when it turns out not to
// be alone.
bool Scanner::confirmLone(const FoundSensor &candidate)
{
    if (!openAt(candidate.baud))
        return true;
    int address = candidate.address;
    if (address == modbus::kToolSlaveAddress) {
        const Answer own =
            ask(CommandKind::Address, false, modbus::kToolSlaveAddress, kReadRetries);
        // Sensors with the same reply to the first query collide on this
        // one: then every address is asked.
        if (own.outcome != ExchangeResult::Replied)
            return !failure_.isEmpty();
        address = own.json.value(QStringLiteral("address")).toInt();
    }
    QJsonObject serial;
    serial.insert(QStringLiteral("serial"), candidate.serial);
    readModbusSensor(candidate.baud, uint8_t(address), serial);
    return true;
}

bool Scanner::readModbusSensor(int32_t baud, uint8_t address, const QJsonObject &serial)
{
    const Answer version = ask(CommandKind::Version, false, address, kReadRetries);
    if (version.outcome != ExchangeResult::Replied) {
        if (failure_.isEmpty())
            callbacks_.warn(QStringLiteral("the sensor at %1 baud, address %2 gave its serial "
                                           "number but not its version")
                                .arg(baud)
                                .arg(address, 0, 16));
        return false;
    }
    FoundSensor sensor;
    sensor.baud = baud;
    sensor.address = address;
    sensor.serial = serial.value(QStringLiteral("serial")).toString();
    sensor.version = version.json.value(QStringLiteral("version")).toString();
    report(sensor);
    return true;
}

// Each address in turn at each baud rate; false when the port failed.
bool Scanner::scanAddresses()
{
    for (int i = 0; i < settings_.bauds.size(); ++i) {
        msLeft_ = 0;
        for (int j = i; j < settings_.bauds.size(); ++j)
            msLeft_ += probes() * probeMs(settings_.bauds[j]);
        const int32_t baud = settings_.bauds[i];
        if (!openAt(baud))
            return false;
        for (int address = settings_.addresses.first; address <= settings_.addresses.second;
             ++address) {
            progress(address);
            const Answer answer = ask(CommandKind::Serial, false, uint8_t(address), 0);
            msLeft_ = qMax<qint64>(0, msLeft_ - probeMs(baud));
            if (!failure_.isEmpty())
                return false;
            if (answer.outcome == ExchangeResult::BadReply)
                callbacks_.warn(QStringLiteral("a damaged reply at %1 baud from address %2: two "
                                               "sensors with the same address, or a noisy line")
                                    .arg(baud)
                                    .arg(address, 0, 16));
            if (answer.outcome == ExchangeResult::Replied &&
                uint8_t(answer.reply[modbus::kSlaveOffset]) == address)
                readModbusSensor(baud, uint8_t(address), answer.json);
            if (!failure_.isEmpty())
                return false;
        }
    }
    return true;
}

int Scanner::run()
{
    const bool over = fastPath();
    if (!over)
        scanAddresses();
    exchange_.close();
    if (!failure_.isEmpty()) {
        callbacks_.warn(failure_);
        return kExitPort;
    }
    if (found_ > 0)
        return kExitSuccess;
    QStringList bauds;
    for (const int32_t baud : settings_.bauds)
        bauds << QString::number(baud);
    callbacks_.warn(
        QStringLiteral("no sensor answered at %1 baud (addresses %2 to %3%4); check "
                       "the port and the wiring%5")
            .arg(bauds.join(QStringLiteral(", ")))
            .arg(settings_.addresses.first, 0, 16)
            .arg(settings_.addresses.second, 0, 16)
            .arg(settings_.ownProtocol ? QStringLiteral(" and the own protocol") : QString())
            .arg(settings_.ownProtocol ? QString() : QStringLiteral(", or add --own-protocol")));
    return kExitNoReply;
}

} // namespace

int scanTimeoutMs(int32_t baud, int replyLength, int marginMs)
{
    return msCeil(replyLength * characterUs(baud)) + marginMs;
}

QString foundLine(const FoundSensor &sensor, bool json)
{
    const QString address =
        sensor.ownProtocol() ? QStringLiteral("-") : QString::number(sensor.address, 16);
    const QString protocol =
        sensor.ownProtocol() ? QStringLiteral("own") : QStringLiteral("modbus");
    if (!json)
        return QStringLiteral("%1 %2 %3 %4 %5")
            .arg(sensor.baud)
            .arg(address, protocol, sensor.serial, sensor.version);
    QJsonObject object;
    object.insert(QStringLiteral("baud"), sensor.baud);
    object.insert(QStringLiteral("address"),
                  sensor.ownProtocol() ? QJsonValue() : QJsonValue(address));
    object.insert(QStringLiteral("protocol"), protocol);
    object.insert(QStringLiteral("serial"), sensor.serial);
    object.insert(QStringLiteral("version"), sensor.version);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

int runScan(SerialExchange &exchange, const QString &port, const ScanSettings &settings,
            const ScanCallbacks &callbacks)
{
    return Scanner(exchange, port, settings, callbacks).run();
}

namespace {

// One line on a terminal, rewritten in place; cleared before anything else
// is written there.
class ProgressLine
{
  public:
    ProgressLine() : shown_(::isatty(STDERR_FILENO) == 1) {}
    void show(const ScanProgress &at)
    {
        if (!shown_)
            return;
        const QString where = at.address == 0 ? QStringLiteral("address 0")
                                              : QStringLiteral("address %1").arg(at.address, 0, 16);
        const QString left = at.msLeft > 0
                                 ? QStringLiteral(", about %1 s left").arg((at.msLeft + 999) / 1000)
                                 : QString();
        write(QStringLiteral("\rscan: %1 baud, %2, %3 found%4\033[K")
                  .arg(at.baud)
                  .arg(where)
                  .arg(at.found)
                  .arg(left));
    }
    void clear()
    {
        if (shown_)
            write(QStringLiteral("\r\033[K"));
    }

  private:
    static void write(const QString &text)
    {
        const QByteArray bytes = text.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
    bool shown_;
};

} // namespace

int runScanCommand(SerialExchange &exchange, const QString &port, const ScanSettings &settings,
                   bool json, const std::function<void(const QString &)> &emitLine,
                   const std::function<void(const QString &)> &emitError)
{
    ProgressLine progress;
    ScanCallbacks callbacks;
    callbacks.found = [&](const FoundSensor &sensor) {
        progress.clear();
        emitLine(foundLine(sensor, json));
    };
    callbacks.warn = [&](const QString &message) {
        progress.clear();
        emitError(message);
    };
    callbacks.progress = [&](const ScanProgress &at) { progress.show(at); };
    const int status = runScan(exchange, port, settings, callbacks);
    progress.clear();
    return status;
}
