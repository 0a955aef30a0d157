// Finds the sensors on a line whose baud rates, addresses and protocols are
// not known: first one query to address 0 at each baud rate (answered when a
// sensor is alone on the line), then, unless that found a lone sensor, each
// address in turn at each baud rate, with a timeout taken from the wire time
// of the exchange plus a margin.
#pragma once

#include "sensor.h"
#include "sensorclient.h"

#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>
#include <utility>

// The time a sensor may take beyond the wire time of request and reply: its
// own turnaround (a few ms), the scheduling of this computer and a USB
// adapter holding received bytes up to its latency timer (often 16 ms).
constexpr int kDefaultScanMarginMs = 20;

struct ScanSettings {
    QVector<qint32> bauds{9600, 4800, 2400};
    std::pair<uint8_t, uint8_t> addresses{1, modbus::kMaxSlaveAddress}; // first and last
    bool ownProtocol = false; // also ask for the identity in the sensor's own protocol
    bool all = false;         // scan every address even when a lone sensor answered 0
    int marginMs = kDefaultScanMarginMs;
};

struct FoundSensor {
    qint32 baud = 0;
    int address = -1; // -1: in its own protocol, which has no addresses
    QString serial;
    QString version;
    bool ownProtocol() const { return address < 0; }
};

// Where a scan is, for a progress line.
struct ScanProgress {
    qint32 baud = 0;
    int address = 0; // 0: the query to address 0
    int found = 0;
    qint64 msLeft = 0;
};

// How long to wait for a reply `replyLength` bytes long at `baud` once the
// request has left the wire.
int scanTimeoutMs(qint32 baud, int replyLength, int marginMs);

struct ScanCallbacks {
    std::function<void(const FoundSensor &)> found;
    std::function<void(const QString &)> warn;
    std::function<void(const ScanProgress &)> progress;
};

// Scans the line `port` through `client`, which it opens at each baud rate
// in turn. Returns an exit status: 0 when a sensor was found, 3 when none
// answered, 2 when the port cannot be opened or fails.
int runScan(SensorClient &client, const QString &port, const ScanSettings &settings,
            const ScanCallbacks &callbacks);
