#ifndef COMMANDLINE_H
#define COMMANDLINE_H

// Lumivox from scripts and schedules: the commands by name, sent through the running
// window that holds the port when there is one, else on the port directly. Needs no
// display.

// True when the arguments are the command line's: any of its own options (--send,
// --status, --query, --list, --list-protocols, --protocol, --baud, --json, --port,
// --password-file, --help, --help-all, --version, -h, -?, -v) or the service's (--serve, --mqtt,
// --id ...; see serviceprogram.h). Without them (no arguments, or the toolkit's options such as
// --style or -geometry) the window starts.
bool wantsCommandLine(int argc, char *argv[]);

// Runs the command line to its end and returns the process exit status.
int runCommandLine(int argc, char *argv[]);

#endif // COMMANDLINE_H
