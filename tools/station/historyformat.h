// The records `history` lists, as text lines, CSV or JSON.
#pragma once

#include "runrecord.h"

#include <QString>
#include <QVector>

enum class HistoryFormat { Text, Csv, Json };

QString formatHistory(const QVector<RunRecord> &records, HistoryFormat format);

// One field of a record as text, as CSV and displays show it: addresses in
// hexadecimal, JSON as compact text.
QString fieldText(const RecordField &field, const RunRecord &record);
