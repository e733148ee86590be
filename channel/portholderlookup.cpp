#include "channel/portholderlookup.h"

#include "channel/channelname.h"
#include "channel/channelsecurity.h"
#include "channel/jsonline.h"
#include "link/portopener.h"

#include <QJsonObject>
#include <QLocalSocket>
#include <QTimer>

void PortHolderLookup::lookUp(const QString &portName)
{
    const QString channel = localChannelName(PortOpener::keyOf(portName));
    if (channel.isEmpty())
        return;
    auto *socket = new QLocalSocket(this);
    jsonline::limitReadBuffer(socket);
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
        socket->write(jsonline::encode({{QStringLiteral("hello"), true}}));
    });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, portName] {
        QJsonObject answer;
        const jsonline::Read read = jsonline::read(socket, &answer);
        if (read == jsonline::Read::Waiting)
            return;
        socket->abort();
        const QString holder = answer.value(QStringLiteral("serves")).toString();
        if (holder == QLatin1String("window") || holder == QLatin1String("service"))
            emit found(portName, holder);
    });
    socket->connectToServer(channel);
}
