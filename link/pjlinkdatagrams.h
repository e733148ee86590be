#ifndef PJLINKDATAGRAMS_H
#define PJLINKDATAGRAMS_H

#include "link/pjlinkclass2.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QUdpSocket>

// The controller's end of PJLink class 2 on UDP: one socket, on the port projectors
// answer searches and send their notifications to, that broadcasts searches and hands on
// every acknowledgement and notification with the address it came from, so that one
// socket serves any number of projectors. What is not one of them, or is longer than a
// PJLink line, is dropped unread; however fast datagrams come, none is kept.
class PjlinkDatagrams : public QObject
{
    Q_OBJECT

public:
    // Datagrams read at most each time the socket has some: a flood cannot hold the
    // event loop.
    static constexpr int kMaxReadsAtOnce = 256;

    explicit PjlinkDatagrams(QObject *parent = nullptr);
    ~PjlinkDatagrams() override;

    // Binds the port on the address (every IPv4 address by default), shared with other
    // programs that listen there too; false with the reason when it cannot.
    bool bind(const QHostAddress &address = QHostAddress(QHostAddress::AnyIPv4),
              quint16 port = pjlinkclass2::kPort, QString *error = nullptr);
    bool isBound() const;

    // Broadcasts a search to each of the targets' port kPort; with none, to the broadcast
    // address of each of the host's IPv4 networks that is up, other than loopback.
    void search(const QList<QHostAddress> &targets = {});
    static QList<QHostAddress> broadcastAddresses();

signals:
    void acknowledged(const QHostAddress &from, const QString &mac);
    void notified(const QHostAddress &from, const pjlinkclass2::Notice &notice);

private:
    void readDatagrams();

    QUdpSocket socket;
};

#endif // PJLINKDATAGRAMS_H
