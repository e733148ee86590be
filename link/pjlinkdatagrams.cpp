#include "link/pjlinkdatagrams.h"

#include <QNetworkInterface>

PjlinkDatagrams::PjlinkDatagrams(QObject *parent)
    : QObject(parent)
{
    connect(&socket, &QUdpSocket::readyRead, this, &PjlinkDatagrams::readDatagrams);
}

PjlinkDatagrams::~PjlinkDatagrams() = default;

bool PjlinkDatagrams::bind(const QHostAddress &address, quint16 port, QString *error)
{
    if (socket.bind(address, port,
                    QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return true;
    if (error)
        *error = socket.errorString();
    return false;
}

bool PjlinkDatagrams::isBound() const
{
    return socket.state() == QAbstractSocket::BoundState;
}

void PjlinkDatagrams::search(const QList<QHostAddress> &targets)
{
    const QByteArray search = pjlinkclass2::searchDatagram();
    for (const QHostAddress &target : targets.isEmpty() ? broadcastAddresses() : targets)
        socket.writeDatagram(search, target, pjlinkclass2::kPort);
}

QList<QHostAddress> PjlinkDatagrams::broadcastAddresses()
{
    QList<QHostAddress> addresses;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || !flags.testFlag(QNetworkInterface::IsRunning)
            || flags.testFlag(QNetworkInterface::IsLoopBack)
            || !flags.testFlag(QNetworkInterface::CanBroadcast))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            const QHostAddress broadcast = entry.broadcast();
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && !broadcast.isNull()
                && !addresses.contains(broadcast))
                addresses.append(broadcast);
        }
    }
    return addresses;
}

void PjlinkDatagrams::readDatagrams()
{
    // One byte more than a datagram may have: a longer one shows as too long, and is cut
    // here by the system rather than copied whole.
    char buffer[pjlinkclass2::kMaxDatagram + 1];
    for (int read = 0; read < kMaxReadsAtOnce && socket.hasPendingDatagrams(); ++read) {
        QHostAddress from;
        const qint64 size = socket.readDatagram(buffer, sizeof buffer, &from);
        if (size <= 0 || size > pjlinkclass2::kMaxDatagram)
            continue;
        // A projector on IPv4 is named by its IPv4 address, whichever way the system
        // handed it over.
        bool mapped = false;
        const quint32 ipv4 = from.toIPv4Address(&mapped);
        if (mapped)
            from = QHostAddress(ipv4);
        const QByteArray datagram(buffer, int(size));
        if (const std::optional<QString> mac = pjlinkclass2::parseAcknowledgement(datagram))
            emit acknowledged(from, *mac);
        else if (const std::optional<pjlinkclass2::Notice> notice
                 = pjlinkclass2::parseNotice(datagram))
            emit notified(from, *notice);
    }
}
