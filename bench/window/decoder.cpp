// Time to decode one full 160-byte read, the most a tick examines.
#include "decoder.h"
#include "commands.h"
#include "frame.h"

#include <QElapsedTimer>
#include <cstdio>

namespace {

double nanosecondsPerTick(const QByteArray &block, bool raiseFlags, int rounds)
{
    PendingReplies flags;
    QElapsedTimer clock;
    clock.start();
    int actions = 0;
    for (int i = 0; i < rounds; ++i) {
        if (raiseFlags) {
            for (Query query : kQueries)
                raisePending(flags, query, 0);
        }
        actions += decodeTick(block, flags, 0).size();
    }
    const double ns = double(clock.nsecsElapsed()) / rounds;
    if (actions == 0)
        std::printf("(no actions)\n");
    return ns;
}

} // namespace

int main()
{
    const int rounds = 200000;
    QByteArray own;
    for (int i = 0; i < 8; ++i)
        own += ownSetCaliParamRequest(150, -100, 1234).replace(1, 1, "\xA9");
    own += QByteArray(160 - own.size(), '\0');

    QByteArray modbusReply = QByteArray::fromHex("000310"
                                                 "000000960000ff9c000004d200010002");
    appendModbusCrc(modbusReply);
    modbusReply += QByteArray(160 - modbusReply.size(), '\x11');

    std::printf("decoding one 160-byte read, %d rounds each\n", rounds);
    std::printf("  8 own-protocol parameter replies : %8.2f us per tick\n",
                nanosecondsPerTick(own, false, rounds) / 1000.0);
    std::printf("  Modbus reply, all 7 flags raised : %8.2f us per tick\n",
                nanosecondsPerTick(modbusReply, true, rounds) / 1000.0);
    return 0;
}
