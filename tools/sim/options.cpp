#include "options.h"

#include "optionvalues.h"

#include "commands.h"
#include "sensor.h"

#include <CLI/CLI.hpp>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char *const kDescription =
    "A KTR450 noise sensor on a serial line, for trying and testing the\n"
    "configuration tool without hardware.\n"
    "\n"
    "By default it creates a pseudo-terminal, prints the path of its slave end\n"
    "as the first line of standard output, and serves it until interrupted\n"
    "(Ctrl-C, SIGTERM) or told \"quit\". Open that path in the tool, or in any\n"
    "Modbus RTU master. With --port it serves a real serial port instead (and\n"
    "prints its path the same way).\n";

const char *const kEpilogue =
    "\n"
    "Modbus RTU (9600 8N1 unless --baud):\n"
    "  Answers requests to slave address 0 (as the tool sends them) and to its\n"
    "  own address; requests to other addresses and requests with a bad CRC are\n"
    "  ignored, as a real slave does. Like a real sensor it hears only requests\n"
    "  sent at its own baud rate (see a bus, below, for how that is read).\n"
    "  Registers:\n"
    "    input   0x0000         noise in tenths of a dB (drifts around --noise)\n"
    "    holding 0x0001-0x0002  serial number (read only)\n"
    "            0x0003         firmware version (read only)\n"
    "            0x0009         own address, writable: 1 to 247\n"
    "            0x00A1-0x00A3  raw value (32 bits) and mapped noise (read only)\n"
    "            0x00A5         factory reset: write 1\n"
    "            0x00B1         protocol: write 0 for the own protocol, 3 for Modbus\n"
    "            0x00B2-0x00B7  calibration parameters A, B, C: 32 bits each,\n"
    "                           hundredths, high register first\n"
    "            0x00C3-0x00C8  calibration offset and factor of ranges 0 to 2\n"
    "  Functions 0x03, 0x04, 0x06 and 0x10. Any other function gets exception 1\n"
    "  (illegal function), an unknown register exception 2 (illegal data\n"
    "  address), a value it refuses exception 3 (illegal data value). A write\n"
    "  is echoed from the address the request named, also when it changes the\n"
    "  address.\n"
    "\n"
    "Own protocol (19-byte frames AA, command, 15 data bytes, checksum, AB; a\n"
    "frame with a wrong checksum is ignored):\n"
    "  A6 identity     -> A6, serial number in bytes 8-11\n"
    "  B5 version      -> B5, version in bytes 9-11\n"
    "  A7 set identity -> sets the serial number from bytes 8-11, echoes the frame\n"
    "  A9 51 read      -> A9 51, parameters A, B, C in bytes 3-14\n"
    "  A8 51 write     -> sets A, B, C from bytes 3-14, answers A8 51 A B C\n"
    "\n"
    "Protocol switch: the sensor answers one protocol at a time. While its own\n"
    "protocol is selected it ignores Modbus requests except single-register\n"
    "writes to 0x00B1 (switch back) and 0x00A5 (factory reset), so that it can\n"
    "always be brought back; while Modbus is selected it ignores own-protocol\n"
    "frames. Factory reset restores the settings given by the options\n"
    "(address, serial number, version, parameters, calibration, protocol).\n"
    "\n"
    "A bus (--bus or --sensor): several sensors share the line, each with its\n"
    "  own address, serial number, protocol and baud rate. Each answers Modbus\n"
    "  requests to its own address. A request to address 0, or an own-protocol\n"
    "  frame, is answered by every sensor that takes it; two or more replies\n"
    "  collide and reach the master as one frame, the byte-wise OR of the\n"
    "  replies, as long as the longest (what two drivers on one pair make of\n"
    "  it is undefined; the OR stands for it), so its CRC or checksum fails\n"
    "  unless the replies are the same. A sensor hears only requests sent at its\n"
    "  own baud rate: on a pseudo-terminal the simulator reads the rate the\n"
    "  master set (Linux reports the slave's settings on the master side), on\n"
    "  --port the port's rate; at any other rate it answers nothing. Not\n"
    "  emulated: the garbage a sensor at another rate would send, partial\n"
    "  overlaps of replies of different lengths or delays, and bus contention\n"
    "  between the master and a sensor. With --line-rate every reply is paced\n"
    "  at its sensor's baud rate. Control commands act on the first sensor.\n"
    "\n"
    "Control commands, one a line on standard input:\n"
    "  report          send a 0xA5 report (raw value, noise, AD count) now\n"
    "  factory-done    send the 0xB4 FD 01 factory-reset confirmation\n"
    "  calibration     send 0xB4 0B with the offset and factor of range 0\n"
    "  calibrate-done  send the 0xB4 0C calibration confirmation\n"
    "  noise DB        set the noise level to DB decibels\n"
    "  state           print the sensor's settings\n"
    "  quit            stop\n"
    "These frames go out in either protocol; --report-every sends reports only\n"
    "while the own protocol is selected, since a Modbus slave never speaks\n"
    "unasked.\n"
    "\n"
    "Log: every frame received and sent goes to standard error, one line each:\n"
    "  RX|TX hh:mm:ss.zzz hex bytes (note: why it was ignored, exception, fault)\n"
    "Other events start with \"--\".\n"
    "\n"
    "Exit status: 0 after an interrupt or \"quit\"; 1 when the pseudo-terminal,\n"
    "the port or the link cannot be set up, or the port fails; 2 on a bad option.\n";

// One option of the command line: how it is shown, the text it has when not
// given, and how its text is read into SimOptions (false: refused).
struct SimOption {
    const char *name;         // without the leading "--"
    const char *valueName;    // nullptr: a flag, read with an empty text when given
    const char *help;         // lines of at most 48 characters
    const char *defaultValue; // nullptr: read only when given
    bool (*read)(const QString &text, SimOptions &options);
};

const SimOption kOptions[] = {
    {"link", "PATH",
     "Also make PATH a symbolic link to the\n"
     "pseudo-terminal's slave (removed on exit).",
     nullptr,
     [](const QString &text, SimOptions &o) {
         o.linkPath = text;
         return !text.isEmpty();
     }},
    {"port", "NAME", "Serve the serial port NAME instead of a\npseudo-terminal.", nullptr,
     [](const QString &text, SimOptions &o) {
         o.portName = text;
         return !text.isEmpty();
     }},
    {"baud", "N",
     "The rate the sensor listens at: a request\n"
     "sent at another rate goes unanswered. Also\n"
     "the rate of --port and the pace of\n"
     "--line-rate (default 9600).",
     "9600",
     [](const QString &text, SimOptions &o) { return readInt<50, 4000000>(text, o.realism.baud); }},
    {"address", "ADDR",
     "Own Modbus address, hexadecimal like --bus\n"
     "(2a), 1 to f7 (default 1). Decimal only\n"
     "where it cannot be mistaken: three digits,\n"
     "100 to 247 (no hex address has three).",
     "1",
     [](const QString &text, SimOptions &o) { return parseSlaveAddress(text, o.config.address); }},
    {"serial", "HEX",
     "Serial number and identity, 8 hex digits, a\n"
     "dash allowed (default 2309-0451).",
     "2309-0451",
     [](const QString &text, SimOptions &o) {
         return parseSerialNumber(text, o.config.serialNumber);
     }},
    {"firmware", "VERSION",
     "Firmware version MAJOR-MINOR-PATCH: 16-31,\n"
     "0-15, -128-127 (default 17-6-11).",
     "17-6-11",
     [](const QString &text, SimOptions &o) { return parseFirmware(text, o.config.version); }},
    {"params", "A,B,C", "Calibration parameters A,B,C (default\n1,0.5,-0.25).", "1,0.5,-0.25",
     readParams},
    {"calibration", "OFFSET,FACTOR",
     "Calibration offset (-255 to 255) and factor\n"
     "(0 to 255) of every range (default 0,100).",
     "0,100", readCalibration},
    {"own-protocol", nullptr, "Start with the own protocol selected instead\nof Modbus.", nullptr,
     [](const QString &, SimOptions &o) {
         o.config.ownProtocol = true;
         return true;
     }},
    {"noise", "DB", "Noise level in dB (default 45.6).", "45.6",
     [](const QString &text, SimOptions &o) { return parseDecibels(text, o.noiseTenths); }},
    {"drift", "DB",
     "How far the noise value wanders from the\n"
     "level, in dB; 0 fixes it (default 1.5).",
     "1.5",
     [](const QString &text, SimOptions &o) {
         double real = 0;
         if (!parseReal(text, 0.0, 100.0, real))
             return false;
         o.driftTenths = int(std::lround(real * 10.0));
         return true;
     }},
    {"seed", "N",
     "Seed of the noise drift and the faults: the\n"
     "same seed gives the same values (default:\n"
     "from the clock, logged at start).",
     nullptr,
     [](const QString &text, SimOptions &o) {
         o.seedGiven = true;
         return readInt<0, std::numeric_limits<uint32_t>::max()>(text, o.seed);
     }},
    {"report-every", "MS",
     "Send a 0xA5 report every MS milliseconds\n"
     "while the own protocol is selected.",
     "0",
     [](const QString &text, SimOptions &o) { return readInt<0, 3600000>(text, o.reportEveryMs); }},
    {"bus", "ADDRS",
     "Several sensors on the line at the hex\n"
     "addresses ADDRS (1,5,1f), all at --baud,\n"
     "serial numbers --serial, --serial + 1, ...",
     nullptr, readBusAddresses},
    {"line-rate", nullptr,
     "Send reply bytes at the pace of the baud rate\n"
     "(ten bit times a byte).",
     nullptr,
     [](const QString &, SimOptions &o) {
         o.realism.lineRate = true;
         return true;
     }},
    {"reply-delay", "MS", "Wait MS milliseconds before each reply.", "0",
     [](const QString &text, SimOptions &o) {
         return readInt<0, 60000>(text, o.realism.replyDelayMs);
     }},
    {"split-prob", "P",
     "Probability that a reply goes out in two\n"
     "writes with a gap.",
     "0",
     [](const QString &text, SimOptions &o) {
         return readProbability(text, o.realism.splitProbability);
     }},
    {"split-gap", "MS[,MS...]",
     "The gap of a split reply (default 50); with\n"
     "several, each split takes one at random.",
     "50",
     [](const QString &text, SimOptions &o) {
         o.realism.splitGapsMs.clear();
         for (const QString &part : text.split(QLatin1Char(','))) {
             int gap = 0;
             if (!readInt<0, 60000>(part, gap))
                 return false;
             o.realism.splitGapsMs << gap;
         }
         return true;
     }},
    {"late-prob", "P",
     "Probability that a reply comes late, after\n"
     "--late-delay more milliseconds.",
     "0",
     [](const QString &text, SimOptions &o) {
         return readProbability(text, o.realism.lateProbability);
     }},
    {"late-delay", "MS", "How late a late reply is (default 2500).", "2500",
     [](const QString &text, SimOptions &o) {
         return readInt<0, 60000>(text, o.realism.lateDelayMs);
     }},
    {"stray-prob", "P", "Probability of a stray byte before a reply.", "0",
     [](const QString &text, SimOptions &o) {
         return readProbability(text, o.realism.strayProbability);
     }},
    {"corrupt-prob", "P",
     "Probability that a reply's CRC (or checksum)\n"
     "is corrupted.",
     "0",
     [](const QString &text, SimOptions &o) {
         return readProbability(text, o.realism.corruptProbability);
     }},
    {"refuse-write", "REG",
     "Refuse writes to register REG (as 0xB2 or\n"
     "178) with exception 3, as a sensor with\n"
     "that setting locked does.",
     nullptr,
     [](const QString &text, SimOptions &o) {
         return readInt<0, 0xFFFF>(text, o.config.refusedRegister);
     }},
    {"drop-prob", "P", "Probability that a reply is not sent.", "0",
     [](const QString &text, SimOptions &o) {
         return readProbability(text, o.realism.dropProbability);
     }},
};

constexpr size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

// The table's options as CLI11 knows them, and the text each was given;
// --sensor, which may be repeated, on its own.
struct Declared {
    std::array<CLI::Option *, kOptionCount> option{};
    std::array<std::string, kOptionCount> text;
    std::vector<std::string> sensors;
};

// The sensors of a bus, from --sensor or --bus; empty without either.
QString makeBus(const Declared &declared, SimOptions &options)
{
    if (!declared.sensors.empty() && !options.busAddresses.isEmpty())
        return QStringLiteral("--bus and --sensor exclude each other: give one");
    for (const std::string &word : declared.sensors) {
        BusSensor sensor;
        const QString text = QString::fromStdString(word);
        if (!readSensor(text, options, sensor))
            return QStringLiteral("invalid value \"%1\" for --sensor: give "
                                  "ADDR,SERIAL,modbus|own,BAUD[,FIRMWARE]")
                .arg(text);
        const auto sameAddress = [&sensor](const BusSensor &other) {
            return other.config.address == sensor.config.address;
        };
        if (std::any_of(options.bus.cbegin(), options.bus.cend(), sameAddress))
            return QStringLiteral("two sensors with address %1")
                .arg(int(sensor.config.address), 0, 16);
        options.bus << sensor;
    }
    for (int i = 0; i < options.busAddresses.size(); ++i) {
        BusSensor sensor{options.config, options.realism.baud};
        sensor.config.address = options.busAddresses[i];
        sensor.config.serialNumber += uint32_t(i);
        options.bus << sensor;
    }
    return QString();
}

void declareOptions(CLI::App &app, Declared &declared)
{
    app.set_help_flag("-h,--help", "Show this help.");
    app.footer(kEpilogue);
    app.get_formatter()->column_width(31);
    app.allow_extras(); // reported by leftoverError() in plain words
    // A later value replaces an earlier one; a flag given a value is refused.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.option_defaults()->disable_flag_override();
    for (size_t i = 0; i < kOptionCount; ++i) {
        const SimOption &row = kOptions[i];
        const std::string name = std::string("--") + row.name;
        declared.option[i] =
            row.valueName
                ? app.add_option(name, declared.text[i], row.help)->type_name(row.valueName)
                : app.add_flag(name, row.help);
    }
    app.add_option("--sensor", declared.sensors,
                   "One sensor of a bus, repeatable:\n"
                   "ADDR,SERIAL,modbus|own,BAUD[,FIRMWARE]\n"
                   "(1f,2309-0452,own,4800).")
        ->type_name("ENTRY")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

// Reads every option given, and the default of every other one that has one,
// in the table's order; returns the first refusal.
QString readOptions(const Declared &declared, SimOptions &options)
{
    for (size_t i = 0; i < kOptionCount; ++i) {
        const SimOption &row = kOptions[i];
        const bool given = declared.option[i]->count() > 0;
        if (!given && !row.defaultValue)
            continue;
        const QString text =
            given ? QString::fromStdString(declared.text[i]) : QLatin1String(row.defaultValue);
        if (!row.read(text, options))
            return QStringLiteral("invalid value \"%1\" for --%2")
                .arg(text, QLatin1String(row.name));
    }
    if (!options.portName.isEmpty() && !options.linkPath.isEmpty())
        return QStringLiteral("--link applies to the pseudo-terminal only, not to --port");
    return makeBus(declared, options);
}

// The first word CLI11 could not place, in plain words; empty when none.
QString leftoverError(const CLI::App &app)
{
    bool optionsEnded = false;
    for (const std::string &word : app.remaining()) {
        const QString text = QString::fromStdString(word);
        if (word == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && word.size() > 1 && word[0] == '-')
            return QStringLiteral("unknown option '%1'").arg(text.section(QLatin1Char('='), 0, 0));
        return QStringLiteral("unexpected argument \"%1\"").arg(text);
    }
    return QString();
}

} // namespace

bool parseSimOptions(const QStringList &arguments, SimOptions &options, QString &message,
                     bool &helpRequested)
{
    helpRequested = false;
    CLI::App app(kDescription, "ktr450-sim");
    Declared declared;
    declareOptions(app, declared);

    // CLI11 takes the words after the program name, last first.
    const QStringList words = arguments.mid(1);
    std::vector<std::string> reversed;
    for (auto it = words.crbegin(); it != words.crend(); ++it)
        reversed.push_back(it->toStdString());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp &) {
        helpRequested = true;
        message = QString::fromStdString(app.help());
        return false;
    } catch (const CLI::ParseError &error) {
        message = QString::fromStdString(error.what());
        return false;
    }
    message = leftoverError(app);
    if (message.isEmpty())
        message = readOptions(declared, options);
    return message.isEmpty();
}
