#include "profile.h"

#include "inputs.h"
#include "jsonmembers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QStringList>
#include <algorithm>

namespace {

using Error = std::optional<ProfileError>;

ProfileError fault(const QString &field, const QString &reason)
{
    return {field, reason};
}

// A typo in a member name must not silently drop a setting.
Error refuseUnknownMembers(const QJsonObject &object, const QString &path, const QStringList &known)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key()))
            return fault(memberPath(path, it.key()),
                         QStringLiteral("unknown member; the members here are %1")
                             .arg(known.join(QStringLiteral(", "))));
    }
    return std::nullopt;
}

// The text the strict readers take: a JSON string as written, or a JSON
// number in its shortest exact form (0.29 stays "0.29", so the readers see
// what the author typed rather than a binary fraction).
std::optional<QString> numberText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    return std::nullopt;
}

template <typename T>
Error readNumber(const QJsonObject &object, const QString &name, const QString &path,
                 Checked<T> (*check)(const QString &), T &out)
{
    const QString field = memberPath(path, name);
    const std::optional<QString> text = numberText(object.value(name));
    if (!text)
        return fault(field, QStringLiteral("a number (or its text) is needed here"));
    const Checked<T> checked = check(*text);
    if (!checked.ok())
        return fault(field, checked.error);
    out = checked.value;
    return std::nullopt;
}

Error requireMembers(const QJsonObject &object, const QString &path, const QStringList &names,
                     const QString &why)
{
    for (const QString &name : names) {
        if (!object.contains(name))
            return fault(memberPath(path, name), QStringLiteral("missing: %1").arg(why));
    }
    return std::nullopt;
}

Error readAddress(const QJsonObject &root, CommissioningProfile &profile)
{
    const QJsonValue value = root.value(QStringLiteral("address"));
    if (!value.isString())
        return fault(QStringLiteral("address"),
                     QStringLiteral("write the address as hexadecimal text, like \"1f\""));
    const Checked<uint8_t> checked = checkSlaveAddress(value.toString(), false);
    if (!checked.ok())
        return fault(QStringLiteral("address"), checked.error);
    profile.address = checked.value;
    return std::nullopt;
}

Error readRangeCalibration(const QJsonValue &value, const QString &path, RangeCalibration &out)
{
    if (!value.isObject())
        return fault(path, QStringLiteral("an object with range, offset and factor is needed"));
    const QJsonObject entry = value.toObject();
    const QStringList members{QStringLiteral("range"), QStringLiteral("offset"),
                              QStringLiteral("factor")};
    if (Error e = refuseUnknownMembers(entry, path, members))
        return e;
    if (Error e = requireMembers(entry, path, members,
                                 QStringLiteral("the sensor takes a range's offset and factor "
                                                "in one write")))
        return e;
    if (Error e = readNumber(entry, members[0], path, &checkCalibrationRange, out.range))
        return e;
    if (Error e = readNumber(entry, members[1], path, &checkCalibrationOffset, out.offset))
        return e;
    return readNumber(entry, members[2], path, &checkCalibrationFactor, out.factor);
}

Error readCalibration(const QJsonObject &root, CommissioningProfile &profile)
{
    const QJsonValue value = root.value(QStringLiteral("calibration"));
    if (!value.isArray())
        return fault(QStringLiteral("calibration"),
                     QStringLiteral("a list of {range, offset, factor} objects is needed"));
    const QJsonArray entries = value.toArray();
    for (int i = 0; i < entries.size(); ++i) {
        const QString path = QStringLiteral("calibration[%1]").arg(i);
        RangeCalibration entry;
        if (Error e = readRangeCalibration(entries.at(i), path, entry))
            return e;
        const auto sameRange = [&](const RangeCalibration &earlier) {
            return earlier.range == entry.range;
        };
        if (std::any_of(profile.calibration.begin(), profile.calibration.end(), sameRange))
            return fault(path + QStringLiteral(".range"),
                         QStringLiteral("range %1 is listed twice").arg(entry.range));
        profile.calibration.append(entry);
    }
    return std::nullopt;
}

Error readParameters(const QJsonObject &root, CommissioningProfile &profile)
{
    const QString path = QStringLiteral("parameters");
    const QJsonValue value = root.value(path);
    if (!value.isObject())
        return fault(path, QStringLiteral("an object with A, B and C is needed"));
    const QJsonObject object = value.toObject();
    const QStringList members{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    if (Error e = refuseUnknownMembers(object, path, members))
        return e;
    if (Error e = requireMembers(object, path, members,
                                 QStringLiteral("the sensor takes A, B and C in one write")))
        return e;
    CalibrationParameters out;
    int32_t *targets[] = {&out.a, &out.b, &out.c};
    for (int i = 0; i < 3; ++i) {
        if (Error e = readNumber(object, members[i], path, &checkHundredths, *targets[i]))
            return e;
    }
    profile.parameters = out;
    return std::nullopt;
}

Error readProtocol(const QJsonObject &root, CommissioningProfile &profile)
{
    const QString text = root.value(QStringLiteral("protocol")).toString();
    if (text == QLatin1String("modbus"))
        profile.protocol = LinkProtocol::Modbus;
    else if (text == QLatin1String("own"))
        profile.protocol = LinkProtocol::Own;
    else
        return fault(QStringLiteral("protocol"), QStringLiteral("\"modbus\" or \"own\" is needed"));
    return std::nullopt;
}

Checked<int> checkDuration(const QString &text)
{
    return checkDecimalInRange(text, 1, 3600, QStringLiteral("duration"),
                               QStringLiteral("a verification takes 1 to 3600 whole seconds"));
}

Error requirePositive(int32_t hundredths, const QString &field)
{
    if (hundredths > 0)
        return std::nullopt;
    return fault(field, QStringLiteral("must be greater than 0 dB"));
}

Error readVerification(const QJsonObject &root, CommissioningProfile &profile)
{
    const QString path = QStringLiteral("verification");
    const QJsonValue value = root.value(path);
    if (!value.isObject())
        return fault(path, QStringLiteral("an object with reference_db, tolerance_db and "
                                          "duration_s is needed"));
    const QJsonObject object = value.toObject();
    const QString reference = QStringLiteral("reference_db");
    const QString tolerance = QStringLiteral("tolerance_db");
    const QString duration = QStringLiteral("duration_s");
    const QString spread = QStringLiteral("max_spread_db");
    const QString source = QStringLiteral("reference_source");
    if (Error e =
            refuseUnknownMembers(object, path, {reference, tolerance, duration, spread, source}))
        return e;
    if (Error e = requireMembers(object, path, {reference, tolerance, duration},
                                 QStringLiteral("a verification needs it")))
        return e;
    VerificationTarget out;
    if (Error e = readNumber(object, reference, path, &checkHundredths, out.referenceHundredths))
        return e;
    if (Error e = readNumber(object, tolerance, path, &checkHundredths, out.toleranceHundredths))
        return e;
    if (Error e = requirePositive(out.toleranceHundredths, memberPath(path, tolerance)))
        return e;
    if (Error e = readNumber(object, duration, path, &checkDuration, out.durationSeconds))
        return e;
    if (object.contains(spread)) {
        int32_t limit = 0;
        if (Error e = readNumber(object, spread, path, &checkHundredths, limit))
            return e;
        if (Error e = requirePositive(limit, memberPath(path, spread)))
            return e;
        out.maxSpreadHundredths = limit;
    }
    if (object.contains(source)) {
        const QJsonValue given = object.value(source);
        const Checked<QString> checked = checkReferenceSource(given.toString());
        if (!given.isString() || !checked.ok())
            return fault(memberPath(path, source),
                         given.isString() ? checked.error : QStringLiteral("text is needed"));
        out.referenceSource = checked.value;
    }
    profile.verification = out;
    return std::nullopt;
}

// Comment lines become empty lines, so parse errors keep their line numbers.
QByteArray withoutComments(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray &line : lines) {
        if (line.trimmed().startsWith("//"))
            line.clear();
    }
    return lines.join('\n');
}

QString parsePlace(const QByteArray &text, int offset)
{
    const QByteArray before = text.left(offset);
    const int line = before.count('\n') + 1;
    const int column = offset - (before.lastIndexOf('\n') + 1) + 1;
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

Error readRoot(const QJsonObject &root, CommissioningProfile &profile)
{
    using Reader = Error (*)(const QJsonObject &, CommissioningProfile &);
    const struct {
        QString name;
        Reader read;
    } members[] = {
        {QStringLiteral("address"), &readAddress},
        {QStringLiteral("calibration"), &readCalibration},
        {QStringLiteral("parameters"), &readParameters},
        {QStringLiteral("protocol"), &readProtocol},
        {QStringLiteral("verification"), &readVerification},
    };
    QStringList known;
    for (const auto &member : members)
        known << member.name;
    if (Error e = refuseUnknownMembers(root, QString(), known))
        return e;
    for (const auto &member : members) {
        if (!root.contains(member.name))
            continue;
        if (Error e = member.read(root, profile))
            return e;
    }
    if (!profile.address && profile.calibration.isEmpty() && !profile.parameters &&
        !profile.protocol && !profile.verification)
        return fault(QString(), QStringLiteral("the profile neither writes a setting nor "
                                               "verifies: give at least one of %1")
                                    .arg(known.join(QStringLiteral(", "))));
    return std::nullopt;
}

QString protocolName(LinkProtocol protocol)
{
    return protocol == LinkProtocol::Own ? QStringLiteral("own") : QStringLiteral("modbus");
}

QString hundredthsText(int32_t hundredths)
{
    const qint64 magnitude = qAbs(qint64(hundredths));
    return QStringLiteral("%1%2.%3")
        .arg(hundredths < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 100)
        .arg(magnitude % 100, 2, 10, QLatin1Char('0'));
}

} // namespace

Checked<QString> checkReferenceSource(const QString &text)
{
    constexpr int kLongest = 200;
    Checked<QString> out;
    out.value = text.trimmed();
    if (out.value.isEmpty())
        out.error = QStringLiteral("the reference source is empty: name the calibrator (make, "
                                   "serial number, level and frequency)");
    else if (out.value.size() > kLongest)
        out.error =
            QStringLiteral("the reference source is longer than %1 characters").arg(kLongest);
    else if (out.value.contains(QLatin1Char('\n')) || out.value.contains(QLatin1Char('\r')))
        out.error = QStringLiteral("the reference source must be one line");
    return out;
}

QString ProfileError::message() const
{
    return field.isEmpty() ? reason : QStringLiteral("%1: %2").arg(field, reason);
}

QJsonObject CommissioningProfile::settingsJson() const
{
    QJsonObject out;
    if (address)
        out.insert(QStringLiteral("address"), QString::number(*address, 16));
    if (!calibration.isEmpty()) {
        QJsonArray ranges;
        for (const RangeCalibration &entry : calibration)
            ranges.append(QJsonObject{{QStringLiteral("range"), entry.range},
                                      {QStringLiteral("offset"), entry.offset},
                                      {QStringLiteral("factor"), entry.factor}});
        out.insert(QStringLiteral("calibration"), ranges);
    }
    if (parameters)
        out.insert(QStringLiteral("parameters"),
                   QJsonObject{{QStringLiteral("A"), hundredthsText(parameters->a)},
                               {QStringLiteral("B"), hundredthsText(parameters->b)},
                               {QStringLiteral("C"), hundredthsText(parameters->c)}});
    if (protocol)
        out.insert(QStringLiteral("protocol"), protocolName(*protocol));
    if (verification) {
        QJsonObject target{
            {QStringLiteral("reference_db"), hundredthsText(verification->referenceHundredths)},
            {QStringLiteral("tolerance_db"), hundredthsText(verification->toleranceHundredths)},
            {QStringLiteral("duration_s"), verification->durationSeconds}};
        if (verification->maxSpreadHundredths)
            target.insert(QStringLiteral("max_spread_db"),
                          hundredthsText(*verification->maxSpreadHundredths));
        if (!verification->referenceSource.isEmpty())
            target.insert(QStringLiteral("reference_source"), verification->referenceSource);
        out.insert(QStringLiteral("verification"), target);
    }
    return out;
}

ProfileOutcome parseProfile(const QByteArray &text)
{
    ProfileOutcome outcome;
    const QByteArray json = withoutComments(text);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        outcome.error = fault(
            QString(), QStringLiteral("not valid JSON at %1: %2")
                           .arg(parsePlace(json, parseError.offset), parseError.errorString()));
        return outcome;
    }
    if (!document.isObject()) {
        outcome.error = fault(QString(), QStringLiteral("the profile must be one JSON object"));
        return outcome;
    }
    const QString repeated = firstRepeatedMember(json);
    if (!repeated.isEmpty()) {
        outcome.error =
            fault(repeated, QStringLiteral("given twice; each member may be given once"));
        return outcome;
    }
    outcome.error = readRoot(document.object(), outcome.profile);
    return outcome;
}

ProfileOutcome loadProfile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ProfileOutcome outcome;
        outcome.error =
            fault(QString(),
                  QStringLiteral("cannot read the profile %1: %2").arg(path, file.errorString()));
        return outcome;
    }
    return parseProfile(file.readAll());
}
