#include "pjlinkface/pjlinkface.h"

#include "pjlinkface/faceconnection.h"
#include "session/commandsets.h"
#include "session/projectorsession.h"

#include <QTcpSocket>

namespace {
constexpr char kBuiltInSet[] = "builtin";
} // namespace

PjlinkFace::PjlinkFace(ProjectorSession *session, const Settings &settings, QObject *parent)
    : QObject(parent)
    , session(session)
    , settings(settings)
{
    CommandSets::Entry entry;
    QString unused;
    if (CommandSets::lookUp(QLatin1String(kBuiltInSet), &entry, &unused))
        builtIn = entry.set;
    connect(&server, &QTcpServer::newConnection, this, &PjlinkFace::accept);
}

PjlinkFace::~PjlinkFace()
{
    server.close();
    // The connections go before the settings they were given.
    qDeleteAll(findChildren<FaceConnection *>(QString(), Qt::FindDirectChildrenOnly));
    settings.password.fill('\0');
}

bool PjlinkFace::listen(QString *problem)
{
    if (server.listen(settings.address, settings.port))
        return true;
    *problem = QStringLiteral("cannot listen for PJLink controllers on %1: %2")
                   .arg(addressText(), server.errorString());
    return false;
}

QString PjlinkFace::addressText() const
{
    const QString host = settings.address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(settings.address.toString())
        : settings.address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(server.isListening() ? server.serverPort()
                                                                      : settings.port);
}

void PjlinkFace::accept()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        if (connections >= kMaxConnections) {
            // Closed at once rather than left waiting for a greeting: the controller
            // sees it and tries again later.
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            if (socket->state() == QAbstractSocket::UnconnectedState)
                socket->deleteLater();
            continue;
        }
        ++connections;
        auto *connection = new FaceConnection(
            socket, session, [this] { return setInUse(); }, settings.name, settings.password, this);
        connect(connection, &FaceConnection::closed, this, [this, connection] {
            --connections;
            connection->deleteLater();
        });
    }
}

CommandSet PjlinkFace::setInUse() const
{
    return session->chosenCommandSet().value_or(builtIn);
}
