#include "app/serviceprogram.h"

#include "app/serviceoptions.h"
#include "channel/channelclient.h"
#include "channel/channelname.h"
#include "channel/localchannel.h"
#include "gateway/fleetfile.h"
#include "gateway/gateway.h"
#include "link/pjlink.h"
#include "link/portname.h"
#include "link/portopener.h"
#include "pjlinkface/pjlinkface.h"
#include "platform/secretfile.h"
#include "platform/terminationsignals.h"
#include "service/mqttclient.h"
#include "service/mqtttopics.h"
#include "service/projectorservice.h"
#include "session/exitstatus.h"
#include "session/projectorsession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace {
using namespace serviceoption;

constexpr int kHolderWait = 2000; // ms for a program that holds the port to say so
constexpr quint16 kMqttPort = 1883;
constexpr quint16 kMqttsPort = 8883;
constexpr int kMaxPrefixLength = 128;
constexpr int kHex = 16;
constexpr double kMinPollInterval = 0.5; // s
constexpr double kMaxPollInterval = 3600; // s
constexpr double kMillisPerSecond = 1000;

void say(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; nothing else, and never a password.
bool parseBroker(const QString &text, MqttClient::Settings *settings, QString *problem)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))
        || url.host().isEmpty()) {
        *problem = QStringLiteral("--mqtt needs mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
        return false;
    }
    if (!url.userInfo().isEmpty()) {
        *problem = QStringLiteral("--mqtt takes no user name or password: give --mqtt-user, "
                                  "and the password in %1 or --mqtt-password-file")
                       .arg(QLatin1String(kPasswordVariable));
        return false;
    }
    if ((!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery()
        || url.hasFragment()) {
        *problem = QStringLiteral("--mqtt takes a broker's address only: mqtt://HOST[:PORT]");
        return false;
    }
    settings->tls = scheme == QLatin1String("mqtts");
    settings->host = url.host();
    const int port = url.port(settings->tls ? kMqttsPort : kMqttPort);
    if (port <= 0) {
        *problem = QStringLiteral("--mqtt: the port must be 1 to 65535");
        return false;
    }
    settings->port = quint16(port);
    return true;
}

// --pjlink-listen [ADDR:]PORT, its password (or --pjlink-no-auth, asked for in so many
// words) and the name the projector answers with.
bool readFace(const QCommandLineParser &parser, PjlinkFace::Settings *face, QString *problem)
{
    const QString text = parser.value(QLatin1String(kPjlinkListen));
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QString() : text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool number = false;
    const uint port = text.mid(colon + 1).toUInt(&number);
    if (!number || port == 0 || port > 0xffff || (colon >= 0 && !face->address.setAddress(host))) {
        *problem = QStringLiteral("--pjlink-listen takes [ADDR:]PORT: a port of 1 to 65535, "
                                  "after an IP address if only that one is to be listened on");
        return false;
    }
    face->port = quint16(port);
    const bool noAuth = parser.isSet(QLatin1String(kPjlinkNoAuth));
    const bool fromFile = parser.isSet(QLatin1String(kPjlinkPasswordFile));
    QByteArray password;
    QString source = QLatin1String(kFacePasswordVariable);
    if (fromFile) {
        QString warning;
        const std::optional<QByteArray> read
            = readSecretFile(parser.value(QLatin1String(kPjlinkPasswordFile)), problem, &warning);
        if (!warning.isEmpty())
            say(QStringLiteral("lumivox: ") + warning);
        if (!read) {
            *problem = QStringLiteral("--pjlink-password-file: ") + *problem;
            return false;
        }
        password = *read;
        source = QStringLiteral("--pjlink-password-file");
    } else {
        password = withoutLineEnd(qgetenv(kFacePasswordVariable));
    }
    if (noAuth && (fromFile || !password.isEmpty())) {
        *problem = QStringLiteral("--pjlink-no-auth goes with no password (%1 is set)").arg(source);
        return false;
    }
    if (!noAuth && password.isEmpty()) {
        *problem = QStringLiteral("--pjlink-listen needs the password controllers give, in %1 or "
                                  "--pjlink-password-file; --pjlink-no-auth asks for none")
                       .arg(QLatin1String(kFacePasswordVariable));
        return false;
    }
    const QString refused = pjlink::passwordProblem(password);
    if (!refused.isEmpty()) {
        *problem = source + QStringLiteral(": ") + refused;
        return false;
    }
    face->password = password;
    password.fill('\0');
    return true;
}

// A discovery prefix that names topics and nothing else: not empty nor too long, no
// slash at either end, no wildcard and no NUL.
bool isValidPrefix(const QString &prefix)
{
    return !prefix.isEmpty() && prefix.size() <= kMaxPrefixLength
        && !prefix.startsWith(QLatin1Char('/')) && !prefix.endsWith(QLatin1Char('/'))
        && !prefix.contains(QLatin1Char('+')) && !prefix.contains(QLatin1Char('#'))
        && !prefix.contains(QChar(0));
}

QString brokerText(const MqttClient::Settings &broker)
{
    return QStringLiteral("%1://%2:%3")
        .arg(broker.tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), broker.host)
        .arg(broker.port);
}

// Every projector of the fleet file on one connection to the broker, until SIGTERM or
// SIGINT; SIGHUP reads the file again.
int runGateway(Gateway::Settings settings, MqttClient::Settings broker,
               const ProjectorService::Settings &service, QString *usage)
{
    QList<FleetFile::Entry> entries;
    if (!settings.fleetFile.isEmpty() && !FleetFile::read(settings.fleetFile, &entries, usage)) {
        broker.password.fill('\0');
        return exitstatus::UsageError;
    }
    if (!settings.foundPasswordFile.isEmpty()) {
        // Read once now, so that a file that cannot be read is told at start, not at the
        // first projector found; each projector found reads it as it starts.
        QString problem;
        QString warning;
        std::optional<QByteArray> password
            = readSecretFile(settings.foundPasswordFile, &problem, &warning);
        if (!warning.isEmpty())
            say(QStringLiteral("lumivox: ") + warning);
        if (!password) {
            broker.password.fill('\0');
            *usage = QStringLiteral("--pjlink-password-file: ") + problem;
            return exitstatus::UsageError;
        }
        password->fill('\0');
    }
    const QString fleetFile = settings.fleetFile;
    settings.id = service.id;
    settings.version = service.version;
    settings.discoveryPrefix = service.discoveryPrefix;
    settings.discovery = service.discovery;
    settings.instance = service.instance;
    Gateway gateway(settings);
    QString refused;
    const bool configured = gateway.configure(broker, &refused);
    broker.password.fill('\0');
    if (!configured) {
        *usage = QStringLiteral("--mqtt: ") + refused;
        return exitstatus::UsageError;
    }
    QObject::connect(&gateway, &Gateway::logLine, &gateway, &say);
    QObject::connect(&gateway, &Gateway::finished, QCoreApplication::instance(),
                     [&gateway] { QCoreApplication::exit(gateway.exitStatus()); });
    TerminationSignals termination;
    termination.setHangupReloads(true);
    QObject::connect(&termination, &TerminationSignals::received, &gateway, &Gateway::leave);
    QObject::connect(&termination, &TerminationSignals::reloadRequested, &gateway,
                     &Gateway::reload);
    const QString count = entries.size() == 1 ? QStringLiteral("1 projector")
                                              : QStringLiteral("%1 projectors").arg(entries.size());
    QString what;
    if (fleetFile.isEmpty())
        what = QStringLiteral("the PJLink projectors a search finds");
    else if (settings.discover)
        what = QStringLiteral("%1 from %2 and the PJLink projectors a search finds")
                   .arg(count, fleetFile);
    else
        what = QStringLiteral("%1 from %2").arg(count, fleetFile);
    say(QStringLiteral("Lumivox %1 serves %2 as gateway %3 on %4")
            .arg(service.version, what, service.id, brokerText(broker)));
    gateway.serve(entries);
    return QCoreApplication::exec();
}
} // namespace

int runService(char *[], const QCommandLineParser &parser, const QString &portName,
               const QString &projectorPassword, const std::optional<CommandSet> &protocol,
               int baudRate, QString *usage)
{
    if (!parser.isSet(QLatin1String(kServe))) {
        *usage = QStringLiteral("--mqtt, --id and the other service options need --serve");
        return exitstatus::UsageError;
    }
    const bool mqtt = parser.isSet(QLatin1String(kMqtt));
    const bool pjlinkFace = parser.isSet(QLatin1String(kPjlinkListen));
    const bool fleet = parser.isSet(QLatin1String(kFleet));
    const bool discover = parser.isSet(QLatin1String(kDiscover));
    const bool gateway = fleet || discover;
    if (gateway && !mqtt) {
        *usage = QStringLiteral("--%1 goes with --mqtt")
                     .arg(QLatin1String(fleet ? kFleet : kDiscover));
        return exitstatus::UsageError;
    }
    // The fleet file names each projector's port, protocol and password, and a search
    // finds the others.
    for (const char *projectorOption :
         {"port", "protocol", "baud", "password-file", kPjlinkListen}) {
        if (gateway && parser.isSet(QLatin1String(projectorOption))) {
            *usage = QStringLiteral("--%1 does not go with --%2: a gateway holds many "
                                    "projectors, each with its own")
                         .arg(QLatin1String(fleet ? kFleet : kDiscover),
                              QLatin1String(projectorOption));
            return exitstatus::UsageError;
        }
    }
    if (parser.isSet(QLatin1String(kPjlinkPasswordFile)) && gateway && !discover) {
        *usage = QStringLiteral("--pjlink-password-file goes with --discover in a gateway: the "
                                "fleet file names each projector's password file");
        return exitstatus::UsageError;
    }
    QList<QHostAddress> searchTargets;
    for (const QString &text : parser.values(QLatin1String(kSearchOn))) {
        QHostAddress address;
        if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol) {
            *usage = QStringLiteral("--on needs an IPv4 address, not '%1'").arg(text);
            return exitstatus::UsageError;
        }
        searchTargets.append(address);
    }
    int pollInterval = Gateway::kDefaultPollInterval;
    if (parser.isSet(QLatin1String(kPollInterval))) {
        bool number = false;
        const double seconds = parser.value(QLatin1String(kPollInterval)).toDouble(&number);
        if (!number || !(seconds >= kMinPollInterval && seconds <= kMaxPollInterval)) {
            *usage = QStringLiteral("--poll-interval takes %1 to %2 seconds")
                         .arg(kMinPollInterval)
                         .arg(kMaxPollInterval);
            return exitstatus::UsageError;
        }
        pollInterval = qRound(seconds * kMillisPerSecond);
    }
    if (!mqtt && !pjlinkFace) {
        *usage = QStringLiteral("--serve needs --mqtt mqtt://HOST[:PORT] or --pjlink-listen "
                                "[ADDR:]PORT");
        return exitstatus::UsageError;
    }
    for (const char *brokerOption : {kUser, kPasswordFile, kCa, kPrefix, kNoDiscovery}) {
        if (!mqtt && parser.isSet(QLatin1String(brokerOption))) {
            *usage = QStringLiteral("--%1 goes with --mqtt").arg(QLatin1String(brokerOption));
            return exitstatus::UsageError;
        }
    }
    for (const char *faceOption : {kPjlinkPasswordFile, kPjlinkNoAuth}) {
        if (!pjlinkFace && !(discover && faceOption == kPjlinkPasswordFile)
            && parser.isSet(QLatin1String(faceOption))) {
            *usage
                = QStringLiteral("--%1 goes with --pjlink-listen").arg(QLatin1String(faceOption));
            return exitstatus::UsageError;
        }
    }
    if (pjlinkFace && portname::isPjlinkName(portName)) {
        *usage = QStringLiteral("--pjlink-listen offers a projector on a serial port or a "
                                "bridge: a pjlink:// projector is one already");
        return exitstatus::UsageError;
    }
    for (const char *other : {"send", "status", "query", "list", "json"}) {
        if (parser.isSet(QLatin1String(other))) {
            *usage = QStringLiteral("--serve does not go with --%1").arg(QLatin1String(other));
            return exitstatus::UsageError;
        }
    }
    if (!parser.positionalArguments().isEmpty()) {
        *usage = QStringLiteral("unexpected argument '%1'")
                     .arg(parser.positionalArguments().constFirst());
        return exitstatus::UsageError;
    }

    MqttClient::Settings broker;
    if (mqtt && !parseBroker(parser.value(QLatin1String(kMqtt)), &broker, usage))
        return exitstatus::UsageError;
    ProjectorService::Settings service;
    service.portName = portName;
    service.version = QCoreApplication::applicationVersion();
    service.id = parser.isSet(QLatin1String(kId))
        ? parser.value(QLatin1String(kId))
        : mqtttopics::idFromHostName(QHostInfo::localHostName());
    if (!mqtttopics::isValidId(service.id)) {
        *usage = QStringLiteral("--id takes 1 to 64 of the letters a-z, digits, _ and -");
        return exitstatus::UsageError;
    }
    service.discovery = !parser.isSet(QLatin1String(kNoDiscovery));
    service.discoveryPrefix = parser.isSet(QLatin1String(kPrefix))
        ? parser.value(QLatin1String(kPrefix))
        : QLatin1String(mqtttopics::kDefaultDiscoveryPrefix);
    if (!isValidPrefix(service.discoveryPrefix)) {
        *usage = QStringLiteral("--mqtt-discovery-prefix takes a topic without +, # or a "
                                "leading or trailing /");
        return exitstatus::UsageError;
    }

    // lumivox-ID-MARK: a client id of this run's own (see ProjectorService::brokerConnected).
    service.instance = QByteArray::number(QRandomGenerator::system()->generate(), kHex);
    broker.clientId
        = QStringLiteral("lumivox-%1-%2").arg(service.id, QString::fromLatin1(service.instance));
    broker.caFile = parser.value(QLatin1String(kCa));
    if (!broker.caFile.isEmpty() && !broker.tls) {
        *usage = QStringLiteral("--mqtt-ca goes with an mqtts:// broker");
        return exitstatus::UsageError;
    }
    broker.user = parser.value(QLatin1String(kUser));
    if (parser.isSet(QLatin1String(kPasswordFile))) {
        if (broker.user.isEmpty()) {
            *usage = QStringLiteral("--mqtt-password-file needs --mqtt-user");
            return exitstatus::UsageError;
        }
        QString problem;
        QString warning;
        const std::optional<QByteArray> password
            = readSecretFile(parser.value(QLatin1String(kPasswordFile)), &problem, &warning);
        if (!warning.isEmpty())
            say(QStringLiteral("lumivox: ") + warning);
        if (!password) {
            *usage = QStringLiteral("--mqtt-password-file: ") + problem;
            return exitstatus::UsageError;
        }
        broker.password = *password;
    } else if (!broker.user.isEmpty()) {
        broker.password = qgetenv(kPasswordVariable);
    }
    if (gateway) {
        Gateway::Settings settings;
        settings.fleetFile = parser.value(QLatin1String(kFleet));
        settings.pollInterval = pollInterval;
        settings.discover = discover;
        settings.searchTargets = searchTargets;
        settings.foundPasswordFile = parser.value(QLatin1String(kPjlinkPasswordFile));
        return runGateway(settings, std::move(broker), service, usage);
    }
    broker.willTopic = mqtttopics::topic(service.id, mqtttopics::kAvailability);
    broker.willPayload = QByteArray(mqtttopics::kOffline);

    PjlinkFace::Settings face;
    // The --id as given, else the port: a host name's id would name no one projector.
    face.name = parser.isSet(QLatin1String(kId)) ? service.id : portName;
    if (pjlinkFace && !readFace(parser, &face, usage))
        return exitstatus::UsageError;

    MqttClient client;
    QString refused;
    const bool configured = !mqtt || client.configure(broker, &refused);
    broker.password.fill('\0');
    if (!configured) {
        *usage = QStringLiteral("--mqtt: ") + refused;
        return exitstatus::UsageError;
    }

    // A port another Lumivox serves is not fought over: two services would poll one
    // projector twice, or retry a busy port for ever.
    QJsonObject holder;
    QString unused;
    if (sendOverChannel(localChannelName(PortOpener::keyOf(portName)),
                        QJsonObject {{QStringLiteral("hello"), true}}, kHolderWait, &holder,
                        &unused)
        == WindowAnswer::Answered) {
        const bool window = holder.value(QStringLiteral("serves")) == QLatin1String("window");
        say(QStringLiteral("lumivox: %1 is served already by a running Lumivox %2")
                .arg(portName, window ? QStringLiteral("window") : QStringLiteral("service")));
        return exitstatus::PortFailed;
    }

    ProjectorSession session;
    // The service's log names each answer ("Lamp hours: 1234"), never a bare value.
    session.setAnswersLogged(false);
    // From the first opening on, and at each after the port vanished.
    session.setCommandSet(protocol);
    session.setBaudRate(baudRate);
    session.setPollInterval(pollInterval);
    if (!projectorPassword.isEmpty())
        session.setPassword(portName, projectorPassword);
    std::unique_ptr<ProjectorService> fleetMember;
    if (mqtt)
        fleetMember = std::make_unique<ProjectorService>(&session, &client, service);
    std::unique_ptr<PjlinkFace> facing;
    if (pjlinkFace) {
        facing = std::make_unique<PjlinkFace>(&session, face);
        face.password.fill('\0');
        QString problem;
        if (!facing->listen(&problem)) {
            say(QStringLiteral("lumivox: ") + problem);
            return exitstatus::PortFailed;
        }
    }
    LocalChannel channel(&session);
    channel.setRole(QStringLiteral("service"));
    QObject::connect(&channel, &LocalChannel::problem, &channel, &say);
    QObject::connect(&session, &ProjectorSession::message, &session, &say);
    if (fleetMember)
        QObject::connect(fleetMember.get(), &ProjectorService::logLine, fleetMember.get(), &say);
    // Nobody is there to type a PJLink projector's password.
    QObject::connect(&session, &ProjectorSession::passwordWanted, &session, [portName] {
        say(portName
            + QStringLiteral(": the projector asks for a password: give it in "
                             "LUMIVOX_PJLINK_PASSWORD or in a file named by --password-file"));
    });
    TerminationSignals termination;
    if (fleetMember) {
        QObject::connect(fleetMember.get(), &ProjectorService::finished,
                         QCoreApplication::instance(),
                         [&fleetMember] { QCoreApplication::exit(fleetMember->exitStatus()); });
        QObject::connect(&termination, &TerminationSignals::received, fleetMember.get(),
                         &ProjectorService::leave);
    } else {
        QObject::connect(&termination, &TerminationSignals::received, &session, [&session] {
            session.stopWriting();
            QCoreApplication::exit(exitstatus::Done);
        });
    }

    if (fleetMember)
        say(QStringLiteral("Lumivox %1 serves %2 as %3 on %4://%5:%6")
                .arg(service.version, portName, service.id,
                     broker.tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), broker.host)
                .arg(broker.port));
    if (facing)
        say(QStringLiteral("Lumivox %1 offers %2 as a PJLink projector on %3%4")
                .arg(service.version, portName, facing->addressText(),
                     parser.isSet(QLatin1String(kPjlinkNoAuth))
                         ? QStringLiteral(" (no password asked)")
                         : QString()));
    if (fleetMember) {
        fleetMember->serve();
    } else {
        // The broker's member keeps the port open otherwise, and says how it goes.
        QObject::connect(&session, &ProjectorSession::openFinished, &session,
                         [portName, said = QString()](bool opened, const QString &reason) mutable {
                             const QString line
                                 = opened ? portName + QStringLiteral(": opened") : reason;
                             if (line != said)
                                 say(line);
                             said = line;
                         });
        session.keepOpen(
            portName,
            RetryPolicy::flat(ProjectorService::kReopenInterval / ProjectorService::kTickInterval));
    }
    channel.followPort();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &session, &ProjectorSession::tick);
    ticker.start(ProjectorService::kTickInterval);
    return QCoreApplication::exec();
}
