#ifndef FACECONNECTION_H
#define FACECONNECTION_H

#include "link/commandset.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class FaceAnswer;
class ProjectorSession;
class QTcpSocket;

// One controller's connection to the PJLink face, as a projector holds one: the greeting
// (with this connection's random number where a password is asked), the digest before the
// first request, one request at a time, and the close after 30 s without a request.
// Nothing a peer sends grows without bound: a line is kept up to PJLink's longest, what
// follows a request waits in the socket until its answer is written, and a peer that does
// not read its answers is not read either.
class FaceConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIdleTimeout = 30000; // ms without a request, as projectors close
    static constexpr int kMaxUnread = 4096; // bytes of answers not yet taken by the peer

    // What a request is answered with: the protocol the projector speaks, and the name.
    using SetOf = std::function<CommandSet()>;

    // Takes the socket (connected) and greets; `password` empty: none asked.
    FaceConnection(QTcpSocket *socket, ProjectorSession *session, SetOf setOf, QString name,
                   const QByteArray &password, QObject *parent = nullptr);
    ~FaceConnection() override;

signals:
    // The connection has ended, what was written is out: it may be deleted.
    void closed();

private:
    void readRequests();
    void lineRead(QByteArray line, bool tooLong);
    void answered(const QByteArray &line);
    void writeLine(const QByteArray &line);
    void dropPeer();
    void idleTimeUp();
    void finish();

    QTcpSocket *socket;
    ProjectorSession *session;
    SetOf setOf;
    QString name;
    QByteArray password;
    QByteArray random; // this connection's, in its greeting; empty without a password
    bool authenticated = false;
    bool closing = false;
    bool finished = false;
    QByteArray line; // the request line being read
    bool tooLong = false;
    QPointer<FaceAnswer> busy; // the request being answered
    QTimer idle;
};

#endif // FACECONNECTION_H
