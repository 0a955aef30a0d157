// The command line of ktr450-station: the options of ktr450ctl commission
// (declared by the same functions), so that a line set up for the command
// starts the window unchanged.
#pragma once

#include "ctlcommands.h"

#include <QString>
#include <QStringList>

struct StationArguments {
    bool help = false; // print `helpText` and nothing else
    QString helpText;
    QString error; // plain words, for standard error; empty when the line is sound
    CommissionOptions options;
    LinkSettings link;
    // Both the profile and the ports are given: the station starts at once,
    // without the start dialog.
    bool complete() const { return !options.profilePath.isEmpty() && !options.ports.isEmpty(); }
};

// Reads the arguments that follow the program name.
StationArguments parseStationArguments(const QStringList &arguments);

// Whether the arguments ask for the help text (which needs no display).
bool asksForStationHelp(const QStringList &arguments);
