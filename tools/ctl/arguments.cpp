#include "arguments.h"

#include <QRegularExpression>
#include <limits>

namespace {

const QString kHelpHint = QStringLiteral("ktr450ctl --help lists the commands and options");

struct CommandName {
    const char *name;
    CommandKind kind;
};

const CommandName kCommands[] = {
    {"noise", CommandKind::Noise},
    {"serial", CommandKind::Serial},
    {"version", CommandKind::Version},
    {"origin", CommandKind::Origin},
    {"address", CommandKind::Address},
    {"calibration", CommandKind::Calibration},
    {"params", CommandKind::Params},
    {"identity", CommandKind::Identity},
    {"factory-reset", CommandKind::FactoryReset},
    {"protocol", CommandKind::Protocol},
    {"ports", CommandKind::Ports},
    {"watch", CommandKind::Watch},
};

// A negative number ("-5", "-.5") is a value, not an option.
bool looksLikeOption(const QString &arg)
{
    if (arg.size() < 2 || !arg.startsWith(QLatin1Char('-')))
        return false;
    const QChar second = arg.at(1);
    return !(second.isDigit() || second == QLatin1Char('.'));
}

// A whole decimal number; `error` names what is wrong with it.
bool readDecimal(const QString &text, qint64 &value, QString &error, const QString &what)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]+$"));
    if (!pattern.match(text).hasMatch()) {
        error = QStringLiteral("%1 '%2' is not a whole decimal number").arg(what, text);
        return false;
    }
    bool ok = false;
    value = text.toLongLong(&ok, 10);
    if (!ok) {
        error = QStringLiteral("%1 '%2' is far too large").arg(what, text);
        return false;
    }
    return true;
}

Checked<int> checkDecimalInRange(const QString &text, qint64 low, qint64 high, const QString &what,
                                 const QString &why)
{
    Checked<int> out;
    qint64 value = 0;
    if (!readDecimal(text, value, out.error, what))
        return out;
    if (value < low || value > high) {
        out.error = QStringLiteral("%1 %2 does not fit: %3").arg(what, text, why);
        return out;
    }
    out.value = int(value);
    return out;
}

QString addressText(int value)
{
    return QStringLiteral("%1 (%2)").arg(QString::number(value, 16)).arg(value);
}

} // namespace

Checked<uint8_t> checkSlaveAddress(const QString &text, bool allowBroadcast)
{
    static const QRegularExpression pattern(QStringLiteral("^(0[xX])?[0-9a-fA-F]+$"));
    constexpr int kHighest = 0xF7; // 248 to 255 are reserved in Modbus
    const int lowest = allowBroadcast ? 0 : 1;
    Checked<uint8_t> out;
    if (!pattern.match(text).hasMatch()) {
        out.error = QStringLiteral("address '%1' is not a hexadecimal number (like 1f)").arg(text);
        return out;
    }
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 16);
    if (!ok || value < qulonglong(lowest) || value > qulonglong(kHighest)) {
        out.error = QStringLiteral("address %1 does not fit: a slave address is %2 to %3, "
                                   "written in hexadecimal")
                        .arg(text, addressText(lowest), addressText(kHighest));
        if (!allowBroadcast && ok && value == 0)
            out.error += QStringLiteral("; 0 is the broadcast address every sensor answers");
        return out;
    }
    out.value = uint8_t(value);
    return out;
}

Checked<int> checkCalibrationOffset(const QString &text)
{
    return checkDecimalInRange(
        text, -255, 255, QStringLiteral("calibration offset"),
        QStringLiteral("the sensor keeps a sign and one byte of magnitude, so -255 to 255"));
}

Checked<int> checkCalibrationFactor(const QString &text)
{
    return checkDecimalInRange(text, 0, 255, QStringLiteral("calibration factor"),
                               QStringLiteral("the sensor keeps it in one byte, so 0 to 255"));
}

Checked<int> checkCalibrationRange(const QString &text)
{
    return checkDecimalInRange(text, 0, 2, QStringLiteral("calibration range"),
                               QStringLiteral("the sensor has ranges 0, 1 and 2"));
}

Checked<int32_t> checkHundredths(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^([+-]?)([0-9]*)(?:\\.([0-9]*))?$"));
    Checked<int32_t> out;
    const QRegularExpressionMatch match = pattern.match(text);
    const QString whole = match.captured(2);
    QString fraction = match.captured(3);
    if (!match.hasMatch() || (whole.isEmpty() && fraction.isEmpty())) {
        out.error = QStringLiteral("'%1' is not a decimal number (like 1.5 or -0.25)").arg(text);
        return out;
    }
    while (fraction.size() > 2 && fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (fraction.size() > 2) {
        out.error = QStringLiteral("%1 has more than two decimal places: the sensor keeps "
                                   "hundredths")
                        .arg(text);
        return out;
    }
    fraction = fraction.leftJustified(2, QLatin1Char('0'));

    // Digits beyond what a 64-bit value holds are out of range anyway.
    QString digits = whole + fraction;
    while (digits.size() > 1 && digits.startsWith(QLatin1Char('0')))
        digits.remove(0, 1);
    bool ok = digits.size() <= 18;
    qint64 hundredths = ok ? digits.toLongLong(&ok, 10) : 0;
    if (match.captured(1) == QLatin1String("-"))
        hundredths = -hundredths;
    if (!ok || hundredths < std::numeric_limits<int32_t>::min() ||
        hundredths > std::numeric_limits<int32_t>::max()) {
        out.error = QStringLiteral("%1 does not fit: the sensor keeps hundredths in a signed "
                                   "32-bit value, so -21474836.48 to 21474836.47")
                        .arg(text);
        return out;
    }
    out.value = int32_t(hundredths);
    return out;
}

Checked<std::array<uint8_t, 4>> checkIdentity(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9a-fA-F]{1,4})-([0-9a-fA-F]{1,4})$"));
    Checked<std::array<uint8_t, 4>> out;
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        out.error = QStringLiteral("identity '%1' does not fit: it is two groups of one to four "
                                   "hexadecimal digits (16 bits each) joined by '-', like "
                                   "12ab-00ff")
                        .arg(text);
        return out;
    }
    const uint16_t first = uint16_t(match.captured(1).toUInt(nullptr, 16));
    const uint16_t last = uint16_t(match.captured(2).toUInt(nullptr, 16));
    out.value = {uint8_t(first >> 8), uint8_t(first), uint8_t(last >> 8), uint8_t(last)};
    return out;
}

namespace {

// Arguments of the command after its name, checked for count and fit.
QString readCommandArguments(CtlCommand &command, const QStringList &args)
{
    const auto wrongCount = [&](const QString &usage) {
        return QStringLiteral("wrong number of arguments; usage: ktr450ctl [OPTIONS] %1")
            .arg(usage);
    };
    switch (command.kind) {
    case CommandKind::Noise:
    case CommandKind::Serial:
    case CommandKind::Version:
    case CommandKind::Origin:
    case CommandKind::FactoryReset:
    case CommandKind::Ports:
        if (!args.isEmpty())
            return QStringLiteral("unexpected argument '%1' after the command").arg(args.first());
        command.write = command.kind == CommandKind::FactoryReset;
        return QString();
    case CommandKind::Address: {
        if (args.size() > 1)
            return wrongCount(QStringLiteral("address [NEW]"));
        if (args.isEmpty())
            return QString();
        const Checked<uint8_t> address = checkSlaveAddress(args[0], false);
        if (!address.ok())
            return address.error;
        command.write = true;
        command.newAddress = address.value;
        return QString();
    }
    case CommandKind::Calibration: {
        if (args.size() != 0 && args.size() != 2)
            return wrongCount(QStringLiteral("calibration [--range 0-2] [OFFSET FACTOR]"));
        if (args.isEmpty())
            return QString();
        const Checked<int> offset = checkCalibrationOffset(args[0]);
        if (!offset.ok())
            return offset.error;
        const Checked<int> factor = checkCalibrationFactor(args[1]);
        if (!factor.ok())
            return factor.error;
        command.write = true;
        command.offset = offset.value;
        command.factor = factor.value;
        return QString();
    }
    case CommandKind::Params: {
        if (args.size() != 0 && args.size() != 3)
            return wrongCount(QStringLiteral("params [--own-protocol] [A B C]"));
        const char names[] = {'A', 'B', 'C'};
        for (int i = 0; i < args.size(); ++i) {
            const Checked<int32_t> value = checkHundredths(args[i]);
            if (!value.ok())
                return QStringLiteral("parameter %1: %2")
                    .arg(QLatin1Char(names[i]))
                    .arg(value.error);
            command.params[size_t(i)] = value.value;
        }
        command.write = !args.isEmpty();
        return QString();
    }
    case CommandKind::Identity: {
        if (args.size() > 1)
            return wrongCount(QStringLiteral("identity [ID]"));
        if (args.isEmpty())
            return QString();
        const Checked<std::array<uint8_t, 4>> id = checkIdentity(args[0]);
        if (!id.ok())
            return id.error;
        command.write = true;
        command.identity = id.value;
        return QString();
    }
    case CommandKind::Protocol:
        if (args.size() != 1)
            return wrongCount(QStringLiteral("protocol modbus|own"));
        if (args[0] != QLatin1String("modbus") && args[0] != QLatin1String("own"))
            return QStringLiteral("unknown protocol '%1': use modbus or own").arg(args[0]);
        command.write = true;
        command.toOwnProtocol = args[0] == QLatin1String("own");
        return QString();
    case CommandKind::Watch:
        if (args.size() != 1 || args[0] != QLatin1String("noise"))
            return wrongCount(QStringLiteral("watch noise [--interval MS] [--count N]"));
        return QString();
    }
    return QString();
}

} // namespace

ParseOutcome parseInvocation(const QStringList &arguments)
{
    ParseOutcome out;
    Invocation &inv = out.invocation;

    for (const QString &arg : arguments) {
        if (arg == QLatin1String("--"))
            break;
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            inv.help = true;
            out.ok = true;
            return out;
        }
    }

    QStringList positional;
    QString rangeText;
    QString intervalText;
    QString countText;
    bool rangeGiven = false;
    bool intervalGiven = false;
    bool countGiven = false;
    bool ownProtocolGiven = false;
    bool optionsEnded = false;

    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (optionsEnded || !looksLikeOption(arg)) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        QString value;
        bool hasValue = false;
        const int equals = arg.indexOf(QLatin1Char('='));
        if (arg.startsWith(QLatin1String("--")) && equals > 2) {
            name = arg.left(equals);
            value = arg.mid(equals + 1);
            hasValue = true;
        }

        const bool isFlag = name == QLatin1String("--json") || name == QLatin1String("--verbose") ||
                            name == QLatin1String("--own-protocol");
        if (isFlag) {
            if (hasValue) {
                out.error = QStringLiteral("%1 takes no value").arg(name);
                return out;
            }
            if (name == QLatin1String("--json"))
                inv.json = true;
            else if (name == QLatin1String("--verbose"))
                inv.verbose = true;
            else
                ownProtocolGiven = true;
            continue;
        }

        static const QStringList valued = {
            QStringLiteral("--port"),     QStringLiteral("--baud"),    QStringLiteral("--address"),
            QStringLiteral("--timeout"),  QStringLiteral("--retries"), QStringLiteral("--range"),
            QStringLiteral("--interval"), QStringLiteral("--count")};
        if (!valued.contains(name)) {
            out.error = QStringLiteral("unknown option '%1'; %2").arg(name, kHelpHint);
            return out;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                out.error = QStringLiteral("%1 needs a value").arg(name);
                return out;
            }
            value = arguments[++i];
        }

        if (name == QLatin1String("--port")) {
            if (value.trimmed().isEmpty()) {
                out.error = QStringLiteral("--port needs a port name");
                return out;
            }
            inv.link.port = value;
        } else if (name == QLatin1String("--baud")) {
            if (value != QLatin1String("9600") && value != QLatin1String("4800") &&
                value != QLatin1String("2400")) {
                out.error = QStringLiteral("baud rate '%1' is not one the sensor speaks: use "
                                           "9600, 4800 or 2400")
                                .arg(value);
                return out;
            }
            inv.link.baud = value.toInt();
        } else if (name == QLatin1String("--address")) {
            const Checked<uint8_t> address = checkSlaveAddress(value, true);
            if (!address.ok()) {
                out.error = QStringLiteral("--address: %1").arg(address.error);
                return out;
            }
            inv.link.address = address.value;
        } else if (name == QLatin1String("--timeout")) {
            const Checked<int> timeout =
                checkDecimalInRange(value, 1, 3600000, QStringLiteral("timeout"),
                                    QStringLiteral("give milliseconds from 1 to 3600000"));
            if (!timeout.ok()) {
                out.error = timeout.error;
                return out;
            }
            inv.link.timeoutMs = timeout.value;
        } else if (name == QLatin1String("--retries")) {
            const Checked<int> retries =
                checkDecimalInRange(value, 0, 100, QStringLiteral("retries"),
                                    QStringLiteral("give a count from 0 to 100"));
            if (!retries.ok()) {
                out.error = retries.error;
                return out;
            }
            inv.link.retries = retries.value;
        } else if (name == QLatin1String("--range")) {
            rangeText = value;
            rangeGiven = true;
        } else if (name == QLatin1String("--interval")) {
            intervalText = value;
            intervalGiven = true;
        } else {
            countText = value;
            countGiven = true;
        }
    }

    if (positional.isEmpty()) {
        out.error = QStringLiteral("no command given; %1").arg(kHelpHint);
        return out;
    }
    const QString commandName = positional.takeFirst();
    bool known = false;
    for (const CommandName &candidate : kCommands) {
        if (commandName == QLatin1String(candidate.name)) {
            inv.command.kind = candidate.kind;
            known = true;
        }
    }
    if (!known) {
        out.error = QStringLiteral("unknown command '%1'; %2").arg(commandName, kHelpHint);
        return out;
    }

    CtlCommand &command = inv.command;
    const QString argumentError = readCommandArguments(command, positional);
    if (!argumentError.isEmpty()) {
        out.error = argumentError;
        return out;
    }

    if (rangeGiven) {
        if (command.kind != CommandKind::Calibration) {
            out.error = QStringLiteral("--range belongs to the calibration command");
            return out;
        }
        const Checked<int> range = checkCalibrationRange(rangeText);
        if (!range.ok()) {
            out.error = range.error;
            return out;
        }
        command.range = range.value;
    }
    if (ownProtocolGiven) {
        if (command.kind != CommandKind::Params && command.kind != CommandKind::Version) {
            out.error = QStringLiteral("--own-protocol belongs to the params and version commands");
            return out;
        }
        command.ownProtocol = true;
    }
    if (intervalGiven || countGiven) {
        if (command.kind != CommandKind::Watch) {
            out.error = QStringLiteral("--interval and --count belong to the watch command");
            return out;
        }
        if (intervalGiven) {
            const Checked<int> interval =
                checkDecimalInRange(intervalText, 0, 86400000, QStringLiteral("interval"),
                                    QStringLiteral("give milliseconds from 0 to 86400000"));
            if (!interval.ok()) {
                out.error = interval.error;
                return out;
            }
            command.intervalMs = interval.value;
        }
        if (countGiven) {
            const Checked<int> count =
                checkDecimalInRange(countText, 1, std::numeric_limits<int>::max(),
                                    QStringLiteral("count"), QStringLiteral("give at least 1"));
            if (!count.ok()) {
                out.error = count.error;
                return out;
            }
            command.count = count.value;
        }
    }
    if (command.kind == CommandKind::Identity)
        command.ownProtocol = true;

    if (command.kind != CommandKind::Ports && inv.link.port.isEmpty()) {
        out.error = QStringLiteral("no port given: add --port NAME (ktr450ctl ports lists the "
                                   "serial ports)");
        return out;
    }
    out.ok = true;
    return out;
}
