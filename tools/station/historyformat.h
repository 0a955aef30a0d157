// The records `history` lists, as text lines, CSV or JSON.
#pragma once

#include "runrecord.h"

#include <QString>
#include <QVector>

enum class HistoryFormat { Text, Csv, Json };

QString formatHistory(const QVector<RunRecord> &records, HistoryFormat format);
