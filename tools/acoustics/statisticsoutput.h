// The statistics of a run of readings as ktr450ctl prints them: aligned text
// lines or one JSON object, levels to a hundredth of a dB.
#pragma once

#include "noisestatistics.h"

#include <QJsonObject>
#include <QString>

// One line a figure, without a trailing newline.
QString statisticsText(const NoiseStatistics &stats);
QJsonObject statisticsJson(const NoiseStatistics &stats);
