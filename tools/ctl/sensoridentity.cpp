#include "sensoridentity.h"

#include "ctloutput.h"
#include "runner.h"

namespace {

bool readInto(SerialExchange &exchange, uint8_t slave, CommandKind kind, const char *what,
              QString &text, int &status, QString &error)
{
    CtlCommand command;
    command.kind = kind;
    command.range = 0;
    const RunResult run = runCommand(exchange, command, slave, false);
    status = run.status;
    if (status != kExitSuccess) {
        error = QStringLiteral("cannot read the %1: %2").arg(QLatin1String(what), run.error);
        return false;
    }
    text = run.output;
    return true;
}

} // namespace

int readSensorIdentity(SerialExchange &exchange, uint8_t slave, SensorIdentity &identity,
                       QString &error)
{
    int status = kExitSuccess;
    identity.protocol = QStringLiteral("Modbus RTU");
    if (readInto(exchange, slave, CommandKind::Serial, "serial number", identity.serial, status,
                 error) &&
        readInto(exchange, slave, CommandKind::Version, "firmware version", identity.version,
                 status, error) &&
        readInto(exchange, slave, CommandKind::Address, "address", identity.address, status,
                 error) &&
        readInto(exchange, slave, CommandKind::Calibration, "calibration", identity.calibration,
                 status, error))
        readInto(exchange, slave, CommandKind::Params, "calibration parameters", identity.params,
                 status, error);
    return status;
}
