#include "channel/portholder.h"

#include "channel/channelname.h"
#include "link/portopener.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTimer>

void PortHolder::ask(const QString &portName)
{
    const QString channel = localChannelName(PortOpener::keyOf(portName));
    if (channel.isEmpty())
        return;
    auto *socket = new QLocalSocket(this);
    socket->setReadBufferSize(kMaxAnswer);
    QTimer::singleShot(kAnswerWait, socket, &QLocalSocket::abort);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::errorOccurred, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::connected, socket, [socket] {
        // Nothing is believed from a program of another user that took the name.
        QString unused;
        if (!isServedByThisUser(socket->socketDescriptor(), &unused)) {
            socket->abort();
            return;
        }
        socket->write(QJsonDocument(QJsonObject {{QStringLiteral("hello"), true}})
                          .toJson(QJsonDocument::Compact)
                      + '\n');
    });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, portName] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() >= kMaxAnswer)
                socket->abort();
            return;
        }
        const QString holder = QJsonDocument::fromJson(socket->readLine(kMaxAnswer))
                                   .object()
                                   .value(QStringLiteral("serves"))
                                   .toString();
        socket->abort();
        if (holder == QLatin1String("window") || holder == QLatin1String("service"))
            emit found(portName, holder);
    });
    socket->connectToServer(channel);
}
