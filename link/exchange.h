#ifndef EXCHANGE_H
#define EXCHANGE_H

#include "protocol.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

// One request of the command line: commands sent one after another, each followed by a
// wait for its answer, then the lamp state if it was asked for. The projector's replies
// are not matched to commands, so a line counts as the answer when it is of the kind
// the step awaits. Sending is the caller's (the window's own send, or the command
// line's own port), and so is reading: every reply line is handed in.
class Exchange : public QObject
{
    Q_OBJECT

public:
    // How long a step waits for its answer.
    static constexpr int kAnswerWait = 2000; // ms
    // Commands of one request: far more than any script needs, and a bound on its time.
    static constexpr int kMaxCommands = 64;

    // The process exit statuses of the command line.
    enum Status {
        Done = 0, // the bytes were written and, where an answer was asked for, it came
        PortFailed = 1, // the port could not be opened or written
        NoAnswer = 2, // a question got no answer in time
        NotAvailable = 3, // "*001"
        UsageError = 64,
    };

    struct Step
    {
        QString name; // the command's name, or "status" for the lamp state
        const char *text = nullptr;
        protocol::Answer awaited = protocol::Answer::Acknowledgement;
        std::optional<protocol::Command> command; // none for the lamp poll
    };

    enum class Outcome { Answered, NotAvailable, Silent, NotSent };

    struct StepResult
    {
        QString name;
        QString text;
        Outcome outcome = Outcome::Silent;
        QString answer; // as the window's log shows it
        QStringList replies; // every line that arrived while it waited
    };

    struct Result
    {
        QList<StepResult> steps;
        QString lamp = QStringLiteral("unknown"); // the last lamp state that arrived
        bool contact = false; // any line arrived
        QString error; // why nothing could be sent
        int status = Done;
    };

    // The steps of a request: the named commands in order (names must be known), then
    // the lamp state.
    static QList<Step> plan(const QStringList &names, bool lampState);

    // Sends one step's command; false when its bytes could not be written.
    using Sender = std::function<bool(const Step &step, QString *error)>;

    Exchange(const QList<Step> &steps, Sender sender, QObject *parent = nullptr);

    // Sends the first step; finished() follows once the last has its answer, a step
    // failed, or the time for one ran out.
    void start();
    void takeLine(const QString &line);
    bool isFinished() const { return done; }
    const Result &result() const { return outcome; }

    // The request's result as one JSON object, and back (the local channel's wire form
    // and the command line's --json output).
    static QJsonObject toJson(const Result &result);
    static Result fromJson(const QJsonObject &object);

signals:
    void finished();

private:
    void sendNext();
    void endStep(Outcome outcome, const QString &answer = {});
    void finish();

    QList<Step> steps;
    Sender sender;
    Result outcome;
    QTimer answerTimer;
    int current = -1; // the step sent last
    bool waiting = false; // for the current step's answer
    bool done = false;
};

#endif // EXCHANGE_H
