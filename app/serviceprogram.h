#ifndef SERVICEPROGRAM_H
#define SERVICEPROGRAM_H

#include "link/commandset.h"

#include <QString>

#include <optional>

class QCommandLineParser;

// Lumivox as a service: no window and no display, the port held and polled, its state on
// an MQTT broker and its commands taken from there, and the local channel served as a
// window serves it. Runs until SIGTERM, SIGINT or SIGHUP, then says "offline" and ends.

// Runs the service on `portName` with the parsed options (and a PJLink projector's
// password, if one is given), the projector's protocol (none for the program's own) and
// the baud rate in place of its usual one (0 for that); returns the exit status. A mistake on the
// command line returns before anything starts, with the message. Where the service is a program of
// its own, this process becomes that program, with the arguments `argv` it was started with.
int runService(char *argv[], const QCommandLineParser &parser, const QString &portName,
               const QString &projectorPassword, const std::optional<CommandSet> &protocol,
               int baudRate, QString *usage);

#endif // SERVICEPROGRAM_H
