// The statistics of a run of readings as ktr450ctl prints them: aligned text
// lines or one JSON object, levels to a hundredth of a dB.
#pragma once

#include "noisestatistics.h"

#include <QJsonObject>
#include <QString>

// `value` to `decimals` places, without the minus sign of a value that
// rounds to zero: a drift of -0.004 is 0.00, not -0.00.
QString fixedText(double value, int decimals = 2);

// One line a figure, without a trailing newline.
QString statisticsText(const NoiseStatistics &stats);
QJsonObject statisticsJson(const NoiseStatistics &stats);
