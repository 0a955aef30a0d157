// One fixture of a commissioning station: a serial port a sensor is plugged
// into, one after another. Runs on its own thread with its own port, so a
// hung, silent or unplugged fixture holds up nothing but itself; it hands
// its progress and each finished run to a sink that any thread may call.
#pragma once

#include "commissionsensor.h"
#include "profile.h"
#include "runrecord.h"
#include "sensorclient.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

// How every fixture of a station works.
struct FixtureSettings {
    qint32 baud = 9600;
    int timeoutMs = 1000; // a reply's time limit while commissioning
    int retries = 2;
    QString operatorName;
    bool once = false; // one sensor, then stop
};

// How far a sensor's verification has got.
struct VerifyProgress {
    int elapsedMs = 0;
    int durationMs = 0; // the profile's verification time
    int readings = 0;
    double leq = 0.0; // energy mean of the readings so far, dB
};

struct FixtureEvent {
    enum Kind {
        Status,   // `text` and `step`: what the fixture is doing now
        Progress, // `progress`: the verification so far
        Finished, // `record`: a sensor's run, to be kept
        Problem,  // `text`: the port cannot be opened or has failed
        Done,     // the fixture has stopped
    };
    int fixture = 0; // index of the fixture in the station
    Kind kind = Status;
    QString text;
    RunStep step = RunStep::WaitingForSensor;
    QString serialNumber; // Status: the sensor's, once it has been read
    VerifyProgress progress;
    RunRecord record;
    bool sensorLost = false; // Finished: the sensor went away part-way
};

using FixtureSink = std::function<void(const FixtureEvent &)>;
// Makes the line of a fixture, on the fixture's own thread.
using TransportFactory = std::function<std::unique_ptr<Transport>()>;

class Fixture
{
  public:
    // Probes for a sensor this often, and how long a probe waits for a reply.
    static constexpr int kProbeIntervalMs = 500;
    static constexpr int kProbeTimeoutMs = 200;
    // A sensor counts as removed once probes have gone unanswered this long.
    static constexpr int kRemovalMs = 1500;
    // A verification's progress is reported at most this often.
    static constexpr int kProgressIntervalMs = 250;

    Fixture(int index, const QString &port, const FixtureSettings &settings,
            const CommissioningProfile &profile, const TransportFactory &makeTransport,
            FixtureSink sink, const std::atomic<bool> &stop);

    // Waits for sensors and commissions them until stopped (or after one
    // sensor with `once`). Blocking: call it on the fixture's own thread.
    void run();

  private:
    enum class Probe { Answered, Silent, PortLost };
    bool waitForSensor();
    void commissionOne(bool &sensorLost);
    void waitForRemoval();
    Probe probe();
    bool pause(int ms); // false once stopped
    void emitEvent(FixtureEvent::Kind kind, const QString &text);
    void emitStatus(RunStep step, const QString &text, const QString &serial = QString());

    int index_;
    QString port_;
    FixtureSettings settings_;
    const CommissioningProfile &profile_;
    FixtureSink sink_;
    const std::atomic<bool> &stop_;
    std::unique_ptr<Transport> transport_;
    SensorClient client_;
    bool portOpen_ = false;
};
