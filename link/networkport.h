#ifndef NETWORKPORT_H
#define NETWORKPORT_H

#include "link/inputqueue.h"
#include "link/portdevice.h"
#include "link/portname.h"
#include "link/serialline.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>

#include <memory>
#include <utility>

class HostLookup;
class QTcpSocket;
class Rfc2217Session;

// A projector's serial line served by a bridge on the network: raw TCP (socket://) or
// Telnet with serial port control (rfc2217://). A PJLink projector's connections are
// raw ones too (see connectTo()).
//
// Opening one (looking the host up, connecting, setting the line) has one deadline,
// kOpenWait after start(), that every step obeys whatever the bridge sends. The host is
// looked up on a thread of its own that nothing waits for, the connection is made and
// read by the event loop, and each look at it takes a bounded number of bytes.
//
// What a port holds is bounded whatever the peer does, about 260 KiB at most: the socket
// buffers 64 KiB of what arrives, the link's input queue holds 1 KiB, one look takes 64 KiB
// and makes at most as much line data and as many Telnet answers while it lasts, and
// everything queued toward the bridge, answers included, is 1 KiB. The system is asked
// for 64 KiB of buffer each way (Linux reserves twice that). A bridge that asks more than
// it reads the answers to is dropped as misbehaving.
class NetworkPort : public PortDevice
{
public:
    // The one deadline of an opening, from start(): lookup, connection and line settings.
    static constexpr int kOpenWait = 3000; // ms

    enum class Progress { Pending, Open, Failed };

    // Starts opening; nothing waits. Null, with the reason, for a malformed name. An
    // rfc2217:// bridge is asked for `line`; a raw one serves the line it has.
    static std::unique_ptr<NetworkPort> start(const QString &name, const SerialLine &line = {},
                                              QString *reason = nullptr);
    // Starts a connection to an address already parsed, its reasons starting with
    // `location`: the transport of a protocol that speaks TCP itself (PJLink). Its reads
    // take what the event loop has received, never asking the socket: a gateway looks at
    // hundreds of idle connections at every tick.
    static std::unique_ptr<NetworkPort> connectTo(const portname::NetworkPortName &address,
                                                  const QString &location);

    ~NetworkPort() override;

    // After start(), called at each tick of a timer (every 100 ms, say) while the event
    // loop runs, until it says Open or Failed. It never waits: each call is one look of
    // bounded size. An opening fails by the first call after kOpenWait ms, with the reason
    // in failure(); an open port is then used through PortDevice.
    Progress advance();
    // Why the opening failed, or why an open port was dropped (a misbehaving bridge), for
    // the log; it starts with the port's name.
    QString failure() const { return reason; }

    quint32 read(char *buffer, quint32 count) override;
    WriteResult writeByte(char byte) override;
    void flush() override;
    void clearError() override { }
    bool isGone() const override { return gone; }
    QString location() const override { return name; }
    QString key() const override { return name; }
    PortWatch::Probe sameDeviceProbe() const override { return {}; }
    // What only tests and benchmarks watch the line by: the socket's descriptor, and the
    // bytes held that read() has not handed out (the socket's buffer included).
    qintptr handle() const;
    qsizetype heldBytes() const;
    // True once, when the reader has taken every byte that came before a stretch lost to
    // the full input queue: the next byte read does not follow the last one. A reader of
    // lines drops the line the loss cut through.
    bool takeLoss() { return std::exchange(lossReached, false); }

private:
    enum class Stage { Resolving, Connecting, Negotiating, Open, Failed };

    NetworkPort(const portname::NetworkPortName &address, const QString &location,
                const SerialLine &line);
    static std::unique_ptr<NetworkPort> open(const portname::NetworkPortName &address,
                                             const QString &location, const SerialLine &line);
    void stepResolving();
    void connectNext();
    // Gives the opening up, or ends an open port as gone (what arrived stays readable),
    // with the reason.
    void fail(const QString &why);
    void stepConnecting();
    void stepNegotiating();
    // Takes up to `limit` bytes the bridge has sent into the input queue, answering what
    // the Telnet session owes; false when nothing came. With waitMs < 0 only what the event
    // loop has buffered is taken; else the socket is asked, waiting up to waitMs for it.
    bool pull(qint64 limit, int waitMs);
    // Queues bytes toward the bridge within the output bound; false when they do not fit.
    bool send(const QByteArray &bytes);

    portname::NetworkPortName address;
    QString name;
    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<Rfc2217Session> session; // for rfc2217:// only
    std::unique_ptr<HostLookup> lookup; // while a name is looked up
    QDeadlineTimer deadline;
    Stage stage = Stage::Resolving;
    QList<QHostAddress> addresses; // still to try, in the resolver's order
    QString reason;
    InputQueue input; // the line's bytes not yet handed out
    // Bytes were lost after the last byte of `input`; nothing is queued after them until
    // the reader gets there, so that the loss stays at one known place.
    bool lossAhead = false;
    bool lossReached = false; // the reader got there: see takeLoss()
    bool gone = false;
    bool loopReads = false; // only what the event loop has received is read (connectTo())
};

#endif // NETWORKPORT_H
