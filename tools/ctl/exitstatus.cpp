#include "exitstatus.h"

#include <QStringList>

namespace {

const struct {
    ExitStatus status;
    const char *meaning; // lines after the first are indented under it
} kStatuses[] = {
    {kExitSuccess, "success"},
    {kExitUsage, "usage error: unknown command or option, missing or unfitting value"},
    {kExitPort, "the port cannot be opened (the serial library's reason is shown), or\n"
                "fails while in use"},
    {kExitNoReply, "no reply in time, after every retry"},
    {kExitBadReply, "bad reply: wrong CRC or checksum, an exception from the sensor, an\n"
                    "unexpected frame, an echo that does not match the write, or a write\n"
                    "no sensor confirmed (only the request's own echo, or silence, on\n"
                    "the read that follows it)"},
    {kExitFail, "verify: FAIL, the readings are outside the tolerance or the spread;\n"
                "commission: a sensor failed"},
    {kExitFile, "a file or database asked for cannot be written or read: verify's\n"
                "--record, --pdf, --svg or --png (a verdict reached is printed all the\n"
                "same), history's results database, report's run or certificate, or a\n"
                "commissioning record neither the database nor the spool would take"},
};

} // namespace

ExitStatus exitStatusFor(const Outcome &outcome)
{
    switch (outcome.kind) {
    case Outcome::Done:
        return kExitSuccess;
    case Outcome::NoReply:
        return kExitNoReply;
    case Outcome::BadReply:
        return kExitBadReply;
    case Outcome::PortFailure:
        return kExitPort;
    }
    return kExitBadReply;
}

QString exitStatusHelp()
{
    QStringList lines{QStringLiteral("Exit status:")};
    for (const auto &row : kStatuses)
        lines << QStringLiteral("  %1  %2")
                     .arg(row.status)
                     .arg(QString::fromLatin1(row.meaning)
                              .replace(QLatin1Char('\n'), QStringLiteral("\n     ")));
    return lines.join(QLatin1Char('\n'));
}
