#include "ctloutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace {

QString compact(const QJsonDocument &document)
{
    return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
}

} // namespace

QString readingLine(const Reading &reading, bool json)
{
    return json ? compact(QJsonDocument(reading.json)) : reading.text;
}

QString watchLine(const QDateTime &time, const Reading &reading, bool json)
{
    const QString stamp = time.toUTC().toString(Qt::ISODateWithMs);
    if (!json)
        return stamp + QLatin1Char(',') + reading.text;
    QJsonObject object = reading.json;
    object.insert(QStringLiteral("time"), stamp);
    return compact(QJsonDocument(object));
}

QString portsListing(const QList<QSerialPortInfo> &ports, bool json)
{
    if (json) {
        QJsonArray array;
        for (const QSerialPortInfo &info : ports) {
            QJsonObject object;
            object.insert(QStringLiteral("port"), info.portName());
            object.insert(QStringLiteral("location"), info.systemLocation());
            object.insert(QStringLiteral("description"), info.description());
            object.insert(QStringLiteral("manufacturer"), info.manufacturer());
            array.append(object);
        }
        return compact(QJsonDocument(array));
    }
    QStringList lines;
    for (const QSerialPortInfo &info : ports) {
        QString line = info.portName();
        if (!info.description().isEmpty())
            line += QLatin1Char('\t') + info.description();
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString helpText()
{
    return QStringLiteral(
        R"(Usage: ktr450ctl [OPTIONS] COMMAND [ARGS]

Sends one command to a KTR450 noise sensor on a serial line, waits for the
sensor's reply, checks it and prints what it says, in the formats of the
configuration window. Options may stand anywhere on the line.

Options:
  --port NAME     serial port, as a path (/dev/ttyUSB0) or a name (ttyUSB0);
                  needed by every command but ports
  --baud RATE     9600 (default), 4800 or 2400; always 8 data bits, no parity,
                  one stop bit, no flow control
  --address N     slave address of Modbus requests, hexadecimal, 0 to f7.
                  Default 0, the address the window uses: the sensor answers
                  it whatever its own address, so only one sensor may be on
                  the line. Give the sensor's own address on a shared line.
  --timeout MS    how long to wait for a reply once the request has left the
                  wire (default 1000)
  --retries N     how often to send a request again that drew no valid reply:
                  none in time, or a damaged one (default 2)
  --json          print results as JSON, one object a line
  --verbose       show every frame sent and received on standard error
  -h, --help      show this text

Addresses are hexadecimal everywhere, as the window shows them (1f or 0x1f
is 31). Modbus commands need the sensor in Modbus (its usual state); identity,
version --own-protocol and params --own-protocol need it in its own protocol.

Commands (each with an example and what it prints):
  noise
      current noise value in dB
      ktr450ctl --port ttyUSB0 noise                     45.6
  serial
      serial number
      ktr450ctl --port ttyUSB0 serial                    2309-0451
  version [--own-protocol]
      firmware version, over Modbus or in the sensor's own protocol
      ktr450ctl --port ttyUSB0 version                   17-6-11
  origin
      raw value and noise value in dB
      ktr450ctl --port ttyUSB0 origin                    191 45.6
  address [NEW]
      read the sensor's own slave address, or set it to NEW (1 to f7)
      ktr450ctl --port ttyUSB0 address                   1
      ktr450ctl --port ttyUSB0 address 1f                address set to 1f
  calibration [--range R] [OFFSET FACTOR]
      read or set offset (-255 to 255) and factor (0 to 255) of calibration
      range R (0, 1 or 2; default 0)
      ktr450ctl --port ttyUSB0 calibration               -5 100
      ktr450ctl --port ttyUSB0 calibration --range 1 -5 100
                                                         calibration range 1 set to -5 100
  params [--own-protocol] [A B C]
      read or set calibration parameters A, B and C: decimal numbers with
      at most two decimal places, -21474836.48 to 21474836.47
      ktr450ctl --port ttyUSB0 params                    1 0.5 -0.25
      ktr450ctl --port ttyUSB0 params 1.5 -1 0           parameters set to 1.5 -1 0
  identity [ID]
      read or set the identity in the sensor's own protocol; ID is two
      groups of up to four hexadecimal digits
      ktr450ctl --port ttyUSB0 identity                  2309-0451
      ktr450ctl --port ttyUSB0 identity 12ab-00ff        identity set to 12ab-00ff
  factory-reset
      restore the sensor's factory settings
      ktr450ctl --port ttyUSB0 factory-reset             factory settings restored
  protocol modbus|own
      switch the sensor to Modbus or to its own protocol
      ktr450ctl --port ttyUSB0 protocol own              protocol switched to own
  ports
      list the serial ports of this computer (name, then description)
      ktr450ctl ports                                    ttyUSB0	USB-Serial Controller
  watch noise [--interval MS] [--count N]
      one timestamped noise reading a line: UTC time and value as CSV, or a
      JSON object a line with --json. A reading starts every MS ms (default
      1000; 0: one after the other, as fast as the line allows), N times or
      until interrupted (Ctrl-C). A failed reading is reported on standard
      error and the watch goes on.
      ktr450ctl --port ttyUSB0 watch noise --interval 500 --count 2
                                                         2024-05-01T10:00:00.000Z,45.6
                                                         2024-05-01T10:00:00.500Z,45.7
      ktr450ctl --port ttyUSB0 --json watch noise --count 1
                                                         {"noise":45.6,"time":"2024-05-01T10:00:00.000Z"}

Writes (address NEW, calibration OFFSET FACTOR, params A B C, identity ID,
factory-reset, protocol) refuse values that do not fit their field on the
wire, and succeed only when the sensor's echo or confirmation matches what
was written.

Exit status:
  0  success
  1  usage error: unknown command or option, missing or unfitting value
  2  the port cannot be opened (the serial library's reason is shown), or
     fails while in use
  3  no reply in time, after every retry
  4  bad reply: wrong CRC or checksum, an exception from the sensor, an
     unexpected frame, or an echo that does not match the write
  A watch ends with 0 when every reading succeeded, otherwise with the
  status of the last failed reading (2 ends it at once).
)");
}
