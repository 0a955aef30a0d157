// libFuzzer entry for the reply decoder: the first byte chooses which
// pending-reply flags are raised, the rest is one tick's read block.
#include "commands.h"
#include "decoder.h"
#include "modbus.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;

    PendingReplies flags;
    int PendingReplies::*const members[] = {
        &PendingReplies::waitNoise,     &PendingReplies::waitDeviceAddr,
        &PendingReplies::waitCalibrate, &PendingReplies::waitSN,
        &PendingReplies::waitVersion,   &PendingReplies::waitOrigin,
        &PendingReplies::waitCaliParam};
    for (int i = 0; i < 7; ++i)
        flags.*members[i] = (data[0] >> i) & 1;
    const PendingReplies before = flags;

    const QByteArray block(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const QVector<ReplyAction> actions = decodeTick(block, flags);

    // Flags are only ever lowered; a tick shows a bounded amount.
    for (int i = 0; i < 7; ++i) {
        require(flags.*members[i] == 0 || flags.*members[i] == 1);
        require(flags.*members[i] <= before.*members[i]);
    }
    require(actions.size() <= 1 + 8 * 3 + 11);
    for (const ReplyAction &action : actions) {
        require(action.text.size() <= 3 * 17 + 1 || action.kind == ReplyAction::AppendLog);
        require(action.text.size() < 200);
        if (action.kind == ReplyAction::Confirm || action.kind == ReplyAction::ConfirmAndLog)
            require(action.source != nullptr && std::strlen(action.source) > 0);
    }

    // The frame sizing and the parameter conversion take any bytes as well.
    const int replyLength = modbus::replyLength(block);
    const int requestLength = modbus::requestLength(block);
    require(replyLength >= -1 && replyLength <= 3 + 255 + 2);
    require(requestLength >= -1 && requestLength <= 9 + 255);
    if (size >= 5) {
        float value;
        std::memcpy(&value, data + 1, sizeof value);
        (void)caliParamToWire(value);
    }
    return 0;
}
