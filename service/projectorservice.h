#ifndef PROJECTORSERVICE_H
#define PROJECTORSERVICE_H

#include "service/mqtttopics.h"
#include "session/projectorsession.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <optional>

class MqttClient;
class ScriptedRequest;

// One projector as a member of a fleet: its session's state published on the broker
// (lumivox/<id>/...), with Home Assistant's discovery, and the commands that come on the
// command topic run by the session in turn with its polls, as its buttons' would be.
// Nothing that arrives from the broker is trusted: a retained command is never run, a
// payload that is not exactly a command name is refused, and only a few commands wait.
// Every command taken from the broker has its outcome published on lumivox/<id>/result;
// the log tells of ignored ones once a minute for each kind, with a count.
class ProjectorService : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxPayload = 64; // bytes: more than any command name
    static constexpr int kMaxWaitingCommands = 4; // behind the one running
    static constexpr int kLampHoursInterval = 10 * 60 * 1000; // ms
    static constexpr int kReopenInterval = 5000; // ms between two opens of a port not open yet
    static constexpr int kTickInterval = 100; // ms between two ticks of its session
    static constexpr int kQuietInterval = 60 * 1000; // ms: one log line per kind of ignored
    // How long a new connection listens for another service of the same id before it
    // serves the id.
    static constexpr int kClaimWait = 2000; // ms
    // The exit status when another service serves the id on the broker (sysexits'
    // EX_UNAVAILABLE): systemd does not start it again into a fight for the id.
    static constexpr int kIdTakenStatus = 69;

    struct Settings
    {
        QString id;
        QString portName;
        QString discoveryPrefix;
        bool discovery = true;
        QString version;
        // This run's own mark, also in its client id: two services of one id tell each
        // other apart by it.
        QByteArray instance;
        // The availability topic of the gateway that holds the projector, for Home
        // Assistant's entities; empty for a service of one projector.
        QString gatewayAvailability;
        // The client is a gateway's, shared by all its projectors: the gateway connects it,
        // leaves the broker, and hands this member the messages of its topics (receive()).
        // A member whose id another service holds ends alone, and leaving is saying
        // "offline" for the projector without a goodbye to the broker.
        bool sharedClient = false;
    };

    ProjectorService(ProjectorSession *session, MqttClient *client, const Settings &settings,
                     QObject *parent = nullptr);
    ~ProjectorService() override;

    // Opens the port and connects to the broker (with a shared client: serves the id once
    // the gateway's client is connected).
    void serve();
    // Says "offline" and leaves the broker; finished() follows. With a shared client it
    // says "offline" for the projector only, and nothing follows.
    void leave();
    // With a shared client: the projector taken out of the gateway, its discovery cleared
    // (empty retained configurations) and "offline" said.
    void withdraw();
    // With a shared client: a message of one of topics(), or of Home Assistant's status.
    void receive(const QString &topic, const QByteArray &payload, bool retained);
    // With a shared client: a group's command, taken as one on the projector's own topic.
    void takeGroupCommand(const QByteArray &payload, bool retained);
    // The projector's topics that a gateway hands to receive().
    QStringList topics() const;
    const QString &id() const { return settings.id; }
    // 0, or kIdTakenStatus once another service has taken the id.
    int exitStatus() const { return status; }

signals:
    // A line for the service's log, without a line end.
    void logLine(const QString &text);
    // The service ended (with a shared client: only when another service holds the id).
    void finished();

private:
    struct Waiting
    {
        QString name;
        bool fromBroker = false;
    };

    // The kinds of commands from the broker that are not run.
    enum class Ignored { Retained, TooLong, NotAName, Dropped };
    static constexpr int kIgnoredKinds = 4;
    struct Quiet
    {
        QElapsedTimer since; // the last line of its kind
        int more = 0; // not logged since
    };

    void portOpenDone(bool opened, const QString &reason);
    void brokerConnected();
    void brokerLost(const QString &reason, int retryMs);
    void brokerTakenOver();
    void takeId();
    void instanceMessage(const QByteArray &payload);
    void giveWay();
    void logIgnored(Ignored kind, const QString &line);
    void sayQuieted(Ignored kind);
    void publishResult(const QByteArray &given, const QString &status, const QString &reason,
                       const QString &answer = QString());
    void brokerMessage(const QString &topic, const QByteArray &payload, bool retained);
    void takeCommand(const QByteArray &payload, bool retained);
    void askOwnQuestion(const QString &name);
    void runNextCommand();
    void commandDone();
    void setContact(bool on);
    void lampSeen(bool on);
    void powerSeen(ProjectorSession::Power power);
    void factsSeen();
    void setLampHours(const QList<qint64> &hours);
    void publishFacts();
    void publishLeaf(const QString &leaf, const QByteArray &payload);
    void clearFormerDiscovery();
    void publishDiscovery(bool again = false);
    mqtttopics::Device discoveryDevice() const;
    void publishRetained(const char *leaf, const QByteArray &payload);
    void publishState();
    void publishStateNow();
    QByteArray stateJson() const;

    ProjectorSession *session;
    MqttClient *client;
    Settings settings;
    QTimer lampHoursTimer;
    QTimer stateTimer; // one state message for the changes of one turn of the event loop
    QTimer claimTimer;
    QString openFailure; // why the port is not open, while it is not
    std::optional<bool> contact;
    std::optional<bool> lampOn;
    QList<qint64> lampHours; // each lamp's, as far as told
    QString model;
    // What the projector has told of itself, kept when a new connection has not told it yet.
    ProjectorFacts facts;
    QHash<QString, QByteArray> leaves; // the facts' leaves as last published
    QByteArray lastDiscovery; // as last published
    QByteArray lastState; // as last published
    QString lastBrokerProblem;
    QList<Waiting> waiting;
    QPointer<ScriptedRequest> running;
    Waiting runningCommand;
    std::array<Quiet, kIgnoredKinds> quiet;
    std::array<QTimer, kIgnoredKinds> quietTimers;
    int status = 0;
    bool serving = false; // this connection serves the id: no other service was heard
};

#endif // PROJECTORSERVICE_H
