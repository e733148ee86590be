#ifndef LOCALCHANNEL_H
#define LOCALCHANNEL_H

#include <QJsonObject>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QPointer>

class ProjectorSession;
class QLocalSocket;
class ScriptedRequest;

// A running program's way in for the command line: a local socket (a named pipe on
// Windows) that only this user can reach, named after the port its session holds. A
// request is one line of JSON (see ProjectorRequest and jsonline.h),
//   {"commands": ["power-off"], "status": true, "port": "ttyUSB0"}
// and is answered with one line of JSON, the request's result, or {"error": ...,
// "reason": WORD} (one of ProjectorRequest's refusals, "too-long", "busy" or
// "other-port"). The session runs each request's commands as their buttons send them
// (without the power-off question), one request at a time, and only on the port it holds.
// {"hello": true} is answered with who serves the channel, {"serves": "window"} or "service", so
// that a program that finds the port taken can say by whom.
class LocalChannel : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRequestWait = 2000; // ms for a whole request to arrive
    static constexpr int kMaxWaiting = 4; // requests queued behind the one running

    explicit LocalChannel(ProjectorSession *session, QObject *parent = nullptr);
    ~LocalChannel() override;

    // Listens at the channel of the port the session holds, and moves with it whenever
    // the port changes; problem() tells when it cannot.
    void followPort();
    // Listens at `name`. Another program that answers there keeps its channel, and
    // anything there that is not a channel is left alone (false, with the reason); a
    // socket left behind by a program that ended is replaced.
    bool listen(const QString &name, QString *reason = nullptr);
    // Who serves the channel, as hello and every answer tell it: "window" or "service".
    void setRole(const QString &name) { role = name; }

signals:
    // Why the channel could not be taken: the program runs on without one.
    void problem(const QString &reason);

private:
    struct Request
    {
        QPointer<QLocalSocket> client;
        QJsonObject body;
    };

    void moveWithPort();
    void accept();
    void readRequest(QLocalSocket *client);
    void refuse(QLocalSocket *client, const QString &reason, const QString &message);
    void runNext();
    void requestFinished();
    void sendAnswer(QLocalSocket *client, const QJsonObject &object);

    ProjectorSession *session;
    QLocalServer server;
    QString portKey; // of the port listened for
    QString role = QStringLiteral("window");
    QList<Request> waiting;
    ScriptedRequest *running = nullptr;
    QPointer<QLocalSocket> runningClient;
};

#endif // LOCALCHANNEL_H
