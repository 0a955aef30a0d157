// The sensor's serial line: 8 data bits, no parity, one stop bit, no flow
// control, at one of a few baud rates, and the Modbus RTU timing that
// follows from the baud rate. Every program opens its port through here.
#pragma once

#include <QString>
#include <QtGlobal>

// A character is a start bit, 8 data bits and a stop bit.
constexpr qint64 kBitsPerCharacter = 10;

constexpr qint64 characterUs(qint32 baud)
{
    return kBitsPerCharacter * 1000000 / (baud > 0 ? baud : 1);
}

// Modbus RTU frames are separated by at least 3.5 character times of silence.
constexpr qint64 frameGapUs(qint32 baud)
{
    return characterUs(baud) * 35 / 10;
}

enum class LineOpen { Opened, NotOpened, SettingsRefused };

// Opens `port` (a QSerialPort) for reading and writing and sets the line up
// at `baud`. When the port opens but refuses a setting it stays open, so
// the caller decides whether it can live with that; `error` says what went
// wrong either way. A template, so that this header needs no serial library.
template <typename Port>
LineOpen openLine(Port &port, const QString &name, qint32 baud, QString &error)
{
    port.setPortName(name);
    if (!port.open(Port::ReadWrite)) {
        error = port.errorString();
        return LineOpen::NotOpened;
    }
    if (!port.setBaudRate(baud, Port::AllDirections) || !port.setDataBits(Port::Data8) ||
        !port.setParity(Port::NoParity) || !port.setStopBits(Port::OneStop) ||
        !port.setFlowControl(Port::NoFlowControl)) {
        error = QStringLiteral("cannot set %1 baud, 8N1: %2").arg(baud).arg(port.errorString());
        return LineOpen::SettingsRefused;
    }
    return LineOpen::Opened;
}
