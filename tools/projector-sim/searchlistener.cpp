#include "searchlistener.h"

#include "pjlinksimulator.h"

#include "link/pjlinkclass2.h"

namespace {
constexpr int kMaxReadsAtOnce = 64; // datagrams read at once
}

SearchListener::SearchListener(QObject *parent)
    : QObject(parent)
{
    connect(&socket, &QUdpSocket::readyRead, this, &SearchListener::readDatagrams);
}

bool SearchListener::listen(const QHostAddress &broadcast, QString *error)
{
    if (socket.bind(broadcast, pjlinkclass2::kPort,
                    QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return true;
    *error = socket.errorString();
    return false;
}

void SearchListener::readDatagrams()
{
    char buffer[pjlinkclass2::kMaxDatagram + 1];
    for (int read = 0; read < kMaxReadsAtOnce && socket.hasPendingDatagrams(); ++read) {
        QHostAddress from;
        const qint64 size = socket.readDatagram(buffer, sizeof buffer, &from);
        if (size <= 0 || size > pjlinkclass2::kMaxDatagram
            || !pjlinkclass2::isSearch(QByteArray(buffer, int(size))))
            continue;
        bool mapped = false;
        const quint32 ipv4 = from.toIPv4Address(&mapped);
        for (PjlinkSimulator *projector : std::as_const(projectors))
            projector->answerSearch(mapped ? QHostAddress(ipv4) : from);
    }
}
