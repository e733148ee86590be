#ifndef PJLINKPROJECTOR_H
#define PJLINKPROJECTOR_H

#include "link/commands.h"
#include "link/pjlink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What a session knows of a projector that speaks PJLink, and what it sends it: the
// requests of the window's commands, of the poll and of the opening, and what each reply
// means. Free of sockets and signals: the session hands frames to its port and shows
// what hear() found.
//
// PJLink replies name their command, so each one is matched to the oldest request of
// that class and command still unanswered (a projector answers in order); a reply that
// matches none was not asked for and is ignored. A request that a projector out of reach
// never got is forgotten after kForgetAfter. A set command answered with anything but OK
// has failed.
class PjlinkProjector
{
public:
    // The two questions of a script that no button asks.
    enum class Query { PowerState, ErrorStatus };
    using Action = std::variant<commands::Command, Query>;

    enum class Availability {
        Available,
        NoMeaning, // PJLink has no such command
        NeedsClass2, // a class 2 command, and the projector is of class 1 (or not yet known)
        InputsUnknown, // the projector has not listed its inputs (yet)
        NoSuchInput, // it has no input of this kind
    };

    // An action whose replies are all in: answered (the answer, empty for an
    // acknowledgement) or not available (the projector's reason).
    struct Completion
    {
        Action action;
        commands::Verdict verdict = commands::Verdict::Answered;
        QString answer;
    };

    // A line for the log, without its line end, and the projector's error it tells of:
    // the session says some errors in the user's language.
    struct LogLine
    {
        QString text;
        pjlink::Error error = pjlink::Error::None;
    };

    // What one reply line told.
    struct Heard
    {
        std::optional<pjlink::Power> power;
        std::optional<QByteArray> errorStatus;
        QList<LogLine> log;
        QList<Completion> completed;
        QList<QByteArray> next; // requests to send now
        bool availabilityChanged = false;
        QStringList logTexts() const;
    };

    static constexpr int kErrorStatusPolls = 10; // the error status is asked at every 10th poll
    static constexpr int kMaxNamedInputs = 8; // class 2 input names asked at most
    static constexpr qint64 kForgetAfter = 8000; // ms

    PjlinkProjector();

    // The requests at the opening: the power state first (the panel's colour), then the
    // class (which asks for the inputs), the error status and the mute state.
    QList<QByteArray> opened();
    // One poll's requests: the power state, and the error status at every 10th.
    QList<QByteArray> poll();
    // The requests of an action, from now on awaited; none, with the reason, when the
    // projector cannot take it (see availability()).
    QList<QByteArray> frames(const Action &action, QString *reason = nullptr);
    Heard hear(const QByteArray &line);

    Availability availability(commands::Command id) const;
    static QString reasonText(Availability availability);
    // True while what commands depend on (the class, the inputs, their names) is asked.
    bool isLearning();
    // Whether what the action sends depends on what is being learned (the class, the
    // inputs): other actions need not wait for it.
    static bool needsLearning(const Action &action);

private:
    struct Sent
    {
        char requestClass = '1';
        QByteArray command;
        QByteArray parameter;
        quint64 action = 0; // the action it belongs to; 0 for the session's own requests
        qint64 at = 0;
    };
    struct Pending
    {
        quint64 id = 0;
        Action action;
        int parts = 0; // replies still to come
        QHash<QByteArray, QByteArray> results; // by command
    };

    QByteArray requestFrame(char requestClass, const char *command, const QByteArray &parameter,
                            quint64 action = 0);
    void forgetLost();
    void learn(const Sent &request, const pjlink::Reply &reply, Heard &heard);
    void settle(const Sent &request, const pjlink::Reply &reply, Heard &heard);
    QString answerOf(const Pending &pending) const;
    char inputClass() const { return projectorClass >= 2 ? '2' : '1'; }

    int projectorClass = 0; // 0 until the projector has said
    QList<QByteArray> inputs;
    bool inputsKnown = false;
    bool inputsRefused = false; // INST answered ERR3 (in standby): asked again once on
    QHash<QByteArray, QString> inputNames; // class 2
    std::optional<bool> pictureMuted;
    std::optional<bool> frozen;
    QByteArray errorStatus; // as last reported; empty before
    std::optional<pjlink::Power> power;
    int polls = 0;
    QList<Sent> sent;
    QList<Pending> pending;
    quint64 nextAction = 1;
    QElapsedTimer clock;
};

#endif // PJLINKPROJECTOR_H
