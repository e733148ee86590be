#ifndef NETWORKPORT_H
#define NETWORKPORT_H

#include "portdevice.h"
#include "portname.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>

#include <memory>

class QTcpSocket;
class QEventLoop;
class Rfc2217Session;

// A projector's serial line served by a bridge on the network: raw TCP (socket://) or
// Telnet with serial port control (rfc2217://). The connection is made in steps that
// never wait unless asked to: the host is looked up in the background, the connection
// and the bridge's answers come in through the event loop or a bounded wait.
class NetworkPort : public PortDevice
{
public:
    // An explicit open waits at most this long for the connection and the line settings.
    static constexpr int kOpenWait = 3000; // ms

    enum class Progress { Pending, Open, Failed };

    // Starts connecting; nothing waits. Null, with the reason, for a malformed name.
    static std::unique_ptr<NetworkPort> connect(const QString &name, QString *reason = nullptr);
    // Connects and sets the line, waiting at most kOpenWait ms; null with the reason.
    static std::unique_ptr<NetworkPort> open(const QString &name, QString *reason = nullptr);

    ~NetworkPort() override;

    // Moves a connection being made on. With wait, waits for the network up to the
    // attempt's deadline (kOpenWait after connect()); without, only looks. An attempt
    // past its deadline has failed.
    Progress advance(bool wait);
    // Why the attempt failed, for the log.
    QString failure() const { return reason; }

    quint32 read(char *buffer, quint32 count) override;
    WriteResult writeByte(char byte) override;
    void flush() override;
    void clearError() override { }
    bool isGone() const override { return gone; }
    QString location() const override { return name; }
    QString key() const override { return name; }
    PortWatch::Probe sameDeviceProbe() const override { return {}; }
    qintptr nativeHandle() const override;
    qsizetype queued() const override;

private:
    enum class Stage { Resolving, Connecting, Negotiating, Open, Failed };

    NetworkPort(const portname::NetworkPortName &address, const QString &location);
    void resolved(const QList<QHostAddress> &found, const QString &error);
    void connectNext();
    void fail(const QString &why);
    void stepConnecting(bool wait);
    void stepNegotiating(bool wait);
    // Takes what the bridge has sent into the input queue; false when nothing came.
    bool pull(int waitMs);
    int remainingWait(bool wait) const;

    portname::NetworkPortName address;
    QString name;
    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<Rfc2217Session> session; // for rfc2217:// only
    QDeadlineTimer deadline;
    Stage stage = Stage::Resolving;
    QList<QHostAddress> addresses; // still to try, in the resolver's order
    QEventLoop *lookupWait = nullptr; // an open() waiting for the resolver
    QString reason;
    QByteArray input; // the line's bytes not yet handed out
    bool gone = false;
};

#endif // NETWORKPORT_H
