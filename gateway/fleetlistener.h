#ifndef FLEETLISTENER_H
#define FLEETLISTENER_H

#include "link/pjlinkdatagrams.h"
#include "session/projectorsession.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>

// What PJLink projectors say of themselves over UDP, for a gateway: one socket for all of
// them, on which notifications arrive and searches are answered. Nothing heard here is
// believed: a notification only makes the projector at its sender's address be asked
// (hinted), and a search's answer counts only while the search is fresh and only from an
// address of the networks searched, so that a forged datagram cannot point the gateway at
// a host of somebody else's.
class FleetListener : public QObject
{
    Q_OBJECT

public:
    // How long after a search its answers are taken, and the time between two searches.
    static constexpr int kAnswerWindow = 5000; // ms
    static constexpr int kSearchInterval = 10 * 60 * 1000; // ms

    explicit FleetListener(QObject *parent = nullptr);

    // Binds the PJLink UDP port on every IPv4 address; false with the reason.
    bool listen(QString *problem);
    // Searches now and then every kSearchInterval on the targets (the broadcast addresses
    // of the host's networks when empty).
    void searchPeriodically(const QList<QHostAddress> &targets);

signals:
    // A projector answered a search (or said its link came up) from an address of the
    // networks searched.
    void found(const QHostAddress &address, const QString &mac);
    // A projector's notification: the session at that address is to ask.
    void hinted(const QHostAddress &address, ProjectorSession::Hint hint);

private:
    void sendSearch();
    void takeAnswer(const QHostAddress &from, const QString &mac);
    void takeNotice(const QHostAddress &from, const pjlinkclass2::Notice &notice);
    bool isSearched(const QHostAddress &address) const;

    PjlinkDatagrams datagrams;
    QTimer searchTimer;
    QElapsedTimer lastSearch;
    QList<QHostAddress> targets;
    QList<QPair<QHostAddress, int>> searched; // the networks, as address and prefix length
};

#endif // FLEETLISTENER_H
