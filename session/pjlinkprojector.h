#ifndef PJLINKPROJECTOR_H
#define PJLINKPROJECTOR_H

#include "link/commands.h"
#include "link/pjlink.h"
#include "session/projectorprotocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

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
class PjlinkProjector : public ProjectorProtocol
{
public:
    static constexpr int kErrorStatusPolls = 10; // the error status is asked at every 10th poll
    static constexpr int kMaxNamedInputs = 8; // class 2 input names asked at most
    // The lamp and filter hours are asked again at every 100th poll.
    static constexpr int kHoursPolls = 100;

    PjlinkProjector();

    // The requests at the opening: the power state first (the panel's colour), then the
    // class (which asks for the inputs and what the projector tells of itself, see
    // facts()), the error status and the mute state.
    QList<QByteArray> opened() override;
    // One poll's requests: the power state, and the error status at every 10th.
    QList<QByteArray> poll() override;
    QList<QByteArray> frames(const Action &action, QString *reason = nullptr) override;
    Heard hear(const QByteArray &line) override;
    // POWR ?, ERST ? or INPT ?, each as the session's own question.
    QList<QByteArray> confirm(Topic topic) override;
    bool isConfirming(Topic topic) override;

    Availability availability(commands::Command id) const override;
    bool takesEveryCommand() const override { return false; }
    bool wantsPassword() const override { return true; }
    bool answersEveryRequest() const override { return true; }
    ProjectorFacts facts() const override;
    // Commands that depend on the class or the inputs wait while those are asked; the
    // others go at once, so that a silent projector costs a request no more than its
    // own answer's wait.
    bool holdsBack(const Action &action) override;

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
        bool confirms = false; // asked to confirm a notification
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
    void askFacts(Heard &heard);
    void learnFact(const Sent &request, const pjlink::Reply &reply);

    int projectorClass = 0; // 0 until the projector has said
    QList<QByteArray> inputs;
    bool inputsKnown = false;
    bool inputsRefused = false; // INST answered ERR3 (in standby): asked again once on
    QHash<QByteArray, QString> inputNames; // class 2
    std::optional<bool> pictureMuted;
    std::optional<bool> frozen;
    QByteArray errorStatus; // as last reported; empty before
    std::optional<pjlink::Power> power;
    QString maker; // INF1
    QString model; // INF2
    QString serialNumber; // SNUM, class 2
    QString firmware; // SVER, class 2
    QList<qint64> lampHours;
    std::optional<qint64> filterHours; // FILT, class 2
    QByteArray input; // INPT
    int polls = 0;
    QList<Sent> sent;
    QList<Pending> pending;
    quint64 nextAction = 1;
    QElapsedTimer clock;
};

#endif // PJLINKPROJECTOR_H
