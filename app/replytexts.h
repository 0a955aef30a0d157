// What the window says, in its own words, about a reply the decoder reported
// but that carries no text of its own.
#pragma once

#include <QString>
#include <cstdint>

// The log line of a write the sensor echoed: the address it took, or the
// calibration range it wrote.
QString writeConfirmationText(uint16_t registerNumber, uint16_t value);
