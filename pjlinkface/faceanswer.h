#ifndef FACEANSWER_H
#define FACEANSWER_H

#include "link/commands.h"
#include "link/commandset.h"
#include "link/pjlink.h"
#include "session/scriptedrequest.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class ProjectorSession;

// The answer to one request of a controller, as a PJLink projector would give it, for the
// projector a session holds on a serial line: from what the session knows where that
// is enough (the power state, the inputs of the set), else once the projector has
// answered the command or question the request becomes. What the set cannot express
// is refused as a projector refuses (ERR1, ERR2), never guessed.
class FaceAnswer : public QObject
{
    Q_OBJECT

public:
    // `set` is the protocol the projector speaks; `name` what NAME answers.
    FaceAnswer(ProjectorSession *session, CommandSet set, QString name, QObject *parent = nullptr);
    ~FaceAnswer() override;

    // Answers the request; ready() follows, at once where nothing is asked of the projector.
    void start(const pjlink::Request &request);

signals:
    // The answer line, without its carriage return.
    void ready(const QByteArray &line);

private:
    using Outcome = std::function<void(const ScriptedRequest::StepResult &)>;

    void power(const pjlink::Request &request);
    void input(const pjlink::Request &request);
    void lampHours();
    void model();
    void resolution();
    void inputName(const QByteArray &parameter);
    QByteArray inputList() const;
    // The projector is asked `id`; `answered` gets the step when it answered, else the
    // request fails as the outcome says (a refusal as `refused`).
    void ask(commands::Command id, pjlink::Error refused, const Outcome &answered);
    void askDone();
    void reply(const QByteArray &result);
    void fail(pjlink::Error error);
    bool inReach() const;

    ProjectorSession *session;
    CommandSet set;
    QString name;
    char protocolClass = '1';
    QByteArray command;
    QPointer<ScriptedRequest> running;
    pjlink::Error refusal = pjlink::Error::Failure;
    Outcome onAnswer;
    bool answered = false;
};

#endif // FACEANSWER_H
