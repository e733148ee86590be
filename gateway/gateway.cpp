#include "gateway/gateway.h"

#include "channel/localchannel.h"
#include "gateway/fleetlistener.h"
#include "link/connectionbudget.h"
#include "link/portname.h"
#include "link/portopener.h"
#include "platform/secretfile.h"
#include "service/mqtttopics.h"
#include "service/projectorservice.h"
#include "session/commandsets.h"
#include "session/projectorsession.h"

#include <QSet>

#include <algorithm>
#include <optional>

namespace {
constexpr char kTopicRoot[] = "lumivox";
constexpr char kCommandLeaf[] = "command";
constexpr int kGroupLevels = 4; // lumivox/group/<name>/command
constexpr int kMillisPerSecond = 1000;

constexpr char kFoundPrefix[] = "pjlink-";

// The address a PJLink projector's port names, where it names one (not a host name).
QHostAddress addressOf(const QString &port)
{
    if (!portname::isPjlinkName(port))
        return QHostAddress();
    const std::optional<portname::NetworkPortName> name = portname::parsePjlinkName(port);
    return name ? QHostAddress(name->host) : QHostAddress();
}

QString countText(const char *what, const QStringList &ids)
{
    return QStringLiteral("%1 %2 (%3)").arg(ids.size()).arg(QLatin1String(what), ids.join(", "));
}
} // namespace

// One projector of the gateway. The service goes first and the session last: the service
// and the channel hold requests of the session.
struct Gateway::Member
{
    FleetFile::Entry entry;
    bool found = false; // found at run time, not named by the fleet file
    std::unique_ptr<ProjectorSession> session;
    std::unique_ptr<LocalChannel> channel;
    std::unique_ptr<ProjectorService> service;

    ~Member()
    {
        service.reset();
        channel.reset();
        session.reset();
    }
};

Gateway::Gateway(const Settings &settings, QObject *parent)
    : QObject(parent)
    , settings(settings)
{
    // Before any projector's: the gateway is online before its projectors say so.
    connect(&client, &MqttClient::connected, this, &Gateway::brokerConnected);
    connect(&client, &MqttClient::disconnected, this, &Gateway::brokerLost);
    connect(&client, &MqttClient::messageReceived, this, &Gateway::brokerMessage);
    connect(&client, &MqttClient::takenOver, this, [this] {
        status = kTakenOverStatus;
        emit logLine(QStringLiteral("Another client connected to the broker as this gateway's: "
                                    "this one ends"));
    });
    connect(&client, &MqttClient::finished, this, &Gateway::finished);
    ticker.setInterval(ProjectorService::kTickInterval);
    connect(&ticker, &QTimer::timeout, this, &Gateway::tick);
    // A thousand projectors on the network never mean a thousand connections at once.
    ConnectionBudget::process().setLimit(ConnectionBudget::kGatewayLimit);
}

Gateway::~Gateway()
{
    routes.clear();
    groups.clear();
    members.clear();
}

bool Gateway::configure(MqttClient::Settings broker, QString *reason)
{
    broker.clientId = QStringLiteral("lumivox-gateway-%1-%2")
                          .arg(settings.id, QString::fromLatin1(settings.instance));
    broker.willTopic = availabilityTopic();
    broker.willPayload = QByteArray(mqtttopics::kOffline);
    const bool configured = client.configure(broker, reason);
    broker.password.fill('\0');
    return configured;
}

void Gateway::serve(const QList<FleetFile::Entry> &entries)
{
    for (const FleetFile::Entry &entry : entries)
        start(entry, false);
    regroup();
    listenForProjectors();
    client.connectToBroker();
    ticker.start();
}

void Gateway::listenForProjectors()
{
    listener = std::make_unique<FleetListener>();
    QString problem;
    if (!listener->listen(&problem)) {
        emit logLine(
            QStringLiteral("PJLink notifications are not heard (%1): projectors are "
                           "polled only%2")
                .arg(problem,
                     settings.discover ? QStringLiteral(", and none is searched") : QString()));
        listener.reset();
        return;
    }
    connect(listener.get(), &FleetListener::hinted, this, &Gateway::projectorHinted);
    if (settings.discover) {
        connect(listener.get(), &FleetListener::found, this, &Gateway::projectorFound);
        listener->searchPeriodically(settings.searchTargets);
    }
}

void Gateway::projectorHinted(const QHostAddress &address, ProjectorSession::Hint hint)
{
    const auto id = addresses.constFind(address);
    if (id == addresses.cend())
        return;
    const auto it = members.find(*id);
    if (it != members.end())
        it->second->session->hint(hint);
}

void Gateway::projectorFound(const QHostAddress &address, const QString &mac)
{
    // Held already: by its address or, where the fleet file names it so, by its MAC.
    if (leaving || addresses.contains(address) || !idOfMac(mac).isEmpty())
        return;
    const auto found = std::count_if(members.cbegin(), members.cend(),
                                     [](const auto &member) { return member.second->found; });
    if (found >= kMaxFound) {
        if (!foundFull)
            emit logLine(QStringLiteral("%1 projectors found: no more are held").arg(kMaxFound));
        foundFull = true;
        return;
    }
    FleetFile::Entry entry;
    entry.mac = FleetFile::normalMac(mac);
    entry.id = QLatin1String(kFoundPrefix) + QString(entry.mac).remove(QLatin1Char(':'));
    entry.port = QStringLiteral("pjlink://") + address.toString();
    entry.passwordFile = settings.foundPasswordFile;
    QString problem;
    if (!addFound(entry, &problem))
        emit logLine(QStringLiteral("Found %1 (%2), not held: %3")
                         .arg(address.toString(), entry.mac, problem));
}

void Gateway::reload()
{
    if (leaving)
        return;
    if (settings.fleetFile.isEmpty()) {
        emit logLine(QStringLiteral("Nothing to reload: this gateway holds what a search finds"));
        return;
    }
    QList<FleetFile::Entry> entries;
    QString problem;
    if (!FleetFile::read(settings.fleetFile, &entries, &problem)) {
        emit logLine(QStringLiteral("Reload refused, the fleet runs on as it was: ") + problem);
        return;
    }
    apply(entries);
}

void Gateway::apply(const QList<FleetFile::Entry> &entries)
{
    QHash<QString, FleetFile::Entry> wanted;
    for (const FleetFile::Entry &entry : entries)
        wanted.insert(entry.id, entry);
    QStringList removed;
    QStringList restarted;
    QStringList regrouped;
    QStringList added;
    int unchanged = 0;
    QStringList held;
    for (const auto &[id, member] : members)
        held.append(id);
    for (const QString &id : held) {
        const Member &member = *members.at(id);
        const auto it = wanted.constFind(id);
        if (it == wanted.constEnd()) {
            // A projector a search found stays until the file names it.
            if (!member.found) {
                end(id, true);
                removed.append(id);
            }
        } else if (!member.entry.sameProjector(*it)) {
            end(id, false);
            restarted.append(id);
        } else if (member.entry.groups != it->groups || member.found) {
            members.at(id)->entry = *it;
            members.at(id)->found = false;
            regrouped.append(id);
        } else {
            ++unchanged;
        }
    }
    // Ended ones first: a projector may move to a port another has left.
    for (const FleetFile::Entry &entry : entries) {
        if (members.count(entry.id) != 0)
            continue;
        if (start(entry, false) && !restarted.contains(entry.id))
            added.append(entry.id);
    }
    regroup();
    QStringList parts;
    if (!added.isEmpty())
        parts.append(countText("added", added));
    if (!removed.isEmpty())
        parts.append(countText("removed", removed));
    if (!restarted.isEmpty())
        parts.append(countText("restarted", restarted));
    if (!regrouped.isEmpty())
        parts.append(countText("regrouped", regrouped));
    parts.append(QStringLiteral("%1 unchanged").arg(unchanged));
    emit logLine(QStringLiteral("Reloaded %1: %2; %3 projectors")
                     .arg(settings.fleetFile, parts.join(QStringLiteral(", ")))
                     .arg(members.size()));
}

bool Gateway::start(const FleetFile::Entry &entry, bool found)
{
    const QString id = entry.id;
    auto member = std::make_unique<Member>();
    member->entry = entry;
    member->found = found;
    member->session = std::make_unique<ProjectorSession>();
    ProjectorSession *session = member->session.get();
    // The log names each answer ("Lamp hours: 1234"), never a bare value.
    session->setAnswersLogged(false);
    session->setPollInterval(settings.pollInterval);
    // Spread over the period by the id, so that projectors started together never all poll
    // in one tick, and each keeps its place across reloads.
    session->setPollPhase(int(qHash(id) % uint(std::max(1, settings.pollInterval))));
    // A room whose projector is unplugged costs less and less of the gateway's connections.
    session->setBackoff(true);
    if (!entry.protocol.isEmpty()) {
        CommandSets::Entry set;
        QString problem;
        if (!CommandSets::lookUp(entry.protocol, &set, &problem)) {
            say(id, QStringLiteral("not started: protocol: ") + problem);
            return false;
        }
        if (!CommandSets::isBuiltIn(set))
            session->setCommandSet(set.set);
    }
    if (!entry.passwordFile.isEmpty()) {
        QString problem;
        std::optional<QByteArray> password = readSecretFile(entry.passwordFile, &problem);
        if (!password) {
            say(id, QStringLiteral("not started: password-file: ") + problem);
            return false;
        }
        session->setPassword(entry.port, QString::fromUtf8(*password));
        password->fill('\0');
    }
    connect(session, &ProjectorSession::message, this,
            [this, id](const QString &text) { say(id, text); });
    connect(session, &ProjectorSession::passwordWanted, this, [this, id, port = entry.port] {
        say(id,
            port
                + QStringLiteral(": the projector asks for a password: give it in a file "
                                 "named by password-file in the fleet file"));
    });

    ProjectorService::Settings service;
    service.id = id;
    service.portName = entry.port;
    service.discoveryPrefix = settings.discoveryPrefix;
    service.discovery = settings.discovery;
    service.version = settings.version;
    service.instance = settings.instance;
    service.sharedClient = true;
    // Home Assistant shows the projector unavailable also when the gateway is gone without
    // a goodbye: the projector's own availability stays as last said then.
    service.gatewayAvailability = availabilityTopic();
    member->service = std::make_unique<ProjectorService>(session, &client, service);
    ProjectorService *projector = member->service.get();
    connect(projector, &ProjectorService::logLine, this,
            [this, id](const QString &text) { say(id, text); });
    // Only when another service holds the id: the member ends, the others go on.
    connect(projector, &ProjectorService::finished, this, [this, id] {
        end(id, false);
        regroup();
    });

    member->channel = std::make_unique<LocalChannel>(session);
    member->channel->setRole(QStringLiteral("service"));
    connect(member->channel.get(), &LocalChannel::problem, this,
            [this, id](const QString &text) { say(id, text); });

    for (const QString &topic : projector->topics())
        routes.insert(topic, projector);
    const QHostAddress address = addressOf(entry.port);
    if (!address.isNull())
        addresses.insert(address, id);
    members[id] = std::move(member);
    projector->serve();
    members.at(id)->channel->followPort();
    return true;
}

void Gateway::end(const QString &id, bool withdraw)
{
    const auto it = members.find(id);
    if (it == members.end())
        return;
    ProjectorService *projector = it->second->service.get();
    for (const QString &topic : projector->topics())
        routes.remove(topic);
    const QHostAddress address = addressOf(it->second->entry.port);
    if (addresses.value(address) == id)
        addresses.remove(address);
    if (it->second->found)
        foundFull = false;
    for (QList<ProjectorService *> &group : groups)
        group.removeAll(projector);
    if (projector->exitStatus() == 0) {
        if (withdraw)
            projector->withdraw();
        else
            projector->leave();
    }
    // At once, so that the port is free for a projector started after it.
    members.erase(it);
}

void Gateway::regroup()
{
    groups.clear();
    for (const auto &[id, member] : members)
        for (const QString &group : member->entry.groups)
            groups[group].append(member->service.get());
}

bool Gateway::addFound(const FleetFile::Entry &entry, QString *problem)
{
    QString key;
    *problem = FleetFile::entryProblem(entry, &key);
    if (!problem->isEmpty())
        return false;
    if (members.count(entry.id) != 0) {
        *problem = QStringLiteral("%1 is held already").arg(entry.id);
        return false;
    }
    const QString portKey = PortOpener::keyOf(entry.port);
    for (const auto &[id, member] : members) {
        if (PortOpener::keyOf(member->entry.port) == portKey) {
            *problem = QStringLiteral("%1 is held already as %2").arg(entry.port, id);
            return false;
        }
    }
    if (!start(entry, true))
        return false;
    regroup();
    say(entry.id, QStringLiteral("found at %1, held").arg(entry.port));
    return true;
}

QString Gateway::idOfMac(const QString &mac) const
{
    const QString wanted = FleetFile::normalMac(mac);
    if (wanted.isEmpty())
        return QString();
    for (const auto &[id, member] : members)
        if (member->entry.mac == wanted)
            return id;
    return QString();
}

void Gateway::leave()
{
    if (leaving)
        return;
    leaving = true;
    ticker.stop();
    listener.reset();
    for (const auto &[id, member] : members)
        if (member->service->exitStatus() == 0)
            member->service->leave();
    client.leave(availabilityTopic(), QByteArray(mqtttopics::kOffline));
}

QStringList Gateway::ids() const
{
    QStringList list;
    for (const auto &[id, member] : members)
        list.append(id);
    return list;
}

void Gateway::tick()
{
    for (const auto &[id, member] : members)
        member->session->tick();
}

void Gateway::brokerConnected()
{
    lastBrokerProblem.clear();
    emit logLine(QStringLiteral("Connected to the broker as gateway %1").arg(settings.id));
    client.publish(availabilityTopic(), QByteArray(mqtttopics::kOnline), true);
    // A retained command keeps its flag also when it comes live, so that it is never run.
    client.subscribe(QStringLiteral("%1/%2/+/%3")
                         .arg(QLatin1String(kTopicRoot), QLatin1String(FleetFile::kGroupLevel),
                              QLatin1String(kCommandLeaf)),
                     true);
    if (settings.discovery)
        client.subscribe(mqtttopics::discoveryStatusTopic(settings.discoveryPrefix));
}

void Gateway::brokerLost(const QString &reason, int retryMs)
{
    if (reason == lastBrokerProblem)
        return;
    lastBrokerProblem = reason;
    emit logLine(QStringLiteral("Broker: %1 (trying again, next in %2 s)")
                     .arg(reason)
                     .arg(retryMs / kMillisPerSecond));
}

void Gateway::brokerMessage(const QString &topic, const QByteArray &payload, bool retained)
{
    if (ProjectorService *projector = routes.value(topic)) {
        projector->receive(topic, payload, retained);
        return;
    }
    const QStringList levels = topic.split(QLatin1Char('/'));
    if (levels.size() == kGroupLevels && levels.at(0) == QLatin1String(kTopicRoot)
        && levels.at(1) == QLatin1String(FleetFile::kGroupLevel)
        && levels.at(3) == QLatin1String(kCommandLeaf)) {
        // A copy: a member may end while the command is handed round.
        const QList<ProjectorService *> group = groups.value(levels.at(2));
        for (ProjectorService *projector : group)
            projector->takeGroupCommand(payload, retained);
        return;
    }
    if (settings.discovery && topic == mqtttopics::discoveryStatusTopic(settings.discoveryPrefix))
        for (const auto &[id, member] : members)
            member->service->receive(topic, payload, retained);
}

void Gateway::say(const QString &id, const QString &text)
{
    emit logLine(QStringLiteral("[%1] %2").arg(id, text));
}

QString Gateway::availabilityTopic() const
{
    return QStringLiteral("%1/%2/%3/%4")
        .arg(QLatin1String(kTopicRoot), QLatin1String(FleetFile::kGatewayLevel), settings.id,
             QLatin1String(mqtttopics::kAvailability));
}
