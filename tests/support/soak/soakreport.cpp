#include "windowsoak.h"

#include <QStringList>

QString SoakReport::summary() const
{
    QStringList lines;
    lines << QStringLiteral("commands %1 in %2 s (%3 ms each)%4")
                 .arg(commands)
                 .arg(elapsedMs / 1000.0, 0, 'f', 1)
                 .arg(commands > 0 ? elapsedMs / commands : 0)
                 .arg(timeLimitHit ? QStringLiteral(", stopped by the time limit") : QString());
    lines << QStringLiteral("requests received by the simulator %1, ignored in the other "
                            "protocol %2")
                 .arg(requests)
                 .arg(ignoredRequests);
    lines << QStringLiteral("replies %1: clean %2, faulted %3 (split %4, stray byte %5, "
                            "corrupted CRC/checksum %6, dropped %7)")
                 .arg(replies)
                 .arg(repliesClean)
                 .arg(repliesFaulted)
                 .arg(faultSplit)
                 .arg(faultStray)
                 .arg(faultCorrupt)
                 .arg(faultDrop);
    lines << QStringLiteral("clean commands %1: values checked %2, mismatches %3, clean replies "
                            "of which nothing showed %4, commands without reply that showed "
                            "nothing %5")
                 .arg(cleanCommands)
                 .arg(valuesChecked)
                 .arg(mismatches)
                 .arg(cleanNotShown)
                 .arg(silentChecked);
    lines << QStringLiteral("faulted commands %1: shown %2 (equal to the simulator's %3, echoes "
                            "of partial reads %4, other values decoded from faulted bytes %5), "
                            "not made of bytes on the line %6")
                 .arg(faultedCommands)
                 .arg(faultedShown)
                 .arg(faultedShownExact)
                 .arg(faultedEchoes)
                 .arg(faultedDecodedOther)
                 .arg(unexplained);
    lines << QStringLiteral("confirmation boxes %1; writes checked in the simulator %2, not "
                            "holding what was typed %3; protocol errors %4; line intact: %5")
                 .arg(boxes)
                 .arg(stateChecks)
                 .arg(stateMismatches)
                 .arg(protocolErrors)
                 .arg(simulatorEndedCleanly ? QStringLiteral("yes") : QStringLiteral("no"));
    for (const QString &example : examples)
        lines << QStringLiteral("  shown from faulted bytes: ") + example;
    for (const QString &problem : problems)
        lines << QStringLiteral("  problem: ") + problem;
    lines << (passed() ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    return lines.join(QLatin1Char('\n'));
}
