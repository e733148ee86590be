#ifndef GATEWAY_H
#define GATEWAY_H

#include "gateway/fleetfile.h"
#include "service/mqttclient.h"

#include "session/projectorsession.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>

class FleetListener;
class ProjectorService;

// Many projectors on one broker connection: each projector of the fleet file with its own
// session, its own topics lumivox/<id>/... as a one-projector service has them, and its
// own local channel (the command line reaches it as it reaches a one-projector service).
// One timer ticks every session. The gateway's own availability is
// lumivox/gateway/<id>/availability, its client's will. Broker messages reach a projector
// by their topic through one table; lumivox/group/<name>/command reaches every projector
// of the group. reload() takes the fleet file's changes without touching the projectors
// that stay as they were.
class Gateway : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultPollInterval = 3100; // ms between two lamp polls
    // sysexits' EX_UNAVAILABLE, as for a one-projector service whose id is taken.
    static constexpr int kTakenOverStatus = 69;
    // Projectors a search may add: a network that answers with ever new addresses does not
    // grow the gateway without end.
    static constexpr int kMaxFound = 2000;

    struct Settings
    {
        QString id;
        QString fleetFile;
        QString version;
        QString discoveryPrefix;
        bool discovery = true;
        int pollInterval = kDefaultPollInterval; // ms
        // This run's own mark, in its client id and its projectors' hellos.
        QByteArray instance;
        // Whether PJLink projectors are searched for and held as found; where (the host's
        // networks when empty); the password file for those found.
        bool discover = false;
        QList<QHostAddress> searchTargets;
        QString foundPasswordFile;
    };

    explicit Gateway(const Settings &settings, QObject *parent = nullptr);
    ~Gateway() override;

    // The broker's connection, with the gateway's own client id and will; false with the
    // reason for settings the client refuses.
    bool configure(MqttClient::Settings broker, QString *reason);
    // Starts every projector of the entries and connects to the broker.
    void serve(const QList<FleetFile::Entry> &entries);
    // Reads the fleet file again: projectors added start, removed ones end (their
    // availability "offline", their discovery cleared), changed ones start again, and the
    // others are not touched. A file that does not read keeps the fleet as it runs.
    void reload();
    // A projector found at run time (a search, by its MAC): held as an added entry of the
    // fleet file would be, and kept across reloads unless the file names its id. False
    // with the reason when the entry is refused or its id or port is held already.
    bool addFound(const FleetFile::Entry &entry, QString *problem);
    // The id of the projector held under this MAC address; empty when none is.
    QString idOfMac(const QString &mac) const;
    // Says "offline" for every projector and for the gateway and leaves the broker;
    // finished() follows.
    void leave();
    QStringList ids() const;
    int exitStatus() const { return status; }

signals:
    // A line for the log, without a line end.
    void logLine(const QString &text);
    void finished();

private:
    struct Member;

    void apply(const QList<FleetFile::Entry> &entries);
    bool start(const FleetFile::Entry &entry, bool found);
    void end(const QString &id, bool withdraw);
    void regroup();
    void tick();
    void brokerConnected();
    void brokerLost(const QString &reason, int retryMs);
    void brokerMessage(const QString &topic, const QByteArray &payload, bool retained);
    void say(const QString &id, const QString &text);
    QString availabilityTopic() const;
    void listenForProjectors();
    void projectorFound(const QHostAddress &address, const QString &mac);
    void projectorHinted(const QHostAddress &address, ProjectorSession::Hint hint);

    Settings settings;
    MqttClient client;
    std::map<QString, std::unique_ptr<Member>> members; // by id, in the log's order
    QHash<QString, ProjectorService *> routes; // a projector's topic: its member
    QHash<QString, QList<ProjectorService *>> groups; // a group's name: its members
    // A PJLink projector's address: its id, for the notifications that come from it.
    QHash<QHostAddress, QString> addresses;
    std::unique_ptr<FleetListener> listener;
    bool foundFull = false; // kMaxFound reached, said once
    QTimer ticker;
    QString lastBrokerProblem;
    int status = 0;
    bool leaving = false;
};

#endif // GATEWAY_H
