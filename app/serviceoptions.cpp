#include "app/serviceoptions.h"

#include <QCommandLineParser>

using namespace serviceoption;

QList<QCommandLineOption> serviceOptions()
{
    return {
        QCommandLineOption(QLatin1String(kServe),
                           QStringLiteral("Runs as a service: holds the port (speaking "
                                          "--protocol at --baud, as given), publishes its "
                                          "state on the MQTT broker of --mqtt and takes "
                                          "commands from there, and/or answers PJLink "
                                          "controllers on --pjlink-listen, until it is "
                                          "stopped.")),
        QCommandLineOption(QLatin1String(kMqtt),
                           QStringLiteral("The broker: mqtt://HOST[:1883] or "
                                          "mqtts://HOST[:8883]."),
                           QStringLiteral("url")),
        QCommandLineOption(QLatin1String(kId),
                           QStringLiteral("The projector's id in the topics lumivox/ID/... "
                                          "(letters a-z, digits, _ and -; default: the host "
                                          "name)."),
                           QStringLiteral("id")),
        QCommandLineOption(QLatin1String(kUser),
                           QStringLiteral("The broker's user name; the password comes from "
                                          "%1 or --mqtt-password-file.")
                               .arg(QLatin1String(kPasswordVariable)),
                           QStringLiteral("name")),
        QCommandLineOption(QLatin1String(kPasswordFile),
                           QStringLiteral("A file whose first line is the broker's password."),
                           QStringLiteral("file")),
        QCommandLineOption(QLatin1String(kCa),
                           QStringLiteral("Certificates (PEM) that the mqtts:// broker's must "
                                          "lead to, instead of the system's."),
                           QStringLiteral("file")),
        QCommandLineOption(QLatin1String(kPrefix),
                           QStringLiteral("The Home Assistant discovery prefix (default "
                                          "homeassistant)."),
                           QStringLiteral("prefix")),
        QCommandLineOption(QLatin1String(kNoDiscovery),
                           QStringLiteral("Publishes no Home Assistant discovery.")),
        QCommandLineOption(QLatin1String(kFleet),
                           QStringLiteral("Serves, as a gateway of the --id, every projector "
                                          "that the file lists (with --mqtt, in place of "
                                          "--port): a section [ID] per projector with port, "
                                          "protocol, password-file, group and mac. SIGHUP "
                                          "reads it again."),
                           QStringLiteral("file")),
        QCommandLineOption(QLatin1String(kDiscover),
                           QStringLiteral("Searches for PJLink projectors at start and every "
                                          "10 minutes and serves those found too (each by the "
                                          "id pjlink-<MAC>), on the host's networks or those "
                                          "of --on; --pjlink-password-file names their "
                                          "password.")),
        QCommandLineOption(QLatin1String(kPollInterval),
                           QStringLiteral("The seconds between two polls of a projector, "
                                          "0.5 to 3600 (default 3.1)."),
                           QStringLiteral("seconds")),
        QCommandLineOption(QLatin1String(kPjlinkListen),
                           QStringLiteral("Offers the projector to PJLink controllers on this "
                                          "TCP port (4352 is PJLink's), on every address or "
                                          "only ADDR's. Each controller gives the password of "
                                          "%1 or --pjlink-password-file.")
                               .arg(QLatin1String(kFacePasswordVariable)),
                           QStringLiteral("[addr:]port")),
        QCommandLineOption(QLatin1String(kPjlinkPasswordFile),
                           QStringLiteral("A file whose first line is the password PJLink "
                                          "controllers must give."),
                           QStringLiteral("file")),
        QCommandLineOption(QLatin1String(kPjlinkNoAuth),
                           QStringLiteral("Asks PJLink controllers for no password: anyone "
                                          "who reaches the port controls the projector.")),
    };
}

const QList<const char *> &serviceOptionNames()
{
    static const QList<const char *> names {"--serve",
                                            "--mqtt",
                                            "--id",
                                            "--mqtt-user",
                                            "--mqtt-password-file",
                                            "--mqtt-ca",
                                            "--mqtt-discovery-prefix",
                                            "--no-discovery",
                                            "--fleet",
                                            "--discover",
                                            "--poll-interval",
                                            "--pjlink-listen",
                                            "--pjlink-password-file",
                                            "--pjlink-no-auth"};
    return names;
}

bool wantsService(const QCommandLineParser &parser)
{
    for (const char *name :
         {kServe, kMqtt, kId, kUser, kPasswordFile, kCa, kPrefix, kNoDiscovery, kFleet, kDiscover,
          kPollInterval, kPjlinkListen, kPjlinkPasswordFile, kPjlinkNoAuth})
        if (parser.isSet(QLatin1String(name)))
            return true;
    return false;
}
