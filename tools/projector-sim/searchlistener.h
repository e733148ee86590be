#ifndef SEARCHLISTENER_H
#define SEARCHLISTENER_H

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUdpSocket>

class PjlinkSimulator;

// Hears the searches broadcast on the loopback network, once for every projector the
// process plays: a socket bound to a projector's own address hears only what is sent to
// that address. Each projector answers from its own.
class SearchListener : public QObject
{
    Q_OBJECT

public:
    explicit SearchListener(QObject *parent = nullptr);

    // Binds the search port on the broadcast address; false with the reason.
    bool listen(const QHostAddress &broadcast, QString *error);
    void add(PjlinkSimulator *projector) { projectors.append(projector); }

private:
    void readDatagrams();

    QUdpSocket socket;
    QList<PjlinkSimulator *> projectors;
};

#endif // SEARCHLISTENER_H
