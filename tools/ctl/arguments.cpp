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

} // namespace

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
