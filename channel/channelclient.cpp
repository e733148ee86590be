#include "channel/channelclient.h"

#include "channel/channelname.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QLocalSocket>

namespace {
constexpr int kConnectWait = 1000; // ms for a listening window to take the connection
constexpr qint64 kMaxAnswer = 1 << 20; // bytes: a result holds at most a few lines per step
} // namespace

WindowAnswer askWindow(const QString &channel, const QJsonObject &request, int waitMs,
                       QJsonObject *answer, QString *error)
{
    if (channel.isEmpty())
        return WindowAnswer::NoWindow;
    QLocalSocket socket;
    socket.setReadBufferSize(kMaxAnswer);
    socket.connectToServer(channel);
    if (!socket.waitForConnected(kConnectWait))
        return WindowAnswer::NoWindow;
    // Nothing goes to, and nothing is believed from, a program of another user.
    if (!isServedByThisUser(socket.socketDescriptor(), error))
        return WindowAnswer::Failed;
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    const QDeadlineTimer deadline(waitMs);
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() >= kMaxAnswer || socket.state() != QLocalSocket::ConnectedState
            || !socket.waitForReadyRead(int(deadline.remainingTime()))) {
            if (socket.canReadLine())
                break; // the answer came with the window's close of the connection
            *error = deadline.hasExpired()
                ? QStringLiteral("the running Lumivox window did not answer in time")
                : QStringLiteral("the running Lumivox window gave no answer");
            return WindowAnswer::Failed;
        }
    }
    const QJsonDocument document = QJsonDocument::fromJson(socket.readLine(kMaxAnswer));
    const QJsonObject object = document.object();
    if (!document.isObject()) {
        *error = QStringLiteral("the running Lumivox window gave no answer");
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
