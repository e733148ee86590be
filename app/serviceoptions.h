#ifndef SERVICEOPTIONS_H
#define SERVICEOPTIONS_H

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;

// The options of the service (--serve, --mqtt, --id ...), which the command line reads
// whether or not this program holds the service itself.
namespace serviceoption {
constexpr char kPasswordVariable[] = "LUMIVOX_MQTT_PASSWORD";
constexpr char kServe[] = "serve";
constexpr char kMqtt[] = "mqtt";
constexpr char kId[] = "id";
constexpr char kUser[] = "mqtt-user";
constexpr char kPasswordFile[] = "mqtt-password-file";
constexpr char kCa[] = "mqtt-ca";
constexpr char kPrefix[] = "mqtt-discovery-prefix";
constexpr char kNoDiscovery[] = "no-discovery";
// A gateway: every projector of a fleet file on one broker connection.
constexpr char kFleet[] = "fleet";
constexpr char kPollInterval[] = "poll-interval";
constexpr char kDiscover[] = "discover";
// The command line's --on: where a gateway's --discover searches, as --search does.
constexpr char kSearchOn[] = "on";
// The PJLink face: the projector offered to other controllers as a PJLink projector.
constexpr char kFacePasswordVariable[] = "LUMIVOX_PJLINK_SERVER_PASSWORD";
constexpr char kPjlinkListen[] = "pjlink-listen";
constexpr char kPjlinkPasswordFile[] = "pjlink-password-file";
constexpr char kPjlinkNoAuth[] = "pjlink-no-auth";
} // namespace serviceoption

// The service's options, for the command line's parser.
QList<QCommandLineOption> serviceOptions();
// The option names of the service, for recognising a command line that wants it.
const QList<const char *> &serviceOptionNames();
// True when any of the service's options is set.
bool wantsService(const QCommandLineParser &parser);

#endif // SERVICEOPTIONS_H
