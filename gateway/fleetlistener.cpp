#include "gateway/fleetlistener.h"

#include <QNetworkInterface>

namespace {
constexpr int kIpv4Bits = 32;

// An IPv4 address as itself, also when it came IPv4-mapped.
QHostAddress plain(const QHostAddress &address)
{
    bool ipv4 = false;
    const quint32 value = address.toIPv4Address(&ipv4);
    return ipv4 ? QHostAddress(value) : address;
}

// The network a broadcast address was given for: its host part is the trailing one bits
// (127.255.255.255 is 127.0.0.0/8). A single host (no trailing ones) is itself alone.
QPair<QHostAddress, int> networkOf(const QHostAddress &broadcast)
{
    const quint32 value = plain(broadcast).toIPv4Address();
    int hostBits = 0;
    while (hostBits < kIpv4Bits - 1 && (value >> hostBits & 1U) != 0)
        ++hostBits;
    return {QHostAddress(value), kIpv4Bits - hostBits};
}
} // namespace

FleetListener::FleetListener(QObject *parent)
    : QObject(parent)
{
    searchTimer.setInterval(kSearchInterval);
    connect(&searchTimer, &QTimer::timeout, this, &FleetListener::sendSearch);
    connect(&datagrams, &PjlinkDatagrams::acknowledged, this, &FleetListener::takeAnswer);
    connect(&datagrams, &PjlinkDatagrams::notified, this, &FleetListener::takeNotice);
}

bool FleetListener::listen(QString *problem)
{
    return datagrams.bind(QHostAddress(QHostAddress::AnyIPv4), pjlinkclass2::kPort, problem);
}

void FleetListener::searchPeriodically(const QList<QHostAddress> &given)
{
    targets = given;
    searched.clear();
    if (targets.isEmpty()) {
        for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
            if (!interface.flags().testFlag(QNetworkInterface::IsUp)
                || interface.flags().testFlag(QNetworkInterface::IsLoopBack))
                continue;
            for (const QNetworkAddressEntry &entry : interface.addressEntries())
                if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    searched.append({entry.ip(), entry.prefixLength()});
        }
    } else {
        for (const QHostAddress &target : targets)
            searched.append(networkOf(target));
    }
    sendSearch();
    searchTimer.start();
}

void FleetListener::sendSearch()
{
    lastSearch.start();
    datagrams.search(targets);
}

bool FleetListener::isSearched(const QHostAddress &address) const
{
    for (const QPair<QHostAddress, int> &network : searched)
        if (address.isInSubnet(network))
            return true;
    return false;
}

void FleetListener::takeAnswer(const QHostAddress &from, const QString &mac)
{
    const QHostAddress address = plain(from);
    if (lastSearch.isValid() && !lastSearch.hasExpired(kAnswerWindow) && isSearched(address))
        emit found(address, mac);
}

void FleetListener::takeNotice(const QHostAddress &from, const pjlinkclass2::Notice &notice)
{
    using Kind = pjlinkclass2::Notice::Kind;
    const QHostAddress address = plain(from);
    switch (notice.kind) {
    case Kind::LinkUp:
        // A projector that comes up on a network searched is found as if it had answered.
        if (lastSearch.isValid() && isSearched(address))
            emit found(address, notice.mac);
        emit hinted(address, ProjectorSession::Hint::LinkUp);
        return;
    case Kind::Power:
        emit hinted(address, ProjectorSession::Hint::Power);
        return;
    case Kind::Error:
        emit hinted(address, ProjectorSession::Hint::Error);
        return;
    case Kind::Input:
        emit hinted(address, ProjectorSession::Hint::Input);
        return;
    }
}
