// What `history` asks for: every filter optional.
#pragma once

#include "runrecord.h"

#include <QDateTime>
#include <QString>
#include <optional>

struct HistoryFilter {
    QString serialNumber;           // matched whatever the case of its letters
    std::optional<QDateTime> since; // UTC
    std::optional<RunVerdict> result;
};

// "2026-03-01" (midnight UTC) or an ISO 8601 time such as
// "2026-03-01T08:30:00Z"; a time without zone is taken as UTC.
std::optional<QDateTime> parseSince(const QString &text);
