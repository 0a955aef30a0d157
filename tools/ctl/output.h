// Everything ktr450ctl writes goes through one writer: results on standard
// output as text lines or, with --json, one JSON object a line; problems on
// standard error as "ktr450ctl: ..." lines. Every write is flushed at once,
// so a script or a log sees each line as it happens.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <functional>

class Output
{
  public:
    using Sink = std::function<void(const QByteArray &)>;
    Output(bool json, Sink out, Sink err, bool outIsTerminal = false, bool errIsTerminal = false);

    bool json() const { return json_; }
    bool outIsTerminal() const { return outIsTerminal_; }
    bool errIsTerminal() const { return errIsTerminal_; }

    // One result: `text` as a line, or with --json `object` as one.
    void result(const QString &text, const QJsonObject &object);
    // One line of standard output, as given.
    void line(const QString &text);
    // One problem, note or warning on standard error.
    void error(const QString &message);
    // Bytes as they are (terminal control, a whole listing).
    void raw(const QByteArray &bytes) { out_(bytes); }
    void rawError(const QByteArray &bytes) { err_(bytes); }

    // A JSON object as one line of text.
    static QString compact(const QJsonObject &object);

  private:
    bool json_;
    Sink out_;
    Sink err_;
    bool outIsTerminal_;
    bool errIsTerminal_;
};
