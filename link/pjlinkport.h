#ifndef PJLINKPORT_H
#define PJLINKPORT_H

#include "link/connectionbudget.h"
#include "link/networkport.h"
#include "link/portdevice.h"
#include "link/portname.h"
#include "link/retrypolicy.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>

#include <memory>

// A projector that speaks PJLink on the network (pjlink://HOST[:PORT]), as the line the
// session writes frames to and reads reply lines from. Under it, connections come and go
// as projectors want them: one at a time, each greeted, authenticated where the projector
// asks for a password, and used for one request at a time.
//
// A frame the session writes waits in a bounded queue until a connection is there for it;
// the answer to it (or whatever the projector says) is what read() hands out, one line
// with one carriage return, whatever line end the projector used. A projector that closes
// an idle connection, or every connection after one answer, is connected to again for
// the next frame, and a frame that was on a connection that ended unanswered goes once
// more. A projector that does not take a connection, does not greet or does not answer
// in time loses the frames waiting for it, and is tried again only after kRetryWait (or
// the waits of the policy set): it is silent, as a serial projector that does not answer,
// never gone.
//
// Each connection holds a slot of the process's ConnectionBudget: a port that finds none
// free makes its connection when one is handed to it, its frames waiting meanwhile, and
// one that has nothing more to ask gives its idle connection up at once while others wait.
//
// Opening (start(), then advance() at each tick) makes the first connection and reads
// its greeting, within the bridges' deadline for the connection plus kGreetingWait.
class PjlinkPort : public PortDevice
{
public:
    static constexpr int kGreetingWait = 3000; // ms from the connection to the greeting
    static constexpr int kAnswerWait = 3000; // ms from a request to its answer
    // ms after a failed connection before the next: one poll period, so that a projector
    // out of reach costs one attempt per poll at most.
    static constexpr int kRetryWait = 3100;
    static constexpr int kMaxWaiting = 32; // frames that wait for a connection
    // Reply lines that wait for the reader, who takes one a tick and sends a request for
    // each; as many as the 1024-byte serial queue holds of the longest.
    static constexpr int kMaxLines = 8;

    // Starts opening; nothing waits. Null, with the reason, for a malformed name.
    static std::unique_ptr<PjlinkPort> start(const QString &name, QString *reason = nullptr);
    ~PjlinkPort() override;

    // Moves the opening on, never waiting; Open once the projector has greeted.
    NetworkPort::Progress advance();
    QString failure() const { return reason; }

    quint32 read(char *, quint32) override { return 0; }
    bool handsLines() const override { return true; }
    bool takeLine(QByteArray *line) override;
    WriteResult writeByte(char byte) override;
    void flush() override;
    void clearError() override { }
    bool isGone() const override { return false; }
    QString location() const override { return name; }
    QString key() const override { return name; }
    PortWatch::Probe sameDeviceProbe() const override { return {}; }
    // What only tests and benchmarks watch the line by: the descriptor of the connection
    // now (-1 between connections), and the reply bytes takeLine() has not handed out.
    qintptr handle() const;
    qsizetype heldBytes() const;
    Access access() const override { return accessState; }
    void setPassword(const QByteArray &password) override;
    // A doubling policy backs a projector out of reach off: a frame that comes while it
    // waits is queued only once, and an answer starts the waits over.
    void setRetryPolicy(const RetryPolicy &policy) override;
    void retryNow() override;

private:
    enum class Stage {
        Idle, // no connection
        Connecting,
        Greeting, // connected, waiting for the greeting
        Ready, // greeted, nothing asked
        Awaiting, // the first waiting frame is sent, its answer awaited
    };

    PjlinkPort(const portname::NetworkPortName &address, const QString &location);
    // Moves everything on as far as it goes now: the connection, what arrived, the
    // deadlines, the next frame.
    void step();
    // Connects once the budget has a slot for the connection.
    void connectWhenFree();
    void connectNow();
    void slotGranted();
    // Ends the connection, if any, and gives its slot back.
    void endConnection();
    void takeInput();
    void lineArrived(const QByteArray &line);
    void greeted(const QByteArray &line);
    void sendNext();
    void connectionEnded();
    // An attempt failed (`why` starts with the name): its frames are dropped, and the next
    // connection waits for kRetryWait.
    void giveUp(const QString &why);
    void rejected();
    void deliver(const QByteArray &line);

    portname::NetworkPortName address;
    QString name;
    std::unique_ptr<NetworkPort> connection;
    Stage stage = Stage::Idle;
    NetworkPort::Progress opening = NetworkPort::Progress::Pending;
    QString reason;
    QDeadlineTimer deadline; // of the greeting or the answer awaited
    QDeadlineTimer retryAfter; // expired: a connection may be made
    RetryPolicy retry = RetryPolicy::flat(kRetryWait);
    bool backingOff = false; // the policy doubles its waits
    ConnectionBudget &budget = ConnectionBudget::process();
    bool holdsSlot = false;
    bool slotAsked = false; // queued for a slot
    QByteArray frame; // being written, up to its carriage return
    bool discarding = false; // the frame being written finds no room: it is dropped
    QList<QByteArray> waiting; // the first one is on its way while Awaiting
    bool resent = false; // the first waiting frame already went out on a connection that ended
    QByteArray line; // from the projector, up to its line end
    // The line passed pjlink::kMaxLine, or bytes of it were lost to a flood: it is dropped
    // up to its line end, so that no line handed on is spliced from two.
    bool skipping = false;
    QList<QByteArray> lines; // reply lines for the reader, at most kMaxLines
    QByteArray random; // this connection's challenge; empty when it wants no password
    bool authenticated = false; // the digest has gone out on this connection
    bool digestSent = false; // the digest went out with the frame awaited
    QByteArray password;
    QByteArray refused; // the password the projector rejected
    Access accessState = Access::Granted;
};

#endif // PJLINKPORT_H
