// libFuzzer entry for the simulator's request side: the first byte chooses
// how the rest is cut into pieces as a line would deliver them; every piece
// goes through the request parser and every request through the sensor model.
#include "frame.h"
#include "modbus.h"
#include "requestparser.h"
#include "sensor.h"
#include "sensormodel.h"

#include <cstddef>
#include <cstdint>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

const uint8_t *bytesOf(const QByteArray &frame)
{
    return reinterpret_cast<const uint8_t *>(frame.constData());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    const int piece = 1 + (data[0] & 0x1F);
    const bool ownProtocol = data[0] & 0x80;
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), int(size - 1));

    SensorConfig config;
    config.ownProtocol = ownProtocol;
    SensorModel model(config, 456, 15, data[0]);
    RequestParser parser;
    QVector<Request> requests;
    QByteArray bytes;
    for (int at = 0; at < input.size(); at += piece) {
        bytes.setRawData(input.constData() + at, uint(qMin(piece, input.size() - at)));
        requests += parser.feed(bytes);
        require(parser.buffered() <= 9 + 255 + piece);
    }
    requests += parser.lineIdle();
    require(parser.buffered() == 0);

    int accounted = parser.takeDropped().size();
    for (const Request &request : requests) {
        accounted += request.bytes.size();
        if (request.kind == Request::Own) {
            require(request.bytes.size() == kOwnFrameSize && isOwnFrameAt(request.bytes, 0));
            require(request.bytes[kOwnChecksumOffset] == char(ownChecksum(bytesOf(request.bytes))));
        } else {
            require(request.bytes.size() >= 4 && modbusCrcMatches(request.bytes));
        }
        const QByteArray reply = model.handle(request).reply;
        if (reply.isEmpty())
            continue;
        if (request.kind == Request::Own) {
            require(reply.size() == kOwnFrameSize && isOwnFrameAt(reply, 0));
            require(reply[kOwnChecksumOffset] == char(ownChecksum(bytesOf(reply))));
        } else {
            require(modbusCrcMatches(reply) && reply[0] == request.bytes[0]);
            if (uint8_t(reply[1]) & modbus::kExceptionBit)
                require(reply.size() == 5 &&
                        uint8_t(reply[1]) == uint8_t(request.bytes[1] | modbus::kExceptionBit));
            else
                require(modbus::replyLength(reply) == reply.size());
        }
    }
    require(accounted == input.size());
    // The unprompted frames stay well formed whatever the requests did.
    for (const QByteArray &frame : {model.reportFrame(), model.factoryDoneFrame(),
                                    model.calibrationFrame(), model.calibrateDoneFrame()})
        require(frame.size() == kOwnFrameSize && isOwnFrameAt(frame, 0));
    return 0;
}
