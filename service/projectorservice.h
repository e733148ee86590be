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
    };

    ProjectorService(ProjectorSession *session, MqttClient *client, const Settings &settings,
                     QObject *parent = nullptr);
    ~ProjectorService() override;

    // Opens the port and connects to the broker.
    void serve();
    // Says "offline" and leaves the broker; finished() follows.
    void leave();
    // 0, or kIdTakenStatus once another service has taken the id.
    int exitStatus() const { return status; }

signals:
    // A line for the service's log, without a line end.
    void logLine(const QString &text);
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
