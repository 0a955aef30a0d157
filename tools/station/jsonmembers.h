// Qt's JSON reader keeps only one of two members with the same name in an
// object and drops the other without a word. A profile with "protocol"
// twice must be refused rather than half-read, so the text is walked once
// more to find such a member.
#pragma once

#include <QByteArray>
#include <QString>

// The path of the first member named twice in one object of `json`, a text
// that is valid JSON: "protocol", "verification.tolerance_db",
// "calibration[1].range". Empty when every name is given once.
QString firstRepeatedMember(const QByteArray &json);

// A member's path below `parent` ("" for the top), as profile errors name it.
QString memberPath(const QString &parent, const QString &name);
