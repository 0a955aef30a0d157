#include "commandline.h"

#include "ctlcommands.h"
#include "databaseurl.h"
#include "exitstatus.h"
#include "lineerrors.h"
#include "profile.h"

#include <algorithm>
#include <cctype>

namespace {

// CLI11 reads "-5" as a value but "-.5" as an unknown short option "-.". A
// NUL in front, which no argument of a process can hold, makes it a value;
// fromCli() takes the NUL away again before the value is read or shown.
const char kValueMark = '\0';

const char *const kCommandsGroup = "Commands (each with an example and what it prints)";

const char *const kDescription =
    "Usage: ktr450ctl [OPTIONS] COMMAND [ARGS]\n"
    "\n"
    "Sends one command to a KTR450 noise sensor on a serial line, waits for the\n"
    "sensor's reply, checks it and prints what it says, in the formats of the\n"
    "configuration window. Options may stand anywhere on the line.";

const char *const kFooter =
    "Addresses are hexadecimal everywhere, as the window shows them (1f or 0x1f\n"
    "is 31). Modbus commands need the sensor in Modbus (its usual state); identity,\n"
    "version --own-protocol and params --own-protocol need it in its own protocol.\n"
    "\n"
    "Writes (address NEW, calibration OFFSET FACTOR, params A B C, identity ID,\n"
    "factory-reset, protocol) refuse values that do not fit their field on the\n"
    "wire, and succeed only when the sensor's echo or confirmation matches what\n"
    "was written. Where that confirmation is the request itself (address,\n"
    "factory-reset, protocol, identity, params --own-protocol), an adapter that\n"
    "echoes would give it too: the value is read back (after factory-reset and\n"
    "protocol, the version) before the write counts, and only an echo or silence\n"
    "then is status 4; --no-read-back skips that read.\n"
    "\n";

const char *const kStatusNotes =
    "\n"
    "  commission ends with 1 for a refused profile and, with --once, with 2\n"
    "  when a port cannot be opened.\n"
    "  A watch ends with 0 when every reading succeeded, otherwise with the\n"
    "  status of the last failed reading (2 ends it at once). A verify whose\n"
    "  readings cannot all be taken ends with that reading's status (2, 3 or 4)\n"
    "  and gives no verdict.";

const char *const kCommandFooter =
    "The options of the line (--port, --baud, --address, --timeout, --retries,\n"
    "--local-echo, --no-read-back, --json, --verbose) and the exit statuses:\n"
    "ktr450ctl --help";

// Options first, then each command: its synopsis on one line and what it does
// indented below it. A command's own help begins with its usage.
class HelpFormatter : public CLI::Formatter
{
  public:
    HelpFormatter() { column_width(18); }

    // The usage line heads the description.
    std::string make_usage(const CLI::App *, std::string) const override { return ""; }

    std::string make_description(const CLI::App *app) const override
    {
        if (app->get_parent() == nullptr)
            return app->get_description() + "\n";
        return "Usage: ktr450ctl [OPTIONS] " + app->get_description() + "\n";
    }

    // An option's value name alone; an argument's name says it all.
    std::string make_option_opts(const CLI::Option *option) const override
    {
        if (option->get_positional() || option->get_type_name().empty())
            return "";
        return " " + option->get_type_name();
    }

    std::string make_subcommand(const CLI::App *command) const override
    {
        std::string out = "  ";
        for (const char c : command->get_description()) {
            out += c;
            if (c == '\n')
                out += "    ";
        }
        return out + "\n";
    }
};

Checked<uint8_t> checkRequestAddress(const QString &text)
{
    Checked<uint8_t> out = checkSlaveAddress(text, true);
    if (!out.ok())
        out.error = QStringLiteral("--address: %1").arg(out.error);
    return out;
}

void declareLink(CLI::App &root, Invocation &inv)
{
    LinkSettings &link = inv.link;
    cli::addValue(root, "--port", "NAME",
                  "serial port, as a path (/dev/ttyUSB0) or a name (ttyUSB0);\n"
                  "needed by every command but ports",
                  link.port, cli::checkPort);
    cli::addLineTiming(root, link);
    cli::addValue(root, "--address", "N",
                  "slave address of Modbus requests, hexadecimal, 0 to f7.\n"
                  "Default 0, the address the window uses: the sensor answers\n"
                  "it whatever its own address, so only one sensor may be on\n"
                  "the line. Give the sensor's own address on a shared line.",
                  link.address, checkRequestAddress);
    root.add_flag("--local-echo", link.localEcho,
                  "the adapter sends back every byte written (many RS-485\n"
                  "adapters do): take the request's echo off the line first");
    root.add_flag("--no-read-back", link.noReadBack,
                  "take a write whose confirmation equals its request as\n"
                  "done without reading it back (for scripts that do)");
    root.add_flag("--json", inv.json, "print results as JSON, one object a line");
    root.add_flag("--verbose", inv.verbose, "show every frame sent and received on standard error");
}

// The whole command line; `inv` receives what it says.
void declare(CLI::App &root, Invocation &inv)
{
    root.formatter(std::make_shared<HelpFormatter>());
    root.set_help_flag("-h,--help", "show this text");
    root.footer(kFooter + exitStatusHelp().toStdString() + kStatusNotes);
    // A later value of an option replaces an earlier one; a flag given a value
    // ("--json=1") is refused.
    root.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    root.option_defaults()->disable_flag_override();
    // Options of the line may follow the command; at most one command, so
    // that "watch noise" reads noise as watch's word.
    root.fallthrough();
    root.require_subcommand(0, 1);
    // Unknown words are collected and reported below in plain words.
    root.allow_extras();
    declareLink(root, inv);
    for (const auto add : kCommands)
        add(root, inv);
}

std::vector<std::string> reversedForCli(const QStringList &arguments)
{
    std::vector<std::string> out;
    for (auto it = arguments.crbegin(); it != arguments.crend(); ++it) {
        std::string arg = it->toStdString();
        if (arg.size() > 2 && arg[0] == '-' && arg[1] == '.' &&
            std::isdigit(static_cast<unsigned char>(arg[2])))
            arg.insert(arg.begin(), kValueMark);
        out.push_back(arg);
    }
    return out;
}

// Whether help is asked for, and in `command` the command whose help it is
// ("scan --help"), or none for the whole tool's.
bool asksForHelp(const QStringList &arguments, QString &command, const CLI::App &root)
{
    for (const QString &arg : arguments) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help"))
            return true;
        const auto named = root.get_subcommands(
            [&arg](const CLI::App *sub) { return sub->get_name() == arg.toStdString(); });
        if (command.isEmpty() && !named.empty())
            command = arg;
    }
    return false;
}

} // namespace

namespace cli {

QString fromCli(const std::string &word)
{
    const bool marked = !word.empty() && word[0] == kValueMark;
    return QString::fromStdString(marked ? word.substr(1) : word);
}

Checked<qint32> checkBaud(const QString &typed)
{
    const QString text = typed.trimmed();
    Checked<qint32> out;
    if (text != QLatin1String("9600") && text != QLatin1String("4800") &&
        text != QLatin1String("2400"))
        out.error = QStringLiteral("baud rate '%1' is not one the sensor speaks: use 9600, 4800 "
                                   "or 2400")
                        .arg(text);
    out.value = text.toInt();
    return out;
}

Checked<QString> checkPort(const QString &text)
{
    return keptIf(text, text.trimmed().isEmpty() ? QStringLiteral("--port needs a port name")
                                                 : QString());
}

Checked<QString> checkFileName(const QString &text)
{
    return keptIf(text, text.isEmpty() ? QStringLiteral("a file name is needed") : QString());
}

Checked<QString> checkSerialFilter(const QString &text)
{
    return keptIf(text,
                  text.isEmpty() ? QStringLiteral("--serial needs a serial number") : QString());
}

Checked<QString> keptIf(const QString &text, const QString &problem)
{
    Checked<QString> out;
    out.value = text;
    out.error = problem;
    return out;
}

void addCertificateFields(CLI::App &sub, QString &operatorName, QString &referenceSource)
{
    addValue(sub, "--operator", "NAME", "who runs it, for the records and certificates",
             operatorName, [](const QString &text) { return keptIf(text, QString()); });
    addValue(sub, "--reference-source", "TEXT",
             "the calibrator (make, serial number, level, frequency), for the certificate",
             referenceSource, checkReferenceSource);
}

void addLineTiming(CLI::App &app, LinkSettings &link)
{
    addValue(app, "--baud", "RATE",
             "9600 (default), 4800 or 2400; always 8 data bits, no parity,\n"
             "one stop bit, no flow control",
             link.baud, checkBaud);
    addValue(app, "--timeout", "MS",
             "how long to wait for a reply once the request has left the\n"
             "wire (default 1000)",
             link.timeoutMs, [](const QString &text) {
                 return checkDecimalInRange(text, 1, 3600000, QStringLiteral("timeout"),
                                            QStringLiteral("give milliseconds from 1 to 3600000"));
             });
    addValue(app, "--retries", "N",
             "how often to send a request again that drew no valid reply:\n"
             "none in time, or a damaged one (default 2)",
             link.retries, [](const QString &text) {
                 return checkDecimalInRange(text, 0, 100, QStringLiteral("retries"),
                                            QStringLiteral("give a count from 0 to 100"));
             });
}

CLI::Option *addDatabase(CLI::App &sub, QString &url)
{
    return addValue(sub, "--db", "URL", "results database", url,
                    [](const QString &text) { return keptIf(text, parseDatabaseUrl(text).error); });
}

QString wrongCount(const QString &usage)
{
    return QStringLiteral("wrong number of arguments; usage: ktr450ctl [OPTIONS] %1").arg(usage);
}

CLI::Option *addArgument(CLI::App &sub, Invocation &inv, const std::string &name,
                         const std::string &help, std::function<QString(const QString &)> store)
{
    const auto take = [&inv, store](const std::string &text) {
        const QString error = store(fromCli(text));
        if (inv.argumentError.isEmpty())
            inv.argumentError = error;
    };
    return sub.add_option_function<std::string>(name, take, help)->type_name(name);
}

CLI::App *addCommand(CLI::App &root, Invocation &inv, const std::string &name,
                     const std::string &help, const QString &usage)
{
    CLI::App *sub = root.add_subcommand(name, help)->group(kCommandsGroup);
    sub->set_help_flag(); // help is found before parsing: see parseInvocation
    sub->footer(kCommandFooter);
    const QString synopsis =
        usage.isEmpty() ? QString::fromStdString(help.substr(0, help.find('\n'))) : usage;
    sub->preparse_callback([&inv, name, synopsis](std::size_t) {
        inv.command = QString::fromStdString(name);
        inv.usage = synopsis;
        inv.settle = needsPort;
    });
    return sub;
}

QString needsPort(Invocation &inv)
{
    if (inv.link.port.isEmpty())
        return QStringLiteral("no port given: add --port NAME (ktr450ctl ports lists the "
                              "serial ports)");
    return QString();
}

} // namespace cli

ParseOutcome parseInvocation(const QStringList &arguments)
{
    ParseOutcome out;
    Invocation &inv = out.invocation;
    CLI::App root(kDescription, "ktr450ctl");
    declare(root, inv);

    QString helpOf;
    if (asksForHelp(arguments, helpOf, root)) {
        inv.help = true;
        inv.helpText =
            helpOf.isEmpty()
                ? helpText()
                : QString::fromStdString(root.get_subcommand(helpOf.toStdString())->help());
        out.ok = true;
        return out;
    }

    std::vector<std::string> words = reversedForCli(arguments);
    try {
        root.parse(words);
    } catch (const CLI::ParseError &error) {
        out.error = usageError(error, root, inv, arguments);
        return out;
    }
    out.error = leftoverError(root, inv);
    if (out.error.isEmpty())
        out.error = inv.argumentError;
    if (!out.error.isEmpty())
        return out;
    if (!chosenCommand(root)) {
        out.error = QStringLiteral("no command given; %1").arg(helpHint());
        return out;
    }
    if (inv.settle)
        out.error = inv.settle(inv);
    out.ok = out.error.isEmpty();
    return out;
}

QString helpText()
{
    Invocation unused;
    CLI::App root(kDescription, "ktr450ctl");
    declare(root, unused);
    return QString::fromStdString(root.help());
}
