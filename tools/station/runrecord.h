// The record of one sensor run on a commissioning station: who, where, what
// was asked, what the sensor holds afterwards, and whether it passed.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <QVariant>
#include <QVector>
#include <optional>

enum class RunVerdict { Pass, Fail };

struct RunRecord {
    // Unique per run; a second insert of the same run changes nothing, which
    // is what lets a spooled record be written again safely.
    QUuid runId;
    // The number of the run's certificate, as a calibration lab files it:
    // the run id's text unless set otherwise.
    QString certificateNumber;
    QDateTime startedUtc;
    QString station; // host name
    QString operatorName;
    QString port;
    int baud = 0;
    std::optional<int> addressBefore;
    std::optional<int> addressAfter;
    QString serialNumber;
    QString firmware;
    QJsonObject settingsAsked;
    QJsonObject settingsReadBack;
    // What the sensor had already received when the run failed part-way.
    QJsonObject settingsWritten;
    // Verification figures (count, leq, l10, l50, l90, min, max, mean,
    // stddev, drift), filled by the verification code as it sees fit.
    QJsonObject statistics;
    // The calibrator or reference source the verification used (make,
    // serial number, level and frequency), as the operator gave it.
    QString referenceSource;
    RunVerdict result = RunVerdict::Fail;
    QString reason; // the first reason of a failure; empty on a pass
    qint64 durationMs = 0;
    QString toolVersion;
};

// A record with a fresh run id (and the certificate number it gives), the
// current UTC time, this host's name and this build's version; the caller
// fills in the rest.
RunRecord newRunRecord();

QString resultText(RunVerdict result); // "pass" or "fail"
std::optional<RunVerdict> resultFromText(const QString &text);

// Times are kept as ISO 8601 UTC text with milliseconds, which sorts in time
// order as text in every database.
QString utcText(const QDateTime &time);
QDateTime utcFromText(const QString &text);

// One field of a run record: its name (the column of the runs table, the
// JSON member and the CSV header alike) and its value. The value is a
// QString for Text, a number for Integer, an int or a null for Address and
// a QJsonObject for Json; each form (SQL, JSON, CSV) writes a kind its way:
// an address is hexadecimal text in JSON and CSV, as everywhere else.
struct RecordField {
    enum Kind { Text, Integer, Address, Json };
    const char *name;
    Kind kind;
    QVariant (*get)(const RunRecord &);
    void (*set)(RunRecord &, const QVariant &);
};

// Every field, in the order of the runs table's columns.
const QVector<RecordField> &recordFields();

QJsonObject recordToJson(const RunRecord &record);
// An address field as JSON and CSV show it ("1f"), and back; a number is
// read too, as records spooled by earlier versions hold it.
QString addressFieldText(const QVariant &value);
QVariant addressFieldValue(const QJsonValue &value);
// An object as one line of JSON text, as the records keep it.
QString compactJsonText(const QJsonObject &object);
// Refuses (returns nothing) a record without a valid run id or time.
std::optional<RunRecord> recordFromJson(const QJsonObject &json);
