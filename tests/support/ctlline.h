// ktr450ctl's command line run inside a test on the sensor client's fake
// line: its exit status, what it printed and every frame it wrote.
#pragma once

#include "commandline.h"
#include "faketransport.h"

#include <QVector>
#include <atomic>
#include <memory>

struct LineRun {
    int status = -1;
    QString out;
    QString err;
    QVector<QByteArray> written;
};

// Runs `arguments` as ktr450ctl would, with `responder` behind the line; a
// line refused by the parser is status 1 with its error.
inline LineRun runLine(const QStringList &arguments, const FakeTransport::Responder &responder = {},
                       bool stopped = false)
{
    // A fake line that keeps what is written after the command is done.
    class LoggedFake : public FakeTransport
    {
      public:
        explicit LoggedFake(QVector<QByteArray> &log) : log_(log) {}
        bool write(const QByteArray &bytes, int timeoutMs, QString &error) override
        {
            log_ << bytes;
            return FakeTransport::write(bytes, timeoutMs, error);
        }

      private:
        QVector<QByteArray> &log_;
    };

    LineRun run;
    const ParseOutcome parsed = parseInvocation(arguments);
    if (!parsed.ok) {
        run.status = 1;
        run.err = parsed.error;
        return run;
    }
    QByteArray out;
    QByteArray err;
    Output output(
        parsed.invocation.json, [&out](const QByteArray &bytes) { out += bytes; },
        [&err](const QByteArray &bytes) { err += bytes; });
    const std::atomic<bool> stop{stopped};
    Session session{parsed.invocation.link,
                    parsed.invocation.verbose,
                    output,
                    stop,
                    {},
                    [&run, responder] {
                        auto line = std::make_unique<LoggedFake>(run.written);
                        line->setResponder(responder);
                        return line;
                    },
                    QStringLiteral("test")};
    run.status = parsed.invocation.run(session);
    run.out = QString::fromUtf8(out);
    run.err = QString::fromUtf8(err);
    return run;
}
