#include "pjlinksimulator.h"

#include "link/characters.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

namespace {
constexpr int kMillisPerSecond = 1000;
constexpr int kDigestLength = 32;
constexpr int kMaxLine = 256; // a client that sends longer lines is hung up on
constexpr int kMaxConnections = 8; // more at once are turned away
constexpr quint32 kRandomRange = 0xffffffffU;

} // namespace

PjlinkSimulator::PjlinkSimulator(const Options &options, QObject *parent)
    : QObject(parent)
    , options(options)
    , model(options.projector)
{
    connect(&server, &QTcpServer::newConnection, this, &PjlinkSimulator::admit);
}

PjlinkSimulator::~PjlinkSimulator()
{
    goOutOfReach();
}

bool PjlinkSimulator::open(QString *error)
{
    clock.start();
    if (server.listen(QHostAddress::LocalHost, options.port))
        return true;
    *error = server.errorString();
    return false;
}

void PjlinkSimulator::goOutOfReach()
{
    server.close();
    while (!connections.isEmpty()) {
        QTcpSocket *socket = connections.constFirst()->socket;
        forget(connections.constFirst());
        socket->abort();
        socket->deleteLater();
    }
}

QString PjlinkSimulator::portName() const
{
    return QStringLiteral("pjlink://127.0.0.1:%1").arg(port());
}

void PjlinkSimulator::admit()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        if ((options.oneConnection && !connections.isEmpty())
            || connections.size() >= kMaxConnections) {
            ++turnedAway;
            logEvent(QStringLiteral("connection turned away: another one is open"));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *connection = new Connection;
        connection->socket = socket;
        connection->number = ++accepted;
        connections.append(connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { readFrom(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, connection, socket] {
            logEvent(QStringLiteral("connection %1 closed by the program").arg(connection->number));
            forget(connection);
            socket->deleteLater();
        });
        if (options.idleCloseMs >= 0) {
            connection->idle = new QTimer(socket);
            connection->idle->setSingleShot(true);
            connect(connection->idle, &QTimer::timeout, this,
                    [this, connection] { hangUp(connection, QStringLiteral("idle")); });
            connection->idle->start(options.idleCloseMs);
        }
        logEvent(QStringLiteral("connection %1 opened").arg(connection->number));
        QByteArray greeting = "PJLINK 0";
        if (!options.password.isEmpty()) {
            connection->random
                = QByteArray::number(QRandomGenerator::global()->bounded(kRandomRange), 16)
                      .rightJustified(8, '0');
            greeting = "PJLINK 1 " + connection->random;
        }
        send(connection, greeting + '\r');
    }
}

void PjlinkSimulator::readFrom(Connection *connection)
{
    connection->buffer += connection->socket->readAll();
    for (;;) {
        const int end = int(connection->buffer.indexOf('\r'));
        if (end < 0)
            break;
        const QByteArray line = connection->buffer.left(end);
        connection->buffer.remove(0, end + 1);
        handle(connection, line);
        if (!connections.contains(connection))
            return; // closed while handling
    }
    if (connection->buffer.size() > kMaxLine)
        hangUp(connection, QStringLiteral("a line too long"));
}

void PjlinkSimulator::handle(Connection *connection, QByteArray line)
{
    if (!connection->random.isEmpty() && !connection->authenticated) {
        const QByteArray expected = QCryptographicHash::hash(connection->random + options.password,
                                                             QCryptographicHash::Md5)
                                        .toHex();
        if (line.left(kDigestLength) != expected) {
            ++rejections;
            logEvent(QStringLiteral("connection %1: wrong password").arg(connection->number));
            send(connection, "PJLINK ERRA\r");
            hangUp(connection, QStringLiteral("wrong password"));
            return;
        }
        connection->authenticated = true;
        line.remove(0, kDigestLength);
    }
    logEvent(QStringLiteral("connection %1: <- %2")
                 .arg(connection->number)
                 .arg(characters::escapedBytes(line)));
    received.append(line);
    emit requestReceived(line);
    if (connection->idle)
        connection->idle->start(options.idleCloseMs);
    if (options.mute)
        return;
    const auto scripted = options.replies.constFind(line);
    send(connection,
         scripted != options.replies.cend() ? *scripted + options.projector.lineEnd
                                            : model.answer(line, clock.elapsed()));
    if (options.oneConnection)
        hangUp(connection, QStringLiteral("one request per connection"));
}

void PjlinkSimulator::send(Connection *connection, const QByteArray &bytes)
{
    logEvent(QStringLiteral("connection %1: -> %2")
                 .arg(connection->number)
                 .arg(characters::escapedBytes(bytes)));
    connection->socket->write(bytes);
}

void PjlinkSimulator::hangUp(Connection *connection, const QString &why)
{
    logEvent(QStringLiteral("connection %1 closed by the projector (%2)")
                 .arg(connection->number)
                 .arg(why));
    QTcpSocket *socket = connection->socket;
    forget(connection);
    // What was written goes out before the connection ends.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

void PjlinkSimulator::forget(Connection *connection)
{
    if (!connections.removeOne(connection))
        return;
    connection->socket->disconnect(this);
    if (connection->idle) {
        connection->idle->stop();
        connection->idle->disconnect(this);
    }
    delete connection;
}

void PjlinkSimulator::logEvent(const QString &event) const
{
    if (options.log)
        QTextStream(stdout) << QStringLiteral("[%1] %2\n")
                                   .arg(clock.elapsed() / double(kMillisPerSecond), 0, 'f', 3)
                                   .arg(event)
                            << Qt::flush;
}
