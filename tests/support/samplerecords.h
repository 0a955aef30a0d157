// Run records for the results tests, each different in every field, and a
// commissioning profile that sets everything.
#pragma once

#include "runrecord.h"

#include <QJsonArray>

inline RunRecord sampleRecord(const QString &serial, RunVerdict result, const QDateTime &started)
{
    RunRecord record = newRunRecord();
    record.startedUtc = started;
    record.operatorName = QStringLiteral("Zhang, \"Wei\"");
    record.port = QStringLiteral("/dev/ttyUSB1");
    record.baud = 9600;
    record.addressBefore = 0x01;
    record.addressAfter = result == RunVerdict::Pass ? std::optional<int>(0x1f) : std::nullopt;
    record.serialNumber = serial;
    record.firmware = QStringLiteral("17-6-11");
    record.settingsAsked = {{QStringLiteral("address"), QStringLiteral("1f")},
                            {QStringLiteral("protocol"), QStringLiteral("modbus")}};
    record.settingsReadBack = {{QStringLiteral("address"), QStringLiteral("1f")}};
    record.settingsWritten = {{QStringLiteral("address"), QStringLiteral("1f")}};
    record.statistics = {{QStringLiteral("count"), 20},
                         {QStringLiteral("leq"), 94.12},
                         {QStringLiteral("l10"), QJsonArray{94.3}}};
    record.result = result;
    record.reason = result == RunVerdict::Pass ? QString()
                                               : QStringLiteral("protocol read back as own, "
                                                                "not modbus");
    record.referenceSource = QStringLiteral("calibrator CAL-200 no. 7731, 94.0 dB, 1 kHz");
    record.durationMs = 4321;
    return record;
}

// Every setting, and a verification of `seconds` that a steady 94 dB passes.
inline QString fullProfile(int seconds)
{
    return QStringLiteral(R"({
    // written by the test
    "address": "1f",
    "calibration": [ { "range": 0, "offset": -3, "factor": 128 },
                     { "range": 2, "offset": 7, "factor": 90 } ],
    "parameters": { "A": 1.25, "B": 0, "C": -0.5 },
    "protocol": "modbus",
    "verification": { "reference_db": 94.0, "tolerance_db": 0.5, "duration_s": %1 }
})")
        .arg(seconds);
}
