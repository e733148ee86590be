#ifndef PROJECTORSESSION_H
#define PROJECTORSESSION_H

#include "link/commands.h"
#include "link/commandset.h"
#include "link/lineassembler.h"
#include "link/portdevice.h"
#include "link/portwatch.h"
#include "link/serialline.h"
#include "session/projectorprotocol.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

class PortOpener;
class ScriptedRequest;
namespace testsupport {
class SessionProbe;
}

// One projector and its link, without widgets: the open port, the watch that reopens a
// port that vanished, the reply lines, the lamp poll, the contact watchdog and the lamp
// state. Whoever shows it (the window, the command line, a service) drives tick() at its
// own pace and shows what the signals say; everything that goes on the line goes through
// here, one frame at a time, so that nothing a script asks for interleaves with a poll or
// a button's command.
class ProjectorSession : public QObject
{
    Q_OBJECT

public:
    // No-contact counter value that means "no contact", and ticks from one poll to the
    // next beyond this threshold unless setPollInterval() says else.
    static constexpr quint32 kNoContact = 50;
    static constexpr qint32 kPollThreshold = 30;
    // The pace whoever drives tick() keeps, and the poll period it makes by default.
    static constexpr int kTickInterval = 100; // ms
    static constexpr int kPollInterval = (kPollThreshold + 1) * kTickInterval; // ms
    // The longest wait of a projector on the network that is backed off (see setBackoff).
    static constexpr int kMaxBackoff = 60000; // ms
    // A poll that a hint brings forward comes no sooner than this after the last one.
    static constexpr int kHintPollSpacing = 10; // ticks
    // Bytes one tick takes at most: the 1024-byte input queue. At 9600 baud about 96
    // arrive per tick; a far end that sends faster (a pseudo-terminal, a bridge) cannot
    // hold a tick for longer than this many bytes take.
    static constexpr int kTickReadLimit = 1024;
    // Frames that may wait behind the one being written.
    static constexpr int kMaxWaitingFrames = 16;
    // The pause before a command the projector takes only when sent twice goes again: the
    // time makers give for the confirmation.
    static constexpr int kRepeatPause = 1000; // ms
    // Echoes awaited at most: twice those of every frame that may wait and the one written.
    static constexpr int kMaxAwaitedEchoes = 2 * (kMaxWaitingFrames + 1);

    // What the projector is doing, as far as the session knows: a serial projector tells
    // only whether its lamp is on, so after a power command the session says it is
    // warming up or cooling down until the lamp reports the outcome.
    enum class Power { Unknown, Off, On, Warming, Cooling };
    Q_ENUM(Power)
    // What a notification from the projector says has changed; LinkUp: it is on the
    // network again.
    enum class Hint { LinkUp, Power, Error, Input };
    Q_ENUM(Hint)
    // "unknown", "off", "on", "warming", "cooling": for scripts and other programs.
    static QString powerName(Power power);

    enum class OpenResult {
        Open,
        Failed,
        Pending, // a bridge's connection is being made: openFinished() tells the outcome
    };

    explicit ProjectorSession(QObject *parent = nullptr);
    ~ProjectorSession() override;

    // Opens the port a name leads to. The port must be closed first. A serial port's
    // outcome is known at once; a bridge's within a few seconds, at a later tick.
    OpenResult openPort(const QString &name, QString *reason = nullptr);
    // Opens the port a name leads to and keeps it open: one that does not open is tried
    // again after each wait of `retry` (in ticks), one that vanishes is looked for as any
    // open port is. openFinished() tells each try's outcome, also one known at once. The
    // port must be closed first.
    void keepOpen(const QString &name, const RetryPolicy &retry);
    // Closes the port and ends any open being made or looked for: what comes next is
    // the caller's choice.
    void closePort();
    // The open port; null while none is open.
    PortDevice *port() const { return device.get(); }
    // The name the port was last opened under (also while it is looked for after it vanished).
    const QString &portName() const { return name; }
    // True when the open port is the device `other` leads to, however it is spelt.
    bool holds(const QString &other) const;

    // Up to count bytes that have arrived, never waiting; 0 without a port.
    quint32 readBytes(char *buffer, quint32 count);
    // Sends a command of the table, as its button does; a power command first says that
    // the lamp state is about to change. False when not every byte was taken. A command
    // the projector cannot take now is not sent, and message() says why.
    bool send(commands::Command id);
    // Sends any command text as one frame (the text and a carriage return), as it is
    // whatever the protocol: to a PJLink projector it is a request of its own, where
    // send(Command) puts the command into PJLink's terms. Nothing is sent without a port. While
    // another frame is being written, this one waits for it.
    bool sendFrame(const QByteArray &text);
    // A byte the port does not take is reported by writeFailed(). With asking on, the
    // frame goes on with the next byte once every receiver has returned (the window asks
    // its user meanwhile); without it (nobody to ask) the frame ends at that byte.
    void setAskOnWriteFailure(bool ask) { askOnWriteFailure = ask; }
    // Stops any frame being written and sends nothing more, nor tries a port that has
    // not opened yet: the program is ending.
    void stopWriting();

    // One tick: reads the replies that arrived (at most one line), polls the lamp state
    // every 31st tick, keeps the contact watchdog, moves an open being made on and keeps
    // the port open (see keepOpen()).
    void tick();
    // Whether the tick polls the lamp state (the command line sends only what it is asked).
    void setPolling(bool on) { polling = on; }
    // The time from one poll to the next, in whole ticks (at least one); kPollInterval
    // unless set.
    void setPollInterval(int ms);
    int pollInterval() const { return (pollThreshold + 1) * kTickInterval; }
    // Where in the period this session polls, so that sessions ticked together do not all
    // poll at the same tick: the next poll comes `ms` (within the period) from now, and
    // after each opening a period and this much later. Set after the interval.
    void setPollPhase(int ms);
    // Whether a projector on the network that does not take a connection is backed off:
    // its waits double from one poll interval up to kMaxBackoff, and start over once it
    // answers. Off: a flat wait (the window's). From the next keepOpen() or opening on,
    // and for the open port at once.
    void setBackoff(bool on);
    // A notification says something changed; it proves nothing (anyone can send one), so
    // the projector is asked over its own link at once and only its answer is reported,
    // through the usual signals. LinkUp ends any wait for the next connection or open and
    // polls; where the protocol has no question for the kind, it polls. A question of a
    // kind still unanswered is asked once more after its answer, whatever came meanwhile;
    // polls brought forward keep kHintPollSpacing.
    void hint(Hint kind);
    // Whether the projector's answers (the hours, the model, a resolution report) go to the
    // log as bare lines, as the window shows them; a caller that names each answer itself
    // (the service) turns that off.
    void setAnswersLogged(bool on) { answersLogged = on; }

    // What a reply line means: the lamp state, a log line, or nothing.
    void handleReply(const QString &line);

    // Runs a scripted request's steps in turn with everything else on the line. The
    // request stays the caller's; deleting it drops what it has not sent yet.
    void submit(ScriptedRequest *request);

    // The protocol of the projector on a serial port or a bridge, from the next opening
    // on; none for the built-in one. A PJLink projector speaks PJLink whatever is set.
    void setCommandSet(std::optional<CommandSet> set) { commandSet = std::move(set); }
    const std::optional<CommandSet> &chosenCommandSet() const { return commandSet; }
    // The baud rate of the serial line from the next opening on, in place of the one the
    // protocol's line settings make usual; 0 for that one.
    void setBaudRate(int baud) { baudRate = baud; }
    int chosenBaudRate() const { return baudRate; }

    // Whether the projector on the port answers every command (PJLink): one that does
    // tells when a command is done, see commandAnswered().
    bool answersEveryCommand() const { return protocol->answersEveryRequest(); }
    // Whether the projector on the port can take a command now; always for a serial one.
    ProjectorProtocol::Availability availability(commands::Command id) const;
    // The password of the projector under `portName`, kept in memory for the session's
    // life and handed to that projector only. One it rejects is said once, forgotten and
    // not tried again; the projector asks again only when its name is opened again.
    void setPassword(const QString &portName, const QString &password);
    // A password a script brings: taken only where the session has none for that projector.
    void offerPassword(const QString &portName, const QString &password);

    // What the projector on the port has told of itself (PJLink: its maker, model, serial
    // number, firmware, lamp and filter hours, errors, input, mute and freeze; a command
    // set: the hours of each lamp it captures); factsChanged() tells of each change.
    ProjectorFacts facts() const { return protocol->facts(); }
    bool isLampOn() const { return lampOn; }
    Power power() const { return powerState; }
    bool hasContact() const { return noContactCount < noContactLimit; }

signals:
    // A bridge's open that openPort() left pending has ended, or a try of keepOpen(); the
    // reason when it failed.
    void openFinished(bool opened, const QString &reason);
    // The open port changed: opened, closed, vanished or reopened.
    void portChanged();
    // A reply line came after a time without contact.
    void contactGained();
    // No reply line for kNoContact ticks, or none yet since the start: said once; while it
    // lasts, the count of ticks without one stays at kNoContact.
    void contactLost();
    // The projector reported its lamp (at every lamp reply).
    void lampReported(bool on);
    // A power command is about to be sent: the lamp state will change.
    void powerChanging();
    // What the projector is doing has changed (see Power).
    void powerChanged(ProjectorSession::Power power);
    // A line for the log, translated, without a line end.
    void message(const QString &text);
    // A reply line, once the session has handled it.
    void replyHandled(const QString &line);
    // PJLink: the projector wants a password that the session does not have (once for
    // each opening; setPassword() answers). One it rejects is said as a message.
    void passwordWanted();
    // PJLink: which commands the projector can take has changed (see availability()).
    void availabilityChanged();
    // What facts() says has changed.
    void factsChanged();
    // PJLink: the projector told its power state (at every power reply).
    void powerReported(ProjectorSession::Power power);
    // PJLink: the projector has answered a command.
    void commandAnswered(commands::Command id);
    // A frame was written (or tried) on the open port: its text without the carriage return.
    void frameWritten(const QByteArray &text);
    // A byte of a frame was not taken; nothing else goes on the line until every
    // receiver has returned (see setAskOnWriteFailure).
    void writeFailed();

private:
    friend class testsupport::SessionProbe; // reads the counts for tests, changes nothing

    // A frame's outcome on the line.
    enum class Written { All, Failed, NoPort };
    // A frame to write, and how long nothing else goes on the line after it.
    struct Outgoing
    {
        QByteArray text;
        int holdAfterMs = 0;
        bool script = false; // a script's step, which waited for the line
    };
    // A script's step whose frames wait for the line: it is sent when the last one is.
    struct StepSending
    {
        QPointer<ScriptedRequest> request;
        bool written = false;
        QString text;
    };

    bool queueFrame(const Outgoing &frame);
    Written writeFrame(const Outgoing &frame);
    void wakeUpIfDue();
    void finishStepSending(bool written);
    bool takeEchoes(QString &line);
    std::optional<QByteArray> afterEcho(const QByteArray &line, const QByteArray &text) const;
    void sendWaitingFrames();
    void lineReceived(QString line);
    void pollLamp();
    void confirm(ProjectorProtocol::Topic topic);
    void confirmAgain();
    void applyBackoff();
    int pollPhaseTicks() const { return pollPhase % (pollThreshold + 1); }
    void advanceOpening();
    void setPort(std::unique_ptr<PortDevice> port, const QString &portName);
    void dropPort();
    void scheduleDeviceGone();
    void deviceGone();
    void keepPortOpen();
    bool reopen(const QString &portName, QString *reason);
    // What a serial port or an rfc2217:// bridge is opened with: the usual line of the
    // chosen set (of the built-in protocol, 9600 8N1) at the chosen baud rate.
    SerialLine serialLine() const;
    PortWatch::Presence lookFor(const QString &portName);
    void serveRequests();
    bool isLineBusy() const { return writing || failureWaits > 0 || !lineHold.hasExpired(); }
    void setPower(Power power);
    void announcePowerCommand(commands::Command id);
    void startProtocol(const QString &portName);
    void resetProtocol();
    bool sendAction(const ProjectorProtocol::Action &action, QString *reason, QString *sentText);
    void serveStep(ScriptedRequest *request);
    void watchAccess();

    std::unique_ptr<PortDevice> device;
    QString name;
    // Counts the ports opened and closed: a frame that waited for a box goes on only
    // on the port it started on.
    quint64 generation = 0;
    std::unique_ptr<PortOpener> opening; // an explicit open of a bridge, being made
    // The watch's look for a port: a vanished bridge, or a port not opened yet.
    std::unique_ptr<PortOpener> look;
    QString lookFailure; // why the last look did not open
    PortWatch watch;
    LineAssembler replyLine;
    quint32 noContactCount = kNoContact;
    // kNoContact, or more where polls are further apart than the usual period: silence
    // between two polls is no loss of contact.
    quint32 noContactLimit = kNoContact;
    bool contactLostSaid = false;
    // Ticks since the last lamp poll; 50 makes the first tick poll at once.
    qint32 pollCount = 50;
    qint32 pollThreshold = kPollThreshold;
    qint32 pollPhase = 0; // ticks
    bool pollBroughtForward = false; // a hint asked for a poll
    bool polling = true;
    bool backoff = false;
    // Topics (bits) whose notification came while their confirmation was unanswered.
    unsigned confirmAgainDue = 0;
    bool answersLogged = true;
    bool lampOn = false;
    Power powerState = Power::Unknown;
    // Since when a power command's outcome is awaited.
    QElapsedTimer powerCommandSent;
    // A power command of a protocol that answers every command is not answered yet; a
    // power state reported meanwhile is from before it.
    bool powerAnswerAwaited = false;
    bool writing = false;
    int failureWaits = 0; // receivers of writeFailed() still asking
    bool askOnWriteFailure = false;
    bool scriptFrame = false; // the frame being sent is a script's step
    bool stopped = false;
    bool goneClosePending = false;
    QList<Outgoing> waitingFrames;
    ProjectorProtocol::Pacing pacing; // of the protocol on the open port
    bool wakeUpDue = false; // the wake-up goes before the next frame
    QDeadlineTimer lineHold; // nothing goes on the line before it expires
    int echoes = 0; // how often the projector sends back each frame
    QList<QByteArray> awaitedEchoes; // frames written, their echoes not yet back
    std::optional<StepSending> stepSending;
    QList<QPointer<ScriptedRequest>> requests;
    // What the projector on the open port speaks; the built-in serial protocol while
    // none is open.
    std::unique_ptr<ProjectorProtocol> protocol;
    std::optional<CommandSet> commandSet; // none: the built-in protocol
    int baudRate = 0; // 0: the protocol's usual one
    QHash<QString, QString> passwords; // by the key of the projector's name
    PortDevice::Access access = PortDevice::Access::Granted;
};

#endif // PROJECTORSESSION_H
