// libFuzzer entry for the reply decoder: the first byte chooses which
// pending-reply flags are raised, the rest is one tick's read block.
#include "commands.h"
#include "decoder.h"
#include "framefinder.h"
#include "inputs.h"
#include "modbus.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;

    // Bits 0 to 6 raise the flags, bit 7 puts the second tick past their
    // deadline; the second byte cuts the rest into two ticks' reads.
    PendingReplies flags;
    for (Query query : kQueries) {
        if ((data[0] >> int(query)) & 1)
            raisePending(flags, query, 0);
    }
    const PendingReplies before = flags;

    const QByteArray block(reinterpret_cast<const char *>(data + 2), int(size - 2));
    const int cut = block.isEmpty() ? 0 : data[1] % (block.size() + 1);
    const qint64 secondMs = (data[0] & 0x80) ? kReplyDeadlineMs : 360;
    for (const auto &tick :
         {std::make_pair(block.left(cut), qint64(0)), std::make_pair(block.mid(cut), secondMs)}) {
        const QVector<ReplyAction> actions = decodeTick(tick.first, flags, tick.second);

        // Flags are only ever lowered, a kept fragment is shorter than the
        // longest frame, and a tick shows a bounded amount: the echo, at most
        // three actions a frame (five bytes at least) in the bytes it
        // examines, and the flags' expiries.
        for (Query query : kQueries) {
            require(pendingFlag(flags, query) == 0 || pendingFlag(flags, query) == 1);
            require(pendingFlag(flags, query) <= pendingFlag(before, query));
        }
        require(flags.fragment.size() < kLongestFrame);
        require(actions.size() <= 1 + 3 * (kWorkingCopySize + kLongestFrame) / 5 + kQueryCount);
        for (const ReplyAction &action : actions) {
            require(action.text.size() <= 3 * 17 + 1 || action.kind == ReplyAction::AppendLog);
            require(action.text.size() < 200);
            require(action.kind != ReplyAction::WriteQuery);
            if (action.kind == ReplyAction::Confirm || action.kind == ReplyAction::ConfirmAndLog)
                require(action.source != nullptr && std::strlen(action.source) > 0);
        }
    }

    // The frame sizing and the strict readers take any bytes as well.
    const int replyLength = modbus::replyLength(block);
    const int requestLength = modbus::requestLength(block);
    require(replyLength >= -1 && replyLength <= 3 + 255 + 2);
    require(requestLength >= -1 && requestLength <= 9 + 255);
    const QString text = QString::fromLatin1(block);
    const Checked<int32_t> hundredths = checkHundredths(text);
    require(!hundredths.ok() || text.contains(QLatin1Char('0')) || hundredths.value != 0);
    (void)checkSlaveAddress(text, true);
    (void)checkIdentity(text);
    return 0;
}
