#include "pjlinksimulator.h"

#include "link/characters.h"
#include "link/pjlinkclass2.h"

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
constexpr int kSettleLook = 100; // ms between looks at a warm-up or cool-down under way
constexpr int kMaxReadsAtOnce = 64; // datagrams read at once

// The power as POWR answers it.
pjlink::Power powerOf(ProjectorModel::Power power)
{
    switch (power) {
    case ProjectorModel::Power::Standby:
        break;
    case ProjectorModel::Power::On:
        return pjlink::Power::On;
    case ProjectorModel::Power::CoolingDown:
        return pjlink::Power::Cooling;
    case ProjectorModel::Power::WarmingUp:
        return pjlink::Power::Warming;
    }
    return pjlink::Power::Standby;
}

// An IPv4 address as such, also where the system hands it over mapped into IPv6.
QHostAddress plain(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : address;
}

} // namespace

PjlinkSimulator::PjlinkSimulator(const Options &options, QObject *parent)
    : QObject(parent)
    , options(options)
    , model(options.projector)
{
    connect(&server, &QTcpServer::newConnection, this, &PjlinkSimulator::admit);
    connect(&datagramSocket, &QUdpSocket::readyRead, this, &PjlinkSimulator::readDatagrams);
    settling.setSingleShot(true);
    connect(&settling, &QTimer::timeout, this, &PjlinkSimulator::notifyChanges);
}

PjlinkSimulator::~PjlinkSimulator()
{
    goOutOfReach();
}

bool PjlinkSimulator::open(QString *error)
{
    clock.start();
    if (!server.listen(options.address, options.port)) {
        *error = server.errorString();
        return false;
    }
    if (!options.datagrams)
        return true;
    // On the controllers' own address, the port is left to them: what is sent to it there
    // would come here rather than to them. The projector then answers from another port.
    const quint16 port = options.address == QHostAddress(QHostAddress::LocalHost)
        ? quint16(0)
        : pjlinkclass2::kPort;
    if (!datagramSocket.bind(options.address, port,
                             QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = datagramSocket.errorString();
        server.close();
        return false;
    }
    // What it is now is no change; its link coming up is, for a controller it knows.
    notifiedPower = int(powerOf(model.power(clock.elapsed())));
    notifiedInput = model.input();
    notifiedErrors = model.errorStatus();
    if (!options.notifyAddress.isNull()) {
        pjlinkclass2::Notice linkUp;
        linkUp.mac = options.mac;
        sendDatagram(pjlinkclass2::noticeDatagram(linkUp), options.notifyAddress,
                     options.notifyPort);
    }
    return true;
}

void PjlinkSimulator::goOutOfReach()
{
    server.close();
    datagramSocket.close();
    settling.stop();
    while (!connections.isEmpty()) {
        QTcpSocket *socket = connections.constFirst()->socket;
        forget(connections.constFirst());
        socket->abort();
        socket->deleteLater();
    }
}

QString PjlinkSimulator::portName() const
{
    return QStringLiteral("pjlink://%1:%2").arg(options.address.toString()).arg(port());
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
        controller = plain(socket->peerAddress());
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
    notifyChanges();
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

void PjlinkSimulator::answerSearch(const QHostAddress &from)
{
    if (options.datagrams)
        sendDatagram(pjlinkclass2::acknowledgement(options.mac), from, pjlinkclass2::kPort);
}

void PjlinkSimulator::setErrorStatus(const QByteArray &status)
{
    model.setErrorStatus(status);
    notifyChanges();
}

void PjlinkSimulator::readDatagrams()
{
    char buffer[pjlinkclass2::kMaxDatagram + 1];
    for (int read = 0; read < kMaxReadsAtOnce && datagramSocket.hasPendingDatagrams(); ++read) {
        QHostAddress from;
        const qint64 size = datagramSocket.readDatagram(buffer, sizeof buffer, &from);
        if (size > 0 && size <= pjlinkclass2::kMaxDatagram
            && pjlinkclass2::isSearch(QByteArray(buffer, int(size))))
            answerSearch(plain(from));
    }
}

void PjlinkSimulator::sendDatagram(const QByteArray &datagram, const QHostAddress &to, quint16 port)
{
    logEvent(QStringLiteral("datagram to %1:%2 -> %3")
                 .arg(to.toString())
                 .arg(port)
                 .arg(characters::escapedBytes(datagram)));
    datagramSocket.writeDatagram(datagram, to, port);
}

void PjlinkSimulator::notifyChanges()
{
    if (!options.datagrams || datagramSocket.state() != QAbstractSocket::BoundState)
        return;
    const ProjectorModel::Power state = model.power(clock.elapsed());
    const QHostAddress to = options.notifyAddress.isNull() ? controller : options.notifyAddress;
    const auto notify = [&](const pjlinkclass2::Notice &notice) {
        if (!to.isNull())
            sendDatagram(pjlinkclass2::noticeDatagram(notice), to, options.notifyPort);
    };
    pjlinkclass2::Notice notice;
    if (int(powerOf(state)) != notifiedPower) {
        notifiedPower = int(powerOf(state));
        notice.kind = pjlinkclass2::Notice::Kind::Power;
        notice.power = powerOf(state);
        notify(notice);
    }
    if (model.errorStatus() != notifiedErrors) {
        notifiedErrors = model.errorStatus();
        notice.kind = pjlinkclass2::Notice::Kind::Error;
        notice.errorStatus = notifiedErrors;
        notify(notice);
    }
    if (model.input() != notifiedInput) {
        notifiedInput = model.input();
        notice.kind = pjlinkclass2::Notice::Kind::Input;
        notice.input = notifiedInput;
        notify(notice);
    }
    if (state == ProjectorModel::Power::WarmingUp || state == ProjectorModel::Power::CoolingDown)
        settling.start(kSettleLook);
}
