// Frames written as hex text in tests, with the integrity code filled in.
#pragma once

#include "frame.h"

#include <QByteArray>
#include <cstdint>

// "00 04 02 01 c8" or "00040201c8" as bytes.
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// The same with its Modbus CRC appended.
inline QByteArray withCrc(const char *text)
{
    QByteArray frame = hex(text);
    appendModbusCrc(frame);
    return frame;
}
