// The command line of ktr450ctl, declared with CLI11: the options that say
// how to reach the sensor, then one subcommand a command, each declared in
// its own file (commands/) with its options and the callback that runs it.
// Every value goes through a strict reader (inputs.h), so a refused value is
// refused in the window's words.
#pragma once

#include "inputs.h"
#include "session.h"

#include <CLI/CLI.hpp>
#include <QString>
#include <QStringList>
#include <any>
#include <functional>
#include <memory>
#include <string>

// What the command line asks for.
struct Invocation {
    bool help = false; // print `helpText` and nothing else
    QString helpText;
    LinkSettings link;
    bool json = false;
    bool verbose = false;
    QString command; // the chosen command's name
    QString usage;   // its synopsis, for a wrong number of arguments
    // The first of its arguments that was refused. Said only once the number
    // of arguments is known to be right.
    QString argumentError;
    std::any options; // the chosen command's options (a shared_ptr to its struct)
    // What is wrong with the whole line once it is read (a missing port,
    // options that exclude each other); empty when it is sound.
    std::function<QString(Invocation &)> settle;
    std::function<int(Session &)> run;

    template <typename T> const T &optionsOf() const
    {
        return *std::any_cast<std::shared_ptr<T>>(options);
    }
};

struct ParseOutcome {
    bool ok = false;
    QString error; // plain words, for standard error
    Invocation invocation;
};

// Reads the arguments that follow the program name.
ParseOutcome parseInvocation(const QStringList &arguments);

// The options, the commands with their examples, and the exit statuses.
QString helpText();

// What the command files declare themselves with.
namespace cli {

// A value's text as typed: CLI11 needs a mark in front of some negative
// numbers ("-.5"), which this takes away again.
QString fromCli(const std::string &word);

// The value a reader accepted, or CLI11's validation error with its words.
template <typename T> T accepted(const Checked<T> &checked)
{
    if (!checked.ok())
        throw CLI::ValidationError(checked.error.toStdString());
    return checked.value;
}

// An option (or, for a name without dashes, a positional argument) whose
// text `read` turns into the value for `target`.
template <typename T, typename Read>
CLI::Option *addValue(CLI::App &app, const std::string &name, const std::string &valueName,
                      const std::string &help, T &target, Read read)
{
    const auto store = [&target, read](const std::string &text) {
        target = accepted(read(fromCli(text)));
    };
    return app.add_option_function<std::string>(name, store, help)->type_name(valueName);
}

// Readers shared by several commands: a baud rate the sensor speaks, a file
// name, and a text kept as typed unless `problem` says what is wrong with it.
Checked<qint32> checkBaud(const QString &text);
Checked<QString> checkPort(const QString &text);
Checked<QString> checkFileName(const QString &text);
Checked<QString> keptIf(const QString &text, const QString &problem);
// --serial S of history and report: a serial number, matched whatever its
// case; an empty one would match nothing and is refused.
Checked<QString> checkSerialFilter(const QString &text);

// --operator NAME and --reference-source TEXT: who ran a verification and
// with which calibrator, for the certificate and the record.
void addCertificateFields(CLI::App &sub, QString &operatorName, QString &referenceSource);

// --baud, --timeout and --retries: how the line runs. ktr450ctl's line and
// the station window take them alike.
void addLineTiming(CLI::App &app, LinkSettings &link);

// --db URL: the results database, sqlite:PATH or postgresql://...
CLI::Option *addDatabase(CLI::App &sub, QString &url);

// The usage error for a wrong number of arguments to the chosen command.
QString wrongCount(const QString &usage);

// An argument of a command (a positional word): `store` takes its text and
// says what is wrong with it, if anything.
CLI::Option *addArgument(CLI::App &sub, Invocation &inv, const std::string &name,
                         const std::string &help, std::function<QString(const QString &)> store);
// The same for an argument whose text `read` turns into the value for `target`.
template <typename T, typename Read>
CLI::Option *addArgument(CLI::App &sub, Invocation &inv, const std::string &name,
                         const std::string &help, T &target, Read read)
{
    return addArgument(sub, inv, name, help, [&target, read](const QString &text) {
        const auto checked = read(text);
        if (checked.ok())
            target = checked.value;
        return checked.error;
    });
}

// Declares a command. `help` is its synopsis on the first line, then what
// it does and its examples; the synopsis is also its usage unless `usage`
// is given.
CLI::App *addCommand(CLI::App &root, Invocation &inv, const std::string &name,
                     const std::string &help, const QString &usage = QString());

// Makes `run` the command's callback with `options`, once the command is
// chosen; `settle` checks the whole line afterwards. Commands that talk to
// the sensor need a port by default.
template <typename Options>
void onChosen(CLI::App &sub, Invocation &inv, std::shared_ptr<Options> options,
              int (*run)(Session &, const Options &),
              std::function<QString(Invocation &)> settle = {})
{
    sub.callback([&inv, options, run, settle] {
        inv.options = options;
        inv.run = [options, run](Session &session) { return run(session, *options); };
        if (settle)
            inv.settle = settle;
    });
}

// The check of the line for a command that talks to the sensor.
QString needsPort(Invocation &inv);

} // namespace cli
