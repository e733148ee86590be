#ifndef COMMANDLINE_H
#define COMMANDLINE_H

// Lumivox from scripts and schedules: the commands by name, sent through the running
// window when there is one, else on the port directly. Needs no display.

// True when the arguments are the command line's: any argument with two leading dashes
// (--send, --help), or -h, -? or -v. With none of them (no arguments, or toolkit options
// such as -style) the window starts.
bool wantsCommandLine(int argc, char *argv[]);

// Runs the command line to its end and returns the process exit status.
int runCommandLine(int argc, char *argv[]);

#endif // COMMANDLINE_H
