#ifndef LOCALCHANNEL_H
#define LOCALCHANNEL_H

#include <QJsonObject>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QPointer>

class Exchange;
class Lumivox;
class QLocalSocket;

// The running window's way in for the command line: a local socket (a named pipe on
// Windows) that only this user can reach. A request is one line of JSON,
//   {"commands": ["power-off"], "status": true, "port": "ttyUSB0"}
// and is answered with one line of JSON, the request's result, or {"error": ...}. The
// window sends each command as if its button had been pressed (without the power-off
// question), one request at a time, and only on the port it holds.
class LocalChannel : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxRequest = 4096; // bytes of a request line, its newline included
    static constexpr int kRequestWait = 2000; // ms for a whole request to arrive
    static constexpr int kMaxWaiting = 4; // requests queued behind the one running

    explicit LocalChannel(Lumivox *window, QObject *parent = nullptr);
    ~LocalChannel() override;

    // Listens at `name`. A window that already listens there keeps its channel, and
    // this one goes without (false, with the reason); a socket left behind by a window
    // that ended is replaced.
    bool listen(const QString &name, QString *reason = nullptr);
    QString fullServerName() const { return server.fullServerName(); }

private:
    struct Request
    {
        QPointer<QLocalSocket> client;
        QJsonObject body;
    };

    void accept();
    void readRequest(QLocalSocket *client);
    void refuse(QLocalSocket *client, const QString &reason, const QString &message);
    void runNext();
    void reply(QLocalSocket *client, const QJsonObject &object);

    Lumivox *window;
    QLocalServer server;
    QList<Request> waiting;
    Exchange *running = nullptr;
};

#endif // LOCALCHANNEL_H
