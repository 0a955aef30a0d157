// How the sensor's values read as text, one name a format, for the window,
// ktr450ctl and the simulator alike.
#pragma once

#include "registercodec.h"

#include <QString>
#include <cstdint>

// QString::arg(double) at its defaults ('g', 6 significant digits):
// 45.6, 100, 1e+06.
QString realText(double value);
// Tenths of a dB as the window shows them: 456 gives 45.6.
QString tenthsText(unsigned tenths);
// Hundredths as the window shows them, at 6 significant digits: 150 gives
// 1.5, 100000000 gives 1e+06.
QString realHundredthsText(int32_t hundredths);
// Hundredths exactly, without trailing zeros: 150 gives 1.5, -100 gives -1,
// 2147483647 gives 21474836.47.
QString exactHundredthsText(int32_t hundredths);
// Parameters A, B and C exactly, separated by blanks: 1.5 -1 0.
QString parametersText(const CalibrationParameters &params);
// Four identity bytes as two groups of hex pairs: 12ab-00ff.
QString identityText(const uint8_t *bytes);
QString identityText(uint32_t identity);
// A version as major-minor-patch: 17-6-11.
QString firmwareVersionText(const FirmwareVersion &version);
// The zero offset as the sensor keeps it: a sign byte (0x00 negative, any
// other value positive) and a magnitude; a magnitude of 0 is 0.
QString zeroOffsetText(uint8_t signByte, uint8_t magnitude);
