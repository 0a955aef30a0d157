// What is wrong with a command line of ktr450ctl, in its own words: the
// words CLI11 could not place, and CLI11's mistakes told apart by their
// type and by the words of the line, never by the text CLI11 gives them.
#pragma once

#include "commandline.h"

#include <CLI/CLI.hpp>
#include <QString>
#include <QStringList>

// "ktr450ctl --help lists the commands and options".
QString helpHint();

// The command the line names; nullptr when none (CLI11 does not list one
// named after "--").
const CLI::App *chosenCommand(const CLI::App &root);

// The first word CLI11 could not place, in plain words; empty when none.
QString leftoverError(const CLI::App &root, const Invocation &inv);

// CLI11's mistake `error` in this program's words.
QString usageError(const CLI::ParseError &error, const CLI::App &root, const Invocation &inv,
                   const QStringList &arguments);
