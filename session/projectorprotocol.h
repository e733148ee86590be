#ifndef PROJECTORPROTOCOL_H
#define PROJECTORPROTOCOL_H

#include "link/commands.h"
#include "session/projectorfacts.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <variant>

// What a projector's protocol makes of the session's wishes and of the projector's reply
// lines, free of ports and signals: the frames of a command, a script's question, a poll
// and the opening, and what each reply line tells. The session hands the frames to its
// port and acts on what hear() found, whichever protocol the projector speaks.
class ProjectorProtocol
{
public:
    // The two questions of a script that no button asks.
    enum class Query { PowerState, ErrorStatus };
    using Action = std::variant<commands::Command, Query>;

    // Whether a projector can take a command now, and why not.
    enum class Availability {
        Available,
        NoMeaning, // the protocol has no such command
        NeedsClass2, // a class 2 command, and the projector is of class 1 (or not yet known)
        InputsUnknown, // the projector has not listed its inputs (yet)
        NoSuchInput, // it has no input of this kind
    };

    // What the projector says it is doing.
    enum class Power { Off, On, Warming, Cooling };

    // What a notification from the projector says has changed.
    enum class Topic { Power, Error, Input };

    // What a projector that refuses a request says of it.
    enum class Error {
        None,
        Undefined, // it does not know the command
        OutOfParameter, // it knows it, not with this parameter
        Unavailable, // not now (warming up, in standby)
        Failure, // the projector has failed
        Authentication, // the password was wrong
    };

    // An action whose replies are all in: answered (the answer, empty for an
    // acknowledgement), not available or failed (the projector's reason).
    struct Completion
    {
        Action action;
        commands::Verdict verdict = commands::Verdict::Answered;
        QString answer;
    };

    // A line for the log, without its line end: the projector's error it tells of (the
    // session says some in the user's language), and whether it is the answer to a
    // command, which a caller that names answers itself shows its own way.
    struct LogLine
    {
        QString text;
        Error error = Error::None;
        bool answer = false;
    };

    // A reply that names no request (a protocol whose replies are not matched to
    // commands): the kind of answer it is, if any, and its text as the log shows it. A
    // step counts it as its answer when it awaits that kind.
    struct Unmatched
    {
        std::optional<commands::Answer> kind;
        bool notAvailable = false;
        QString text;
    };

    // What one reply line told.
    struct Heard
    {
        std::optional<bool> lamp; // a projector that tells only whether its lamp is on
        std::optional<Power> power;
        QList<qint64> lampHours; // one for each lamp
        std::optional<QByteArray> errorStatus;
        QList<LogLine> log;
        QList<Completion> completed;
        std::optional<Unmatched> unmatched;
        QList<QByteArray> next; // requests to send now
        bool availabilityChanged = false;
        bool factsChanged = false; // see facts()
        QStringList logTexts() const;
    };

    // How frames go on the line beyond their bytes (a command set's quirks); nothing of it
    // for the built-in protocol and PJLink.
    struct Pacing
    {
        QByteArray wakeUp; // written as it is before the first frame after each opening
        int wakeUpWaitMs = 0; // and this long waited after it
        int busyAfterPowerMs = 0; // the projector takes nothing this long after a power command
        std::array<bool, commands::kCommandCount> sentTwice {}; // written again after a pause
    };

    // An awaited request of a protocol that answers every one is forgotten this long
    // after it went out: a projector out of reach never got it.
    static constexpr qint64 kForgetAfter = 8000; // ms

    virtual ~ProjectorProtocol();

    // The requests at the opening; a poll period follows them before the first poll.
    virtual QList<QByteArray> opened() = 0;
    // One poll's requests.
    virtual QList<QByteArray> poll() = 0;
    // The requests of an action, from now on awaited; none, with the reason, when the
    // projector cannot take it.
    virtual QList<QByteArray> frames(const Action &action, QString *reason = nullptr) = 0;
    // What one reply line, its bytes without the line end, tells.
    virtual Heard hear(const QByteArray &line) = 0;
    // The questions that confirm what a notification says has changed, asked as a poll's
    // are (their answers are heard as a poll's); none where the protocol has none.
    virtual QList<QByteArray> confirm(Topic topic)
    {
        (void)topic;
        return {};
    }
    // Whether a confirmation of the topic is still unanswered.
    virtual bool isConfirming(Topic topic)
    {
        (void)topic;
        return false;
    }
    // What ends each frame on the line: a carriage return unless a command set says else.
    virtual QByteArray frameEnd() const;
    // What ends each reply line (see LineAssembler): a carriage return unless a set says else.
    virtual QByteArray replyEnd() const;
    // How many times the projector sends back each frame it gets before it answers.
    virtual int echoes() const { return 0; }
    virtual Pacing pacing() const { return {}; }
    // What the projector has told of itself so far; nothing for a protocol that asks none.
    virtual ProjectorFacts facts() const;

    virtual Availability availability(commands::Command id) const = 0;
    // True when availability() says Available for every command, whatever happens.
    virtual bool takesEveryCommand() const = 0;
    // Whether the projector may ask for a password.
    virtual bool wantsPassword() const = 0;
    // Whether the projector answers every request: silence is then no success, and a
    // power state told before a power command's answer is from before it.
    virtual bool answersEveryRequest() const = 0;
    // Whether the action has to wait: what it sends depends on what is still being
    // learned of the projector.
    virtual bool holdsBack(const Action &action) = 0;
};

#endif // PROJECTORPROTOCOL_H
