// The simulator's model of the sensor behind the sensor client's fake line,
// for tests of the client and of what is built on it without a pty or a
// process.
#pragma once

#include "faketransport.h"
#include "frame.h"
#include "requestparser.h"
#include "sensormodel.h"

#include <memory>

// Answers every request as `model` would, `afterMs` after it was written.
inline FakeTransport::Responder sensorResponder(std::shared_ptr<SensorModel> model, int afterMs = 5)
{
    return [model, afterMs](const QByteArray &request) -> QVector<FakeTransport::Piece> {
        const Request parsed{isOwnFrameAt(request, 0) ? Request::Own : Request::Modbus, request};
        const QByteArray reply = model->handle(parsed).reply;
        if (reply.isEmpty())
            return {};
        return {{afterMs, reply}};
    };
}

// Answers every request with `pieces`.
inline FakeTransport::Responder fixedResponder(const QVector<FakeTransport::Piece> &pieces)
{
    return [pieces](const QByteArray &) { return pieces; };
}
