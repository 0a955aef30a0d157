// What a command of ktr450ctl runs with: the settings of the line, the
// writer, the stop request (Ctrl-C), and where a sensor's line comes from
// (a serial port, or a fake in tests).
#pragma once

#include "output.h"
#include "transport.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// How to reach the sensor.
struct LinkSettings {
    QString port;
    qint32 baud = 9600;
    uint8_t address = 0; // this sensor answers address 0 whatever its own address
    int timeoutMs = 1000;
    int retries = 2;
    bool localEcho = false; // the adapter sends back every byte written
    // Trust a write whose confirmation equals its request without reading
    // it back (SensorClient::setWriteProof).
    bool noReadBack = false;
};

struct Session {
    LinkSettings link;
    bool verbose = false;
    Output &out;
    const std::atomic<bool> &stop;
    // Makes Ctrl-C and SIGTERM set `stop` instead of ending the program, for
    // the commands that end cleanly on it.
    std::function<void()> stopOnSignals;
    std::function<std::unique_ptr<Transport>()> makeTransport;
    QString toolVersion;
};
