// What a certificate says about the sensor, read with the ordinary commands:
// serial number, firmware version, address, calibration range 0 and the
// calibration parameters, each as ktr450ctl prints it.
#pragma once

#include "serialexchange.h"

#include <QString>

struct SensorIdentity {
    QString serial;
    QString version;
    QString address;
    QString protocol;    // the protocol these were read in
    QString calibration; // offset and factor of range 0
    QString params;      // A B C
};

// Status kExitSuccess, or the status of the first command that failed with
// `error` saying which.
int readSensorIdentity(SerialExchange &exchange, uint8_t slave, SensorIdentity &identity,
                       QString &error);
