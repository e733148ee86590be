#ifndef MQTTCLIENT_H
#define MQTTCLIENT_H

#include "link/retrypolicy.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class HostLookup;
class QSocketNotifier;
class QTcpSocket;
struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
struct ssl_ctx_st;

// One connection to an MQTT broker through libmosquitto, driven by this thread's event
// loop: the library's socket is watched by notifiers and its keep-alive by a timer, never
// by a thread of its own. A connection that fails or is lost is tried again after 1 s,
// then 2 s, 4 s ... up to 60 s. Nothing here waits: a broker that is away or slow holds
// up nothing else of the program. It speaks MQTT 5, so that the broker keeps larger
// packets than kMaxPacket to itself and tells when another client took its client id.
class MqttClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int kKeepAlive = 30; // s; also the bound of a connection being made
    static constexpr int kFirstRetry = 1000; // ms
    static constexpr int kLastRetry = 60000; // ms
    static constexpr int kLookupWait = 10000; // ms for the broker's name to be looked up
    static constexpr int kStopWait = 2000; // ms for the broker to take the last message
    // The largest packet the broker may send: a command with its topic, and room to spare.
    // A larger message is dropped by the broker and never reaches this program's memory.
    static constexpr int kMaxPacket = 4096; // bytes

    struct Settings
    {
        QString host;
        quint16 port = 0;
        bool tls = false;
        QString caFile; // empty: the system's certificate store
        QString user; // empty: no log-in
        QByteArray password;
        QString clientId;
        // Published by the broker, retained, when the connection ends without a goodbye.
        QString willTopic;
        QByteArray willPayload;
    };

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // Sets the connection up; false, with the reason, for settings the library refuses
    // (TLS where it was built without, a certificate file it cannot read or that holds
    // no certificate; on Windows, TLS without a CA file).
    bool configure(const Settings &settings, QString *reason);
    // Connects, and keeps reconnecting until leave().
    void connectToBroker();
    // Publishes a last message (retained; none for an empty topic), waits for the broker
    // to take it (at most kStopWait) and disconnects; finished() follows, also when not
    // connected.
    void leave(const QString &topic, const QByteArray &payload);
    bool isConnected() const { return connectedNow; }

    // QoS 1. Only while connected (false otherwise): nothing is kept for later.
    bool publish(const QString &topic, const QByteArray &payload, bool retain);
    // A retained message keeps its retained flag also when it comes live, where asked.
    bool subscribe(const QString &topic, bool retainAsPublished = false);

    // A longer payload is handed on cut to one byte more than this, so that the receiver
    // sees that it was too long without a copy of all of it.
    void setPayloadLimit(int bytes) { payloadLimit = bytes; }

signals:
    void connected();
    // A connection attempt failed or the connection was lost; the next attempt follows
    // after retryMs.
    void disconnected(const QString &reason, int retryMs);
    void messageReceived(const QString &topic, const QByteArray &payload, bool retained);
    // Another client connected with this client id and the broker ended this connection:
    // no new attempt follows (it would only end the other's), finished() does.
    void takenOver();
    void finished();

private:
    static void onConnect(mosquitto *handle, void *self, int code);
    static void onDisconnect(mosquitto *handle, void *self, int code,
                             const mqtt5__property *properties);
    static void onMessage(mosquitto *handle, void *self, const mosquitto_message *message);
    static void onPublish(mosquitto *handle, void *self, int messageId);
    static void onLog(mosquitto *handle, void *self, int level, const char *text);

    void attempt();
    void lookUp();
    void connectTo(const QString &address);
    void probed();
    void probeFailed();
    bool configureTls(QString *reason);
    QString tlsFailure() const;
    void loopDone(int code, int systemError);
    void failed(const QString &reason);
    void readable();
    void readFromBroker();
    void writable();
    void housekeeping();
    void watchSocket();
    void dropNotifiers();
    void sayGoodbye();
    void finish();

    mosquitto *handle = nullptr;
    Settings settings;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    std::unique_ptr<HostLookup> lookup;
    std::unique_ptr<QTcpSocket> probe;
    QString probeAddress;
    ssl_ctx_st *tls = nullptr;
    QElapsedTimer lookupClock;
    QTimer lookupTimer;
    QTimer retryTimer;
    QTimer keepAliveTimer;
    QTimer stopTimer;
    QTimer probeTimer;
    QString lastFailure; // of the attempt being made, set by the library's callbacks
    int certificateError = 0; // of the attempt being made: why the TLS check failed
    QString libraryTlsFailure; // of the attempt being made, as the library's log said it
    // Waits between attempts: 1, 2, 4 ... 60 s, from the first again once connected.
    RetryPolicy retry = RetryPolicy::doubling(kFirstRetry, kLastRetry);
    int payloadLimit = 0;
    int goodbyeId = -1;
    bool connectedNow = false;
    bool attempting = false; // a connection is being made or is up: its end is still due
    bool stopping = false;
    bool done = false;
};

#endif // MQTTCLIENT_H
