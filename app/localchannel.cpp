#include "localchannel.h"

#include "channelname.h"
#include "exchange.h"
#include "lumivox.h"
#include "portdevice.h"
#include "protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTimer>

namespace {
constexpr int kProbeWait = 500; // ms for a window already listening to answer
constexpr char kOtherPort[] = "other-port";

// The request's commands, or an empty list and the reason when it is not a request.
QStringList commandsOf(const QJsonObject &body, QString *problem)
{
    const QJsonValue commands = body.value(QStringLiteral("commands"));
    const QJsonValue status = body.value(QStringLiteral("status"));
    const QJsonValue port = body.value(QStringLiteral("port"));
    if (!commands.isArray() || (!status.isUndefined() && !status.isBool())
        || (!port.isUndefined() && !port.isString())) {
        *problem = QStringLiteral("not a request");
        return {};
    }
    const QJsonArray list = commands.toArray();
    if (list.size() > Exchange::kMaxCommands) {
        *problem = QStringLiteral("too many commands");
        return {};
    }
    QStringList names;
    for (const QJsonValue &value : list) {
        if (!value.isString() || !protocol::commandNamed(value.toString())) {
            *problem = QStringLiteral("unknown command");
            return {};
        }
        names.append(value.toString());
    }
    if (names.isEmpty() && !status.toBool())
        *problem = QStringLiteral("nothing to do");
    return names;
}
} // namespace

LocalChannel::LocalChannel(Lumivox *window, QObject *parent)
    : QObject(parent)
    , window(window)
{
    connect(&server, &QLocalServer::newConnection, this, &LocalChannel::accept);
}

LocalChannel::~LocalChannel()
{
    delete running;
}

bool LocalChannel::listen(const QString &name, QString *reason)
{
    if (name.isEmpty()) {
        if (reason)
            *reason = QStringLiteral("no private runtime directory for the command line");
        return false;
    }
    // Asked first: on Windows a second server of the same name would share its pipe.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(kProbeWait)) {
        probe.abort();
        if (reason)
            *reason = QStringLiteral("the command line goes to the window that started first");
        return false;
    }
    server.setSocketOptions(QLocalServer::UserAccessOption);
    bool listening = server.listen(name);
    if (!listening && server.serverError() == QAbstractSocket::AddressInUseError) {
        // Nobody answered there: a window that ended without removing it left it.
        QLocalServer::removeServer(name);
        listening = server.listen(name);
    }
    if (!listening) {
        if (reason)
            *reason = server.errorString();
        return false;
    }
    if (!makeChannelPrivate(server.fullServerName(), reason)) {
        server.close();
        return false;
    }
    return true;
}

void LocalChannel::accept()
{
    while (QLocalSocket *client = server.nextPendingConnection()) {
        // Never more than a request's worth held; a request that does not arrive whole
        // in time is dropped.
        client->setReadBufferSize(kMaxRequest + 1);
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
    if (!client->canReadLine()) {
        if (client->bytesAvailable() >= kMaxRequest)
            refuse(client, QStringLiteral("too-long"), QStringLiteral("request too long"));
        return;
    }
    const QByteArray line = client->readLine(kMaxRequest + 1);
    if (!line.endsWith('\n')) {
        refuse(client, QStringLiteral("too-long"), QStringLiteral("request too long"));
        return;
    }
    for (QTimer *deadline : client->findChildren<QTimer *>())
        deadline->stop();
    client->setProperty("answered", true);
    const QJsonDocument document = QJsonDocument::fromJson(line);
    QString problem;
    if (!document.isObject())
        problem = QStringLiteral("not JSON");
    else
        commandsOf(document.object(), &problem);
    if (!problem.isEmpty()) {
        refuse(client, QStringLiteral("malformed"), problem);
        return;
    }
    if (waiting.size() >= kMaxWaiting) {
        refuse(client, QStringLiteral("busy"), QStringLiteral("the window is busy"));
        return;
    }
    waiting.append({client, document.object()});
    runNext();
}

void LocalChannel::refuse(QLocalSocket *client, const QString &reason, const QString &message)
{
    client->setProperty("answered", true);
    reply(client, {{QStringLiteral("error"), message}, {QStringLiteral("reason"), reason}});
}

void LocalChannel::runNext()
{
    // The replies are not matched to commands: one request at a time.
    while (!running && !waiting.isEmpty()) {
        const Request request = waiting.takeFirst();
        if (!request.client || request.client->state() != QLocalSocket::ConnectedState)
            continue;
        // Only the port the window holds is the window's to serve; the command line
        // opens any other itself.
        const PortDevice *port = window->port();
        const QString portName = request.body.value(QStringLiteral("port")).toString();
        if (!port || port->isGone() || (!portName.isEmpty() && !port->isOpenedAs(portName))) {
            refuse(request.client, QLatin1String(kOtherPort),
                   QStringLiteral("the window does not hold that port"));
            continue;
        }
        QString unused;
        const QStringList names = commandsOf(request.body, &unused);
        const bool status = request.body.value(QStringLiteral("status")).toBool();
        Lumivox *target = window;
        running = new Exchange(
            Exchange::plan(names, status),
            [target](const Exchange::Step &step, QString *error) {
                if (step.command)
                    target->runCommand(*step.command);
                else
                    target->sendCommand(step.text, unsigned(qstrlen(step.text)));
                const bool sent = target->port() && !target->port()->isGone();
                if (!sent)
                    *error = QStringLiteral("Communication with projector not possible.");
                return sent;
            },
            this);
        connect(window, &Lumivox::replyHandled, running, &Exchange::takeLine);
        const QPointer<QLocalSocket> client = request.client;
        connect(running, &Exchange::finished, this, [this, client] {
            QJsonObject result = Exchange::toJson(running->result());
            if (window->port())
                result.insert(QStringLiteral("port"), window->port()->location());
            running->deleteLater();
            running = nullptr;
            if (client)
                reply(client, result);
            // Not from inside the exchange that just ended.
            QMetaObject::invokeMethod(this, &LocalChannel::runNext, Qt::QueuedConnection);
        });
        running->start();
    }
}

void LocalChannel::reply(QLocalSocket *client, const QJsonObject &object)
{
    client->write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    client->disconnectFromServer();
}
