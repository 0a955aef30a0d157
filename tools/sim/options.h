// The simulator's command line: where it serves, the sensor's starting
// settings, and how realistic the line is.
#pragma once

#include "optionvalues.h"
#include "replysender.h"
#include "sensormodel.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One sensor of a bus: its settings and the baud rate it listens at.
struct BusSensor {
    SensorConfig config;
    int baud = 9600;
};

struct SimOptions {
    QString portName; // empty: create a pseudo-terminal
    QString linkPath; // empty: no symbolic link
    SensorConfig config;
    int noiseTenths = 456;
    int driftTenths = 15;
    uint32_t seed = 0;
    bool seedGiven = false;
    int reportEveryMs = 0;
    LineRealism realism;
    // Empty: the one sensor of `config`, answering at any baud rate. Else
    // the sensors sharing the line (--bus, --sensor).
    QVector<BusSensor> bus;
    QVector<uint8_t> busAddresses; // --bus, before the sensors are made
};

// Parses the arguments (the program name first). Returns false with `message`
// set to an error; with `helpRequested` set, `message` holds the help text.
bool parseSimOptions(const QStringList &arguments, SimOptions &options, QString &message,
                     bool &helpRequested);
