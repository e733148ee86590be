#ifndef SERVICEPROGRAM_H
#define SERVICEPROGRAM_H

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

// Lumivox as a service: no window and no display, the port held and polled, its state on
// an MQTT broker and its commands taken from there, and the local channel served as a
// window serves it. Runs until SIGTERM, SIGINT or SIGHUP, then says "offline" and ends.

// The service's options (--serve, --mqtt, --id ...), for the command line's parser.
QList<QCommandLineOption> serviceOptions();
// The option names of the service, for recognising a command line that wants it.
const QList<const char *> &serviceOptionNames();
// True when any of the service's options is set.
bool wantsService(const QCommandLineParser &parser);

// Runs the service on `portName` with the parsed options (and a PJLink projector's
// password, if one is given); returns the exit status. A mistake on the command line
// returns before anything starts, with the message.
int runService(const QCommandLineParser &parser, const QString &portName,
               const QString &projectorPassword, QString *usage);

#endif // SERVICEPROGRAM_H
