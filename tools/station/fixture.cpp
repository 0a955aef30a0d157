#include "fixture.h"

#include "commissionsensor.h"
#include "noisestatistics.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

namespace {

// A verification's progress as its readings come in: time, count and the
// running Leq, handed on at most every Fixture::kProgressIntervalMs.
class ProgressMeter
{
  public:
    ProgressMeter(int durationMs, std::function<void(const VerifyProgress &)> report)
        : report_(std::move(report))
    {
        progress_.durationMs = durationMs;
    }

    void take(const TimedReading &reading)
    {
        levels_ << reading.sample.level;
        progress_.readings = levels_.size();
        progress_.elapsedMs = int(reading.sample.seconds * 1000.0);
        if (sinceReport_.isValid() && sinceReport_.elapsed() < Fixture::kProgressIntervalMs)
            return;
        sinceReport_.start();
        progress_.leq = energyMean(levels_);
        report_(progress_);
    }

  private:
    std::function<void(const VerifyProgress &)> report_;
    VerifyProgress progress_;
    QVector<double> levels_;
    QElapsedTimer sinceReport_;
};

} // namespace

Fixture::Fixture(int index, const QString &port, const FixtureSettings &settings,
                 const CommissioningProfile &profile, const TransportFactory &makeTransport,
                 FixtureSink sink, const std::atomic<bool> &stop)
    : index_(index), port_(port), settings_(settings), profile_(profile), sink_(std::move(sink)),
      stop_(stop), transport_(makeTransport()), client_(*transport_)
{
}

void Fixture::run()
{
    while (!stop_.load()) {
        if (!waitForSensor())
            break;
        bool sensorLost = false;
        commissionOne(sensorLost);
        if (settings_.once)
            break;
        if (!sensorLost)
            waitForRemoval();
    }
    emitEvent(FixtureEvent::Done, QString());
}

// Quietly probes until a sensor answers. An unplugged fixture is opened
// again every probe interval; with `once` a port that cannot be opened ends
// the fixture instead.
bool Fixture::waitForSensor()
{
    emitStatus(RunStep::WaitingForSensor, QStringLiteral("waiting for a sensor"));
    bool reported = false;
    while (!stop_.load()) {
        QElapsedTimer clock;
        clock.start();
        if (!portOpen_) {
            QString error;
            portOpen_ = client_.open(port_, settings_.baud, error);
            // Said once, not every probe interval.
            if (!portOpen_ && !reported)
                emitEvent(FixtureEvent::Problem,
                          QStringLiteral("cannot open port %1: %2").arg(port_, error));
            if (!portOpen_ && settings_.once)
                return false;
            if (portOpen_ && reported)
                emitStatus(RunStep::WaitingForSensor, QStringLiteral("waiting for a sensor"));
            reported = !portOpen_;
        }
        if (portOpen_ && probe() == Probe::Answered)
            return true;
        if (!pause(int(std::max<qint64>(0, kProbeIntervalMs - clock.elapsed()))))
            return false;
    }
    return false;
}

void Fixture::commissionOne(bool &sensorLost)
{
    client_.exchange().setTimeout(settings_.timeoutMs);
    client_.exchange().setRetries(settings_.retries);
    RunRecord record = newRunRecord();
    record.port = port_;
    record.baud = settings_.baud;
    record.operatorName = settings_.operatorName;
    QElapsedTimer clock;
    clock.start();
    const int verifyMs = profile_.verification ? profile_.verification->durationSeconds * 1000 : 0;
    ProgressMeter meter(verifyMs, [this](const VerifyProgress &progress) {
        FixtureEvent event;
        event.fixture = index_;
        event.kind = FixtureEvent::Progress;
        event.step = RunStep::Verifying;
        event.progress = progress;
        sink_(event);
    });
    SensorRunProgress progress;
    progress.onStep = [this, &record](RunStep step, const QString &text) {
        emitStatus(step, text, record.serialNumber);
    };
    progress.onReading = [&meter](const TimedReading &reading) { meter.take(reading); };
    const SensorRunOutcome outcome = commissionSensor(client_, profile_, record, progress);
    record.durationMs = clock.elapsed();
    sensorLost = outcome.sensorLost;
    if (sensorLost) {
        // Start afresh: a fixture unplugged with its sensor is opened again.
        client_.close();
        portOpen_ = false;
    }
    FixtureEvent event;
    event.fixture = index_;
    event.kind = FixtureEvent::Finished;
    event.record = record;
    event.sensorLost = sensorLost;
    sink_(event);
}

void Fixture::waitForRemoval()
{
    emitStatus(RunStep::RemoveSensor, QStringLiteral("remove the sensor"));
    QElapsedTimer sinceAnswer;
    sinceAnswer.start();
    while (!stop_.load() && sinceAnswer.elapsed() < kRemovalMs) {
        QElapsedTimer clock;
        clock.start();
        const Probe answer = probe();
        if (answer == Probe::PortLost)
            return;
        if (answer == Probe::Answered)
            sinceAnswer.restart();
        if (!pause(int(std::max<qint64>(0, kProbeIntervalMs - clock.elapsed()))))
            return;
    }
}

Fixture::Probe Fixture::probe()
{
    client_.exchange().setTimeout(kProbeTimeoutMs);
    client_.exchange().setRetries(0);
    // Any whole reply, a refusal too, says a sensor is there.
    const Outcome outcome = client_.readSerialNumber().outcome;
    if (outcome.ok() || outcome.replied)
        return Probe::Answered;
    if (outcome.kind == Outcome::PortFailure) {
        client_.close();
        portOpen_ = false;
        return Probe::PortLost;
    }
    return Probe::Silent;
}

bool Fixture::pause(int ms)
{
    constexpr int kSliceMs = 20;
    QElapsedTimer clock;
    clock.start();
    while (!stop_.load() && clock.elapsed() < ms)
        QThread::msleep(ulong(std::min<qint64>(kSliceMs, ms - clock.elapsed())));
    return !stop_.load();
}

void Fixture::emitEvent(FixtureEvent::Kind kind, const QString &text)
{
    FixtureEvent event;
    event.fixture = index_;
    event.kind = kind;
    event.text = text;
    sink_(event);
}

void Fixture::emitStatus(RunStep step, const QString &text, const QString &serial)
{
    FixtureEvent event;
    event.fixture = index_;
    event.kind = FixtureEvent::Status;
    event.step = step;
    event.text = text;
    event.serialNumber = serial;
    sink_(event);
}
