#include "options.h"

#include "commands.h"

#include <QCommandLineParser>
#include <QRegularExpression>
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
    "prints its path the same way).";

const char *const kEpilogue =
    "\n"
    "Modbus RTU (9600 8N1 unless --baud):\n"
    "  Answers requests to slave address 0 (as the tool sends them) and to its\n"
    "  own address; requests to other addresses and requests with a bad CRC are\n"
    "  ignored, as a real slave does. Registers:\n"
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

bool parseInt(const QString &text, qint64 low, qint64 high, qint64 &value)
{
    bool ok = false;
    value = text.trimmed().toLongLong(&ok, 0);
    return ok && value >= low && value <= high;
}

bool parseReal(const QString &text, double low, double high, double &value)
{
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) && value >= low && value <= high;
}

bool parseHundredths(const QString &text, int32_t &value)
{
    double real = 0;
    if (!parseReal(text, -21474836.48, 21474836.47, real))
        return false;
    value = int32_t(std::llround(real * 100.0));
    return true;
}

} // namespace

bool parseDecibels(const QString &text, int &tenths)
{
    double decibels = 0;
    if (!parseReal(text, 0.0, 6553.5, decibels))
        return false;
    tenths = int(std::lround(decibels * 10.0));
    return true;
}

bool parseFirmware(const QString &text, FirmwareVersion &version)
{
    static const QRegularExpression form(QStringLiteral("^(\\d+)[.-](\\d+)[.-](-?\\d+)$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    const int major = match.captured(1).toInt();
    const int minor = match.captured(2).toInt();
    const int patch = match.captured(3).toInt();
    if (major < 16 || major > 31 || minor < 0 || minor > 15 || patch < -128 || patch > 127)
        return false;
    version = {major, minor, patch};
    return true;
}

bool parseSerialNumber(const QString &text, uint32_t &serialNumber)
{
    QString digits = text.trimmed();
    digits.remove(QLatin1Char('-'));
    if (digits.isEmpty() || digits.size() > 8)
        return false;
    bool ok = false;
    serialNumber = digits.toUInt(&ok, 16);
    return ok;
}

bool parseSimOptions(const QStringList &arguments, SimOptions &options, QString &message,
                     bool &helpRequested)
{
    helpRequested = false;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make PATH a symbolic link to the "
                                                 "pseudo-terminal's slave (removed on exit)."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Serve the serial port NAME instead of a "
                                                 "pseudo-terminal."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("Baud rate of --port, and the pace of "
                                                 "--line-rate (default 9600)."),
                                  QStringLiteral("N"), QStringLiteral("9600"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Own Modbus address, 1 to 247 (default 1)."),
                                     QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("Serial number and identity, 8 hex digits, "
                                                   "a dash allowed (default 2309-0451)."),
                                    QStringLiteral("HEX"), QStringLiteral("2309-0451"));
    const QCommandLineOption firmware(QStringLiteral("firmware"),
                                      QStringLiteral("Firmware version MAJOR-MINOR-PATCH: 16-31, "
                                                     "0-15, -128-127 (default 17-6-11)."),
                                      QStringLiteral("VERSION"), QStringLiteral("17-6-11"));
    const QCommandLineOption params(QStringLiteral("params"),
                                    QStringLiteral("Calibration parameters A,B,C (default "
                                                   "1,0.5,-0.25)."),
                                    QStringLiteral("A,B,C"), QStringLiteral("1,0.5,-0.25"));
    const QCommandLineOption calibration(QStringLiteral("calibration"),
                                         QStringLiteral("Calibration offset (-255 to 255) and "
                                                        "factor (0 to 255) of every range "
                                                        "(default 0,100)."),
                                         QStringLiteral("OFFSET,FACTOR"), QStringLiteral("0,100"));
    const QCommandLineOption ownProtocol(QStringLiteral("own-protocol"),
                                         QStringLiteral("Start with the own protocol selected "
                                                        "instead of Modbus."));
    const QCommandLineOption noise(QStringLiteral("noise"),
                                   QStringLiteral("Noise level in dB (default 45.6)."),
                                   QStringLiteral("DB"), QStringLiteral("45.6"));
    const QCommandLineOption drift(QStringLiteral("drift"),
                                   QStringLiteral("How far the noise value wanders from the "
                                                  "level, in dB; 0 fixes it (default 1.5)."),
                                   QStringLiteral("DB"), QStringLiteral("1.5"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the noise drift and the faults: the "
                                                 "same seed gives the same values (default: "
                                                 "from the clock, logged at start)."),
                                  QStringLiteral("N"));
    const QCommandLineOption reportEvery(QStringLiteral("report-every"),
                                         QStringLiteral("Send a 0xA5 report every MS "
                                                        "milliseconds while the own protocol "
                                                        "is selected."),
                                         QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption lineRate(QStringLiteral("line-rate"),
                                      QStringLiteral("Send reply bytes at the pace of the baud "
                                                     "rate (ten bit times a byte)."));
    const QCommandLineOption replyDelay(QStringLiteral("reply-delay"),
                                        QStringLiteral("Wait MS milliseconds before each reply."),
                                        QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption splitProb(QStringLiteral("split-prob"),
                                       QStringLiteral("Probability that a reply goes out in two "
                                                      "writes with a gap."),
                                       QStringLiteral("P"), QStringLiteral("0"));
    const QCommandLineOption splitGap(QStringLiteral("split-gap"),
                                      QStringLiteral("The gap of a split reply (default 50)."),
                                      QStringLiteral("MS"), QStringLiteral("50"));
    const QCommandLineOption strayProb(QStringLiteral("stray-prob"),
                                       QStringLiteral("Probability of a stray byte before a "
                                                      "reply."),
                                       QStringLiteral("P"), QStringLiteral("0"));
    const QCommandLineOption corruptProb(QStringLiteral("corrupt-prob"),
                                         QStringLiteral("Probability that a reply's CRC (or "
                                                        "checksum) is corrupted."),
                                         QStringLiteral("P"), QStringLiteral("0"));
    const QCommandLineOption dropProb(QStringLiteral("drop-prob"),
                                      QStringLiteral("Probability that a reply is not sent."),
                                      QStringLiteral("P"), QStringLiteral("0"));
    parser.addOptions({help,      link,        port,        baud,        address,   serial,
                       firmware,  params,      calibration, ownProtocol, noise,     drift,
                       seed,      reportEvery, lineRate,    replyDelay,  splitProb, splitGap,
                       strayProb, corruptProb, dropProb});

    if (!parser.parse(arguments)) {
        message = parser.errorText();
        return false;
    }
    if (parser.isSet(help)) {
        helpRequested = true;
        message = parser.helpText() + QString::fromLatin1(kEpilogue);
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        message = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments()[0]);
        return false;
    }
    const auto bad = [&message](const QCommandLineOption &option, const QString &value) {
        message = QStringLiteral("invalid value \"%1\" for --%2").arg(value, option.names().last());
        return false;
    };

    options.portName = parser.value(port);
    options.linkPath = parser.value(link);
    if (!options.portName.isEmpty() && !options.linkPath.isEmpty()) {
        message = QStringLiteral("--link applies to the pseudo-terminal only, not to --port");
        return false;
    }
    if (parser.isSet(port) && options.portName.isEmpty())
        return bad(port, options.portName);
    if (parser.isSet(link) && options.linkPath.isEmpty())
        return bad(link, options.linkPath);

    qint64 integer = 0;
    if (!parseInt(parser.value(baud), 50, 4000000, integer))
        return bad(baud, parser.value(baud));
    options.realism.baud = int(integer);
    if (!parseInt(parser.value(address), 1, 247, integer))
        return bad(address, parser.value(address));
    options.config.address = uint8_t(integer);
    if (!parseSerialNumber(parser.value(serial), options.config.serialNumber))
        return bad(serial, parser.value(serial));
    if (!parseFirmware(parser.value(firmware), options.config.version))
        return bad(firmware, parser.value(firmware));

    const QStringList paramTexts = parser.value(params).split(QLatin1Char(','));
    if (paramTexts.size() != 3)
        return bad(params, parser.value(params));
    for (int i = 0; i < 3; ++i) {
        if (!parseHundredths(paramTexts[i], options.config.caliParams[size_t(i)]))
            return bad(params, parser.value(params));
    }

    const QStringList calibrationTexts = parser.value(calibration).split(QLatin1Char(','));
    qint64 offset = 0;
    qint64 factor = 0;
    if (calibrationTexts.size() != 2 || !parseInt(calibrationTexts[0], -255, 255, offset) ||
        !parseInt(calibrationTexts[1], 0, 255, factor))
        return bad(calibration, parser.value(calibration));
    const QVector<uint16_t> pair = calibrationRegisters(int(offset), int(factor));
    for (size_t range = 0; range < 3; ++range) {
        options.config.calibration[2 * range] = pair[0];
        options.config.calibration[2 * range + 1] = pair[1];
    }
    options.config.ownProtocol = parser.isSet(ownProtocol);

    if (!parseDecibels(parser.value(noise), options.noiseTenths))
        return bad(noise, parser.value(noise));
    double real = 0;
    if (!parseReal(parser.value(drift), 0.0, 100.0, real))
        return bad(drift, parser.value(drift));
    options.driftTenths = int(std::lround(real * 10.0));
    options.seedGiven = parser.isSet(seed);
    if (options.seedGiven) {
        if (!parseInt(parser.value(seed), 0, std::numeric_limits<uint32_t>::max(), integer))
            return bad(seed, parser.value(seed));
        options.seed = uint32_t(integer);
    }
    if (!parseInt(parser.value(reportEvery), 0, 3600000, integer))
        return bad(reportEvery, parser.value(reportEvery));
    options.reportEveryMs = int(integer);

    options.realism.lineRate = parser.isSet(lineRate);
    if (!parseInt(parser.value(replyDelay), 0, 60000, integer))
        return bad(replyDelay, parser.value(replyDelay));
    options.realism.replyDelayMs = int(integer);
    if (!parseInt(parser.value(splitGap), 0, 60000, integer))
        return bad(splitGap, parser.value(splitGap));
    options.realism.splitGapMs = int(integer);
    const struct {
        const QCommandLineOption &option;
        double &target;
    } probabilities[] = {{splitProb, options.realism.splitProbability},
                         {strayProb, options.realism.strayProbability},
                         {corruptProb, options.realism.corruptProbability},
                         {dropProb, options.realism.dropProbability}};
    for (const auto &probability : probabilities) {
        if (!parseReal(parser.value(probability.option), 0.0, 1.0, probability.target))
            return bad(probability.option, parser.value(probability.option));
    }
    return true;
}
