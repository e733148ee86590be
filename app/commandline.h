#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "app/windowprogram.h"

#include <optional>

// Lumivox from scripts and schedules: the commands by name, sent through the running
// window that holds the port when there is one, else on the port directly. Needs no
// display.

// True when the arguments are the command line's: any of its own options (--send,
// --status, --query, --list, --list-protocols, --protocol, --baud, --json, --port,
// --password-file, --search, --on, --help, --help-all, --version, -h, -?, -v) or the service's
// (--serve, --mqtt,
// --id ...; see serviceprogram.h). Without them (no arguments, or the toolkit's options such as
// --style or -geometry) the window starts.
bool wantsCommandLine(int argc, char *argv[]);

// Runs the command line to its end and returns the process exit status. Where the
// arguments ask for the window with a protocol for this run (--protocol or --baud, nothing
// to send) and `window` is given, fills it instead, having checked them, and returns 0:
// the caller starts the window once the command line's application is gone.
int runCommandLine(int argc, char *argv[], std::optional<WindowStart> *window = nullptr);

#endif // COMMANDLINE_H
