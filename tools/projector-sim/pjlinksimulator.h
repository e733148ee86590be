#ifndef PJLINKSIMULATOR_H
#define PJLINKSIMULATOR_H

#include "pjlinkmodel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <QUdpSocket>

#include <optional>

class QTcpSocket;

// Plays a projector that speaks PJLink on a TCP port of the loopback address: it greets
// each connection ("PJLINK 0", or "PJLINK 1 <random>" with a password), checks the digest
// before the first request, answers each request from its model, and can behave as real
// projectors do: close idle connections, take one connection at a time and one request
// per connection, or greet and then never answer.
//
// With datagrams, as a class 2 projector it also answers searches on UDP (from its own
// address, to the searcher's port 4352) and notifies its controller of its link coming up
// and of each change of its power, error status and input: the controller is the address
// given, else the one that connected last.
class PjlinkSimulator : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        PjlinkModel::Options projector;
        quint16 port = 4352; // 0: any free port
        QHostAddress address = QHostAddress(QHostAddress::LocalHost); // TCP and UDP
        QByteArray password; // empty: none asked
        bool datagrams = false; // class 2's search and notifications on UDP
        QString mac; // what the acknowledgement and the link-up tell
        QHostAddress notifyAddress; // null: the controller that connected last
        quint16 notifyPort = 4352;
        int idleCloseMs = -1; // closes a connection this long without a request
        bool oneConnection = false; // one connection at a time, closed after one answer
        bool mute = false; // greets, then never answers
        // Hostile or broken projectors: what is sent, the line end added, in place of the
        // model's answer to a request ("%1NAME ?"); it may hold more lines than one.
        QHash<QByteArray, QByteArray> replies;
        bool log = false;
    };

    explicit PjlinkSimulator(const Options &options, QObject *parent = nullptr);
    ~PjlinkSimulator() override;

    // Listens on its address (and binds its datagram port); false with a reason when the
    // port is taken.
    bool open(QString *error);
    // Closes every connection and stops listening: the projector is out of reach.
    void goOutOfReach();
    quint16 port() const { return server.serverPort(); }
    QString portName() const;
    PjlinkModel &projector() { return model; }
    QHostAddress address() const { return options.address; }
    // Answers a search from `from` (which a search listener of the process heard too).
    void answerSearch(const QHostAddress &from);
    // The error status from now on, notified as any change is.
    void setErrorStatus(const QByteArray &status);

    // What happened, for tests: connections taken, turned away while another was open,
    // passwords rejected, and every request received (without its digest).
    int connectionsAccepted() const { return accepted; }
    int connectionsTurnedAway() const { return turnedAway; }
    int passwordsRejected() const { return rejections; }
    int openConnections() const { return int(connections.size()); }
    const QList<QByteArray> &requests() const { return received; }

signals:
    void requestReceived(const QByteArray &request);

private:
    struct Connection
    {
        QTcpSocket *socket = nullptr;
        QTimer *idle = nullptr;
        QByteArray buffer;
        QByteArray random; // the challenge; empty without a password
        bool authenticated = false;
        int number = 0;
    };

    void admit();
    void readFrom(Connection *connection);
    void handle(Connection *connection, QByteArray line);
    void send(Connection *connection, const QByteArray &bytes);
    void hangUp(Connection *connection, const QString &why);
    void forget(Connection *connection);
    void logEvent(const QString &event) const;
    void readDatagrams();
    void sendDatagram(const QByteArray &datagram, const QHostAddress &to, quint16 port);
    // Sends a notification for what changed since the last one, and looks again once a
    // warm-up or cool-down is over.
    void notifyChanges();

    Options options;
    PjlinkModel model;
    QTcpServer server;
    QList<Connection *> connections;
    QElapsedTimer clock;
    int accepted = 0;
    int turnedAway = 0;
    int rejections = 0;
    QList<QByteArray> received;
    QUdpSocket datagramSocket;
    QHostAddress controller; // the last to connect
    QTimer settling; // the end of a warm-up or cool-down, to be notified
    std::optional<int> notifiedPower;
    QByteArray notifiedInput;
    QByteArray notifiedErrors;
};

#endif // PJLINKSIMULATOR_H
