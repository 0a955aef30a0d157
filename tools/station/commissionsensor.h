// Commissioning one sensor that has answered on a fixture: its identity, each
// setting of the profile written and read back, the verification, and the
// protocol it is left in; everything goes into its run record.
#pragma once

#include "profile.h"
#include "runrecord.h"
#include "sensorclient.h"

#include <functional>

struct SensorRunOutcome {
    // The sensor stopped answering or the port failed part-way: the fixture
    // waits for a sensor again instead of waiting for this one's removal.
    bool sensorLost = false;
};

// Fills `record` (serial number, firmware, addresses, settings asked, read
// back and written, reference source, statistics, result and reason); the
// caller sets the port, baud, operator and duration. A write that only bytes
// equal to its request confirmed (see SensorClient::setWriteProof) counts as
// written once it is read back. `onStep` names each step as it starts, for
// progress.
SensorRunOutcome commissionSensor(SensorClient &client, const CommissioningProfile &profile,
                                  RunRecord &record,
                                  const std::function<void(const QString &)> &onStep = {});
