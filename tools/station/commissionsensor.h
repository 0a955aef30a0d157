// Commissioning one sensor that has answered on a fixture: its identity, each
// setting of the profile written and read back, the verification, and the
// protocol it is left in; everything goes into its run record.
#pragma once

#include "profile.h"
#include "runrecord.h"
#include "sensorclient.h"
#include "verification.h"

#include <functional>

// What a fixture is doing, for progress displays.
enum class RunStep {
    WaitingForSensor,
    Reading,     // the sensor's identity
    Writing,     // a setting of the profile, or the protocol
    ReadingBack, // a setting, to compare it with the profile
    Verifying,
    RemoveSensor, // done: the fixture waits for the sensor to be taken out
};

// What commissioning reports as it goes; both optional.
struct SensorRunProgress {
    std::function<void(RunStep, const QString &)> onStep; // each step as it starts
    std::function<void(const TimedReading &)> onReading;  // each verification reading
};

struct SensorRunOutcome {
    // The sensor stopped answering or the port failed part-way: the fixture
    // waits for a sensor again instead of waiting for this one's removal.
    bool sensorLost = false;
};

// Fills `record` (serial number, firmware, addresses, settings asked, read
// back and written, reference source, statistics, result and reason); the
// caller sets the port, baud, operator and duration. A write that only bytes
// equal to its request confirmed (see SensorClient::setWriteProof) counts as
// written once it is read back. `progress` hears each step as it starts and
// each verification reading.
SensorRunOutcome commissionSensor(SensorClient &client, const CommissioningProfile &profile,
                                  RunRecord &record, const SensorRunProgress &progress = {});
