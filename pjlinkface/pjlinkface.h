#ifndef PJLINKFACE_H
#define PJLINKFACE_H

#include "link/commandset.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>

class ProjectorSession;

// The projector a session holds, offered to other controllers (a campus control system,
// a home-automation PJLink integration) as a PJLink class 1 projector: a listening socket
// and a bounded number of connections, each answered as a projector answers, whatever
// protocol the projector itself speaks. The session sends their commands in turn with
// everything else it sends.
class PjlinkFace : public QObject
{
    Q_OBJECT

public:
    // Connections served at once; one more is closed as soon as it comes.
    static constexpr int kMaxConnections = 8;
    static constexpr quint16 kDefaultPort = 4352;

    struct Settings
    {
        QHostAddress address = QHostAddress::Any;
        quint16 port = kDefaultPort;
        // The password each controller proves it knows; empty: none is asked ("PJLINK 0").
        QByteArray password;
        QString name; // what NAME answers
    };

    PjlinkFace(ProjectorSession *session, const Settings &settings, QObject *parent = nullptr);
    ~PjlinkFace() override;

    // Starts listening; false, and why, when the address cannot be taken.
    bool listen(QString *problem);
    // "127.0.0.1:4352", for the log.
    QString addressText() const;

private:
    void accept();
    // The protocol the projector speaks now: the session's set, else the built-in one.
    CommandSet setInUse() const;

    ProjectorSession *session;
    Settings settings;
    CommandSet builtIn;
    QTcpServer server;
    int connections = 0;
};

#endif // PJLINKFACE_H
