#include "scanner.h"

#include "exitstatus.h"
#include "formats.h"
#include "frame.h"
#include "modbus.h"
#include "serialline.h"

#include <QStringList>
#include <algorithm>

namespace {

// Reads of a sensor that did answer are sent again as usual; a probe of an
// address nobody may have is not.
constexpr int kReadRetries = 2;

int msCeil(qint64 us)
{
    return int((us + 999) / 1000);
}

constexpr int kSerialReplySize = modbus::readReplySize(reads::kSerialNumber.replyByteCount());
constexpr int kVersionReplySize = modbus::readReplySize(reads::kVersion.replyByteCount());
constexpr int kAddressReplySize = modbus::readReplySize(reads::kDeviceAddr.replyByteCount());

class Scanner
{
  public:
    Scanner(SensorClient &client, const QString &port, const ScanSettings &settings,
            const ScanCallbacks &callbacks)
        : client_(client), port_(port), settings_(settings), callbacks_(callbacks)
    {
    }

    int run();

  private:
    bool openAt(qint32 baud);
    // One call, with a timeout from its reply's wire time at this baud rate.
    template <typename Call> auto ask(uint8_t slave, int replyLength, int retries, Call call)
    {
        client_.setSlave(slave);
        client_.exchange().setTimeout(scanTimeoutMs(baud_, replyLength, settings_.marginMs));
        client_.exchange().setRetries(retries);
        const auto result = call(client_);
        if (result.outcome.kind == Outcome::PortFailure)
            failure_ = result.outcome.reason;
        return result;
    }
    bool fastPath();
    bool findOwnSensor(qint32 baud, int &found);
    bool confirmLone(const FoundSensor &candidate);
    bool scanAddresses();
    bool readModbusSensor(qint32 baud, uint8_t address, const QString &serial);
    void report(const FoundSensor &sensor);
    bool seenAtOtherRate(const FoundSensor &sensor, const QVector<FoundSensor> &earlier);
    void warnOfEcho(const Outcome &outcome, const QString &where);
    void progress(int address);
    qint64 probeMs(qint32 baud) const;
    int probes() const { return settings_.addresses.second - settings_.addresses.first + 1; }

    SensorClient &client_;
    QString port_;
    const ScanSettings &settings_;
    const ScanCallbacks &callbacks_;
    qint32 baud_ = 0;
    int found_ = 0;
    qint64 msLeft_ = 0;
    QString failure_; // the port's failure, which ends the scan
    QVector<FoundSensor> reported_;
    bool echoWarned_ = false;
};

bool Scanner::openAt(qint32 baud)
{
    client_.close();
    QString reason;
    if (!client_.open(port_, baud, reason)) {
        failure_ =
            QStringLiteral("cannot open port %1 at %2 baud: %3").arg(port_).arg(baud).arg(reason);
        return false;
    }
    baud_ = baud;
    return true;
}

qint64 Scanner::probeMs(qint32 baud) const
{
    const qint64 wireUs = (modbus::kReadRequestSize + kSerialReplySize) * characterUs(baud);
    return msCeil(frameGapUs(baud) + wireUs) + settings_.marginMs;
}

void Scanner::progress(int address)
{
    if (callbacks_.progress)
        callbacks_.progress({baud_, address, found_, msLeft_});
}

// A line that ignores the baud rate (some adapters, a pseudo-terminal) lets
// one sensor answer at several rates: it is one sensor, taken at the first
// rate it answered.
bool Scanner::seenAtOtherRate(const FoundSensor &sensor, const QVector<FoundSensor> &earlier)
{
    const auto same = std::find_if(earlier.cbegin(), earlier.cend(), [&](const FoundSensor &e) {
        return e.serial == sensor.serial && e.address == sensor.address && e.baud != sensor.baud;
    });
    if (same == earlier.cend())
        return false;
    callbacks_.warn(QStringLiteral("sensor %1 answered at %2 baud as well as at %3 baud: one "
                                   "sensor on a line that ignores the baud rate, counted once")
                        .arg(sensor.serial)
                        .arg(sensor.baud)
                        .arg(same->baud));
    return true;
}

// Said once a scan: every address nobody has echoes again.
void Scanner::warnOfEcho(const Outcome &outcome, const QString &where)
{
    if (!outcome.echoOnly || echoWarned_)
        return;
    echoWarned_ = true;
    callbacks_.warn(QStringLiteral("only the request's own echo came back at %1 baud (%2): the "
                                   "adapter echoes what it sends (give --local-echo)")
                        .arg(baud_)
                        .arg(where));
}

void Scanner::report(const FoundSensor &sensor)
{
    if (seenAtOtherRate(sensor, reported_))
        return;
    reported_ << sensor;
    ++found_;
    callbacks_.found(sensor);
}

// The identity query in the own protocol at this baud rate; a sensor found
// is reported at once (it has no address to scan). False when the port
// failed.
bool Scanner::findOwnSensor(qint32 baud, int &found)
{
    const Result<uint32_t> identity =
        ask(0, kOwnFrameSize, 0, [](SensorClient &c) { return c.readOwnIdentity(); });
    if (!failure_.isEmpty())
        return false;
    warnOfEcho(identity.outcome, QStringLiteral("own protocol"));
    if (identity.outcome.kind == Outcome::BadReply && !identity.outcome.echoOnly)
        callbacks_.warn(QStringLiteral("a damaged own-protocol reply at %1 baud: several "
                                       "sensors in their own protocol answer at once, or "
                                       "the line is noisy; switch all but one to Modbus")
                            .arg(baud));
    if (!identity.ok())
        return true;
    FoundSensor sensor;
    sensor.baud = baud;
    sensor.serial = identityText(identity.value);
    const Result<FirmwareVersion> version =
        ask(0, kOwnFrameSize, kReadRetries, [](SensorClient &c) { return c.readOwnVersion(); });
    if (version.ok())
        sensor.version = firmwareVersionText(version.value);
    if (!failure_.isEmpty())
        return false;
    if (seenAtOtherRate(sensor, reported_))
        return true;
    ++found;
    report(sensor);
    return true;
}

// The query to address 0 at each baud rate, and the identity query in the
// own protocol. Returns true when the scan is over: a lone sensor was found
// and read, or the port failed.
bool Scanner::fastPath()
{
    QVector<FoundSensor> modbusSensors;
    bool garbled = false;
    int ownFound = 0;
    for (const qint32 baud : settings_.bauds) {
        if (!openAt(baud))
            return true;
        progress(0);
        const Result<uint32_t> serial =
            ask(modbus::kToolSlaveAddress, kSerialReplySize, /*retries=*/0,
                [](SensorClient &c) { return c.readSerialNumber(); });
        if (!failure_.isEmpty())
            return true;
        warnOfEcho(serial.outcome, QStringLiteral("address 0"));
        // Replies of several sensors collide: that is not a sensor.
        garbled = garbled || (serial.outcome.kind == Outcome::BadReply && !serial.outcome.echoOnly);
        if (serial.ok()) {
            FoundSensor sensor;
            sensor.baud = baud;
            sensor.address = serial.outcome.replyAddress;
            sensor.serial = identityText(serial.value);
            if (!seenAtOtherRate(sensor, modbusSensors))
                modbusSensors << sensor;
        }
        if (settings_.ownProtocol && !findOwnSensor(baud, ownFound))
            return true;
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
        const Result<uint8_t> own = ask(modbus::kToolSlaveAddress, kAddressReplySize, kReadRetries,
                                        [](SensorClient &c) { return c.readAddress(); });
        // Sensors with the same reply to the first query collide on this
        // one: then every address is asked.
        if (!own.ok())
            return !failure_.isEmpty();
        address = own.value;
    }
    readModbusSensor(candidate.baud, uint8_t(address), candidate.serial);
    return true;
}

bool Scanner::readModbusSensor(qint32 baud, uint8_t address, const QString &serial)
{
    const Result<FirmwareVersion> version = ask(address, kVersionReplySize, kReadRetries,
                                                [](SensorClient &c) { return c.readVersion(); });
    if (!version.ok()) {
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
    sensor.serial = serial;
    sensor.version = firmwareVersionText(version.value);
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
        const qint32 baud = settings_.bauds[i];
        if (!openAt(baud))
            return false;
        for (int address = settings_.addresses.first; address <= settings_.addresses.second;
             ++address) {
            progress(address);
            const Result<uint32_t> serial =
                ask(uint8_t(address), kSerialReplySize, 0,
                    [](SensorClient &c) { return c.readSerialNumber(); });
            msLeft_ = qMax<qint64>(0, msLeft_ - probeMs(baud));
            if (!failure_.isEmpty())
                return false;
            warnOfEcho(serial.outcome, QStringLiteral("address %1").arg(address, 0, 16));
            if (serial.outcome.kind == Outcome::BadReply && !serial.outcome.echoOnly)
                callbacks_.warn(QStringLiteral("a damaged reply at %1 baud from address %2: two "
                                               "sensors with the same address, or a noisy line")
                                    .arg(baud)
                                    .arg(address, 0, 16));
            if (serial.ok() && serial.outcome.replyAddress == address)
                readModbusSensor(baud, uint8_t(address), identityText(serial.value));
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
    client_.close();
    if (!failure_.isEmpty()) {
        callbacks_.warn(failure_);
        return kExitPort;
    }
    if (found_ > 0)
        return kExitSuccess;
    QStringList bauds;
    for (const qint32 baud : settings_.bauds)
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

int scanTimeoutMs(qint32 baud, int replyLength, int marginMs)
{
    return msCeil(replyLength * characterUs(baud)) + marginMs;
}

int runScan(SensorClient &client, const QString &port, const ScanSettings &settings,
            const ScanCallbacks &callbacks)
{
    return Scanner(client, port, settings, callbacks).run();
}
