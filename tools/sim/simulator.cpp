#include "simulator.h"

#include "formats.h"
#include "frame.h"
#include "framelog.h"
#include "line.h"
#include "serialline.h"

namespace {

// Modbus ends a frame after 3.5 character times of silence. A pty delivers
// a frame at once whatever the baud rate, and a scheduler may stall a
// writer for some milliseconds, so the gap is never taken below 20 ms.
int frameGapMs(int baud)
{
    return int(qMax<qint64>(20, (frameGapUs(baud) + 999) / 1000));
}

} // namespace

Simulator::Simulator(Line *line, const SimOptions &options, QObject *parent)
    : QObject(parent), line_(line), bus_(!options.bus.isEmpty()),
      sender_(line, options.realism, options.seed ^ 0x9E3779B9u)
{
    if (!bus_)
        sensors_.push_back(
            {SensorModel(options.config, options.noiseTenths, options.driftTenths, options.seed),
             options.realism.baud});
    for (int i = 0; i < options.bus.size(); ++i) {
        const BusSensor &sensor = options.bus[i];
        sensors_.push_back({SensorModel(sensor.config, options.noiseTenths, options.driftTenths,
                                        options.seed + uint32_t(i)),
                            sensor.baud});
    }
    connect(line, &Line::received, this, &Simulator::onReceived);
    connect(&sender_, &ReplySender::replied, this, &Simulator::replied);
    connect(&sender_, &ReplySender::finished, this, &Simulator::replyFinished);
    idleTimer_.setSingleShot(true);
    idleTimer_.setInterval(frameGapMs(options.realism.baud));
    connect(&idleTimer_, &QTimer::timeout, this, &Simulator::onLineIdle);
    if (options.reportEveryMs > 0) {
        connect(&reportTimer_, &QTimer::timeout, this, [this] {
            if (first().config().ownProtocol)
                sendReport();
        });
        reportTimer_.start(options.reportEveryMs);
    }
}

void Simulator::onReceived(const QByteArray &bytes)
{
    respond(parser_.feed(bytes));
    if (parser_.buffered() > 0)
        idleTimer_.start();
    else
        idleTimer_.stop();
}

void Simulator::onLineIdle()
{
    respond(parser_.lineIdle());
}

void Simulator::respond(const QVector<Request> &requests)
{
    const QByteArray dropped = parser_.takeDropped();
    if (!dropped.isEmpty())
        framelog::frame("RX", dropped, QStringLiteral("ignored: no valid frame"));
    for (const Request &request : requests)
        answer(request);
}

// Every sensor that hears the request answers it. A sensor hears only what
// is sent at its own baud rate (as far as this end of the line can tell),
// and replies sent at once collide.
void Simulator::answer(const Request &request)
{
    const int lineBaud = line_->lineBaud();
    QVector<QByteArray> replies;
    QString note;
    int replyBaud = 0;
    for (Member &sensor : sensors_) {
        if (lineBaud != 0 && sensor.baud != lineBaud) {
            note = QStringLiteral("no sensor listens at %1 baud").arg(lineBaud);
            continue;
        }
        const SensorModel::Answer given = sensor.model.handle(request);
        note = given.note;
        if (given.reply.isEmpty())
            continue;
        replies << given.reply;
        replyBaud = sensor.baud;
    }
    emit requestTaken(request, !replies.isEmpty());
    if (replies.isEmpty()) {
        framelog::frame("RX", request.bytes, QStringLiteral("ignored: ") + note);
        return;
    }
    framelog::frame("RX", request.bytes);
    if (bus_)
        sender_.setBaud(replyBaud);
    if (replies.size() == 1) {
        sender_.sendReply(replies.front(), request.kind, note);
        return;
    }
    // What two drivers on one pair make of their bits is undefined; the
    // byte-wise OR stands for it, and damages any two replies that differ.
    QByteArray collided;
    for (const QByteArray &reply : replies) {
        collided.resize(qMax(collided.size(), reply.size()));
        for (int i = 0; i < reply.size(); ++i)
            collided[i] = char(uint8_t(collided[i]) | uint8_t(reply[i]));
    }
    sender_.sendReply(collided, request.kind,
                      QStringLiteral("%1 replies collided").arg(replies.size()));
}

void Simulator::sendReport()
{
    sender_.sendUnsolicited(first().reportFrame(), QStringLiteral("report"));
}

QString Simulator::command(const QString &line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QString();
    const QString name = words[0].toLower();
    if (name == QLatin1String("report") && words.size() == 1) {
        sendReport();
    } else if (name == QLatin1String("factory-done") && words.size() == 1) {
        sender_.sendUnsolicited(first().factoryDoneFrame(), QStringLiteral("factory reset done"));
    } else if (name == QLatin1String("calibration") && words.size() == 1) {
        sender_.sendUnsolicited(first().calibrationFrame(),
                                QStringLiteral("calibration of range 0"));
    } else if (name == QLatin1String("calibrate-done") && words.size() == 1) {
        sender_.sendUnsolicited(first().calibrateDoneFrame(), QStringLiteral("calibration done"));
    } else if (name == QLatin1String("noise") && words.size() == 2) {
        int tenths = 0;
        if (!parseDecibels(words[1], tenths))
            return QStringLiteral("noise: \"%1\" is not a level from 0 to 6553.5 dB").arg(words[1]);
        first().setNoiseLevel(tenths);
        return QStringLiteral("noise level %1 dB").arg(realText(tenths / 10.0));
    } else if (name == QLatin1String("state") && words.size() == 1) {
        return stateText();
    } else if (name == QLatin1String("quit") && words.size() == 1) {
        emit quitRequested();
    } else if (name == QLatin1String("help")) {
        return QStringLiteral("commands: report, factory-done, calibration, calibrate-done, "
                              "noise DB, state, quit");
    } else {
        return QStringLiteral("unknown command \"%1\" (try help)").arg(line.simplified());
    }
    return QString();
}

QString Simulator::stateText() const
{
    const SensorConfig &config = model().config();
    QStringList ranges;
    for (int range = 0; range < 3; ++range) {
        const uint16_t offset = config.calibration[size_t(2 * range)];
        ranges << QStringLiteral("%1 x%2")
                      .arg(calibrationOffset(uint8_t(offset >> 8), uint8_t(offset)))
                      .arg(config.calibration[size_t(2 * range + 1)] & 0xFF);
    }
    return QStringLiteral("address %1, %2 selected, serial number %3, firmware %4, "
                          "parameters A %5 B %6 C %7, calibration of ranges 0-2: %8, "
                          "noise level %9 dB, drift %10 dB")
               .arg(int(config.address), 0, 16)
               .arg(config.ownProtocol ? QStringLiteral("own protocol") : QStringLiteral("Modbus"))
               .arg(identityText(config.serialNumber))
               .arg(firmwareVersionText(config.version))
               .arg(realText(config.caliParams[0] / 100.0))
               .arg(realText(config.caliParams[1] / 100.0))
               .arg(realText(config.caliParams[2] / 100.0))
               .arg(ranges.join(QStringLiteral(", ")))
               .arg(realText(model().noiseLevel() / 10.0))
               .arg(realText(model().noiseDrift() / 10.0)) +
           busText();
}

QString Simulator::busText() const
{
    if (!bus_)
        return QString();
    QStringList members;
    for (const Member &sensor : sensors_) {
        const SensorConfig &config = sensor.model.config();
        members << QStringLiteral("%1 at %2 baud (%3, %4)")
                       .arg(int(config.address), 0, 16)
                       .arg(sensor.baud)
                       .arg(identityText(config.serialNumber))
                       .arg(config.ownProtocol ? QStringLiteral("own protocol")
                                               : QStringLiteral("Modbus"));
    }
    return QStringLiteral("; bus of %1 sensors: %2")
        .arg(sensors_.size())
        .arg(members.join(QStringLiteral(", ")));
}
