#ifndef SCRIPTEDREQUEST_H
#define SCRIPTEDREQUEST_H

#include "link/commands.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <optional>

// A request of a script: commands sent one after another, each followed by a wait for
// its answer, then the lamp state if it was asked for. A ProjectorSession sends the
// steps (submit()) and hands in every reply line with what its protocol made of it.
class ScriptedRequest : public QObject
{
    Q_OBJECT

public:
    // How long a step waits for its answer, from the last byte of its frame on.
    static constexpr int kAnswerWait = 2000; // ms
    // Commands of one request: far more than any script needs, and a bound on its time.
    static constexpr int kMaxCommands = 64;

    struct Step
    {
        QString name; // the command's name, or "status" for the lamp state
        QByteArray text;
        commands::Answer awaited = commands::Answer::Acknowledgement;
        std::optional<commands::Command> command; // none for the lamp poll
    };

    // Failed: the projector answered, not as the command expects (reason says how).
    enum class StepOutcome { Answered, NotAvailable, Silent, NotSent, Failed };

    struct StepResult
    {
        QString name;
        QString text;
        StepOutcome outcome = StepOutcome::Silent;
        QString answer; // as the window's log shows it
        QStringList replies; // every line that arrived while it waited
        QString reason; // why the projector could not, where it said (PJLink)
    };

    // How the request ended as a whole.
    enum class Status {
        Done, // every frame was written and, where an answer was asked for, it came
        PortFailed, // nothing could be sent, or a frame was not written whole
        NoAnswer, // a question got no answer in time
        NotAvailable, // "*001": the projector cannot do it now
        Failed, // the projector answered a command with something else than its acknowledgement
    };

    struct Result
    {
        QList<StepResult> steps;
        QString lamp = QStringLiteral("unknown"); // the last lamp state that arrived
        bool contact = false; // any line arrived
        QString error; // why a frame could not be sent
        Status status = Status::Done;
        // What a projector that tells more than its lamp (PJLink) reported last: its power
        // state ("warming") and its error status (six digits); empty when it did not.
        QString power;
        QString errorStatus;
    };

    // What a line meant, judged by the session's protocol.
    struct Judgement
    {
        commands::Verdict verdict = commands::Verdict::Pending; // for the awaited step
        QString answer; // the answer, or the projector's reason when not available
        QString lamp; // "on" or "off" when the line told
        QString power;
        QString errorStatus;
    };

    // The steps of a request: the named commands in order ("errors" asks the error status;
    // unknown names are left out), then the lamp state.
    static QList<Step> plan(const QStringList &names, bool lampState);

    explicit ScriptedRequest(const QList<Step> &steps, QObject *parent = nullptr);

    // The session's side: whether a step is due to be sent, which, and how its frame went
    // (the error when it did not go out whole); then every reply line.
    bool isDue() const { return due; }
    const Step &dueStep() const;
    void stepSent(bool written, const QString &error, const QString &sentText = QString());
    // The session judges each line by its protocol: the step whose answer is awaited
    // (null when none), then the line with its judgement.
    const Step *awaitedStep() const { return waiting ? &steps.at(current) : nullptr; }
    void takeLine(const QString &line, const Judgement &judgement);
    // The due step's projector answers every command (PJLink): silence is no success.
    void requireAnswer() { answerRequired = true; }
    // The due step is not sent: the projector cannot take it, for this reason.
    void skipStep(const QString &reason);
    // Ends the request where it stands, failed: nothing more is sent.
    void abandon(const QString &error);

    bool isFinished() const { return done; }
    const Result &result() const { return outcome; }

signals:
    // A step is due (the first one, or the next after an answer).
    void stepDue();
    void finished();

private:
    void answerTimeUp();
    void endStep(StepOutcome stepOutcome, const QString &answer = {});
    void next();
    void finish();

    QList<Step> steps;
    Result outcome;
    QTimer answerTimer;
    QDeadlineTimer answerDeadline;
    int current = 0; // the step due or waiting for its answer
    bool due = false;
    bool waiting = false; // for the current step's answer
    bool answerRequired = false; // for the current step, see requireAnswer()
    bool done = false;
};

#endif // SCRIPTEDREQUEST_H
