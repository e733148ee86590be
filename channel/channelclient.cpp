#include "channel/channelclient.h"

#include "channel/channelsecurity.h"
#include "channel/jsonline.h"

#include <QDeadlineTimer>
#include <QLocalSocket>

namespace {
constexpr int kConnectWait = 1000; // ms for a listening window to take the connection
} // namespace

WindowAnswer sendOverChannel(const QString &channel, const QJsonObject &request, int waitMs,
                             QJsonObject *answer, QString *error)
{
    if (channel.isEmpty())
        return WindowAnswer::NoWindow;
    QLocalSocket socket;
    jsonline::limitReadBuffer(&socket);
    socket.connectToServer(channel);
    if (!socket.waitForConnected(kConnectWait))
        return WindowAnswer::NoWindow;
    // Nothing goes to, and nothing is believed from, a program of another user.
    if (!isServedByThisUser(socket.socketDescriptor(), error))
        return WindowAnswer::Failed;
    socket.write(jsonline::encode(request));
    const QDeadlineTimer deadline(waitMs);
    QJsonObject object;
    jsonline::Read read = jsonline::read(&socket, &object);
    while (read == jsonline::Read::Waiting && socket.state() == QLocalSocket::ConnectedState
           && socket.waitForReadyRead(int(deadline.remainingTime())))
        read = jsonline::read(&socket, &object);
    if (read == jsonline::Read::Waiting)
        read = jsonline::read(&socket, &object); // the answer came with the window's close
    if (read != jsonline::Read::Object) {
        *error = read == jsonline::Read::Waiting && deadline.hasExpired()
            ? QStringLiteral("the running Lumivox window did not answer in time")
            : QStringLiteral("the running Lumivox window gave no answer");
        return WindowAnswer::Failed;
    }
    // A refusal is an error alone; a result names its error beside its commands.
    if (object.contains(QStringLiteral("error")) && !object.contains(QStringLiteral("commands"))) {
        if (object.value(QStringLiteral("reason")).toString() == QLatin1String("other-port"))
            return WindowAnswer::OtherPort;
        *answer = object; // the refusal, for its reason
        *error = QStringLiteral("the running Lumivox window refused the request: ")
            + object.value(QStringLiteral("error")).toString();
        return WindowAnswer::Failed;
    }
    *answer = object;
    return WindowAnswer::Answered;
}

bool isChannelListened(const QString &channel)
{
    if (channel.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(channel);
    return socket.waitForConnected(kConnectWait);
}
