#include "channel/localchannel.h"

#include "channel/channelname.h"
#include "channel/channelsecurity.h"
#include "channel/jsonline.h"
#include "link/portdevice.h"
#include "link/portopener.h"
#include "session/projectorrequest.h"
#include "session/projectorsession.h"
#include "session/resultjson.h"
#include "session/scriptedrequest.h"

#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

namespace {
constexpr int kLockWait = 1000; // ms another program may take to claim the same name
constexpr char kOtherPort[] = "other-port";

} // namespace

LocalChannel::LocalChannel(ProjectorSession *session, QObject *parent)
    : QObject(parent)
    , session(session)
{
    connect(&server, &QLocalServer::newConnection, this, &LocalChannel::accept);
}

LocalChannel::~LocalChannel()
{
    if (running) {
        disconnect(running, nullptr, this, nullptr);
        delete running;
    }
}

void LocalChannel::followPort()
{
    connect(session, &ProjectorSession::portChanged, this, &LocalChannel::moveWithPort,
            Qt::UniqueConnection);
    moveWithPort();
}

void LocalChannel::moveWithPort()
{
    const QString key = session->port() ? session->port()->key() : QString();
    if (key == portKey && (key.isEmpty() || server.isListening()))
        return;
    server.close();
    portKey = key;
    if (key.isEmpty())
        return;
    QString reason;
    if (!listen(localChannelName(key), &reason))
        emit problem(reason);
}

bool LocalChannel::listen(const QString &name, QString *reason)
{
    QString why;
    if (name.isEmpty()) {
        why = QStringLiteral("no private runtime directory for the command line");
    } else {
        // Claiming the name and listening are one step for every program of this user:
        // two starting together never remove each other's channel.
        QLockFile lock(channelLockPath(name));
        if (!lock.tryLock(kLockWait)) {
            why = name + QStringLiteral(": another Lumivox is taking the channel");
        } else if (claimChannelName(name, &why)) {
            server.setSocketOptions(QLocalServer::UserAccessOption);
            if (!server.listen(name))
                why = server.errorString();
            else if (!makeChannelPrivate(server.fullServerName(), &why))
                server.close();
        }
    }
    if (reason)
        *reason = why;
    return server.isListening();
}

void LocalChannel::accept()
{
    while (QLocalSocket *client = server.nextPendingConnection()) {
        // Never more than a request's worth held; a request that does not arrive whole
        // in time is dropped.
        jsonline::limitReadBuffer(client);
        auto *deadline = new QTimer(client);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, client, &QLocalSocket::abort);
        deadline->start(kRequestWait);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { readRequest(client); });
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    }
}

void LocalChannel::readRequest(QLocalSocket *client)
{
    if (client->property("answered").toBool())
        return; // one request per connection
    QJsonObject body;
    const jsonline::Read read = jsonline::read(client, &body);
    if (read == jsonline::Read::Waiting)
        return;
    if (read == jsonline::Read::TooLong) {
        refuse(client, QStringLiteral("too-long"), QStringLiteral("request too long"));
        return;
    }
    for (QTimer *deadline : client->findChildren<QTimer *>())
        deadline->stop();
    client->setProperty("answered", true);
    if (body.value(QStringLiteral("hello")).toBool()) {
        sendAnswer(client, {{QStringLiteral("serves"), role}});
        return;
    }
    QString problem;
    ProjectorRequest::Refusal refusal = ProjectorRequest::Refusal::Malformed;
    if (read == jsonline::Read::Malformed)
        problem = QStringLiteral("not JSON");
    else
        ProjectorRequest::fromJson(body, &refusal, &problem);
    if (refusal != ProjectorRequest::Refusal::None) {
        refuse(client, ProjectorRequest::refusalWord(refusal), problem);
        return;
    }
    if (waiting.size() >= kMaxWaiting) {
        refuse(client, QStringLiteral("busy"), QStringLiteral("the %1 is busy").arg(role));
        return;
    }
    waiting.append({client, body});
    runNext();
}

void LocalChannel::refuse(QLocalSocket *client, const QString &reason, const QString &message)
{
    client->setProperty("answered", true);
    sendAnswer(client, {{QStringLiteral("error"), message}, {QStringLiteral("reason"), reason}});
}

void LocalChannel::runNext()
{
    while (!running && !waiting.isEmpty()) {
        const Request request = waiting.takeFirst();
        if (!request.client || request.client->state() != QLocalSocket::ConnectedState)
            continue;
        // Only the port the session holds is this program's to serve; the command line
        // opens any other itself.
        ProjectorRequest::Refusal refusal = ProjectorRequest::Refusal::None;
        const ProjectorRequest asked = ProjectorRequest::fromJson(request.body, &refusal);
        const PortDevice *port = session->port();
        if (!port || port->isGone() || (!asked.port.isEmpty() && !session->holds(asked.port))) {
            refuse(request.client, QLatin1String(kOtherPort),
                   QStringLiteral("the %1 does not hold that port").arg(role));
            continue;
        }
        // A PJLink projector still waiting for its password gets the script's.
        session->offerPassword(session->portName(), asked.password);
        running = new ScriptedRequest(asked.steps(), this);
        runningClient = request.client;
        connect(running, &ScriptedRequest::finished, this, &LocalChannel::requestFinished);
        // A command line that gave up is not served any further: what it has not sent yet
        // is dropped.
        connect(request.client, &QLocalSocket::disconnected, running,
                &ScriptedRequest::deleteLater);
        connect(running, &QObject::destroyed, this, [this] {
            running = nullptr;
            QMetaObject::invokeMethod(this, &LocalChannel::runNext, Qt::QueuedConnection);
        });
        session->submit(running);
    }
}

void LocalChannel::requestFinished()
{
    QJsonObject result = resultjson::toJson(running->result());
    if (session->port())
        result.insert(QStringLiteral("port"), session->port()->location());
    result.insert(QStringLiteral("via"), role);
    if (runningClient)
        sendAnswer(runningClient, result);
    running->deleteLater();
}

void LocalChannel::sendAnswer(QLocalSocket *client, const QJsonObject &object)
{
    client->write(jsonline::encode(object));
    client->disconnectFromServer();
}
