#include "session/scriptedrequest.h"
#include "link/characters.h"
#include "link/commands.h"
#include "link/serialprotocol.h"

namespace {
const char kStatusStep[] = "status";
const char kErrorStatusStep[] = "errors";

bool isQuestion(const ScriptedRequest::Step &step)
{
    return step.awaited != commands::Answer::Acknowledgement;
}
} // namespace

QList<ScriptedRequest::Step> ScriptedRequest::plan(const QStringList &names, bool lampState)
{
    QList<Step> steps;
    for (const QString &name : names) {
        const commands::NamedCommand *entry = commands::commandNamed(name);
        if (entry)
            steps.append({name, QByteArray(entry->text), entry->answer, entry->id});
        else if (name == QLatin1String(kErrorStatusStep))
            steps.append({name, QByteArray(), commands::Answer::ErrorStatus, std::nullopt});
    }
    if (lampState)
        steps.append({QLatin1String(kStatusStep), QByteArray(serialprotocol::kLampPoll),
                      commands::Answer::LampState, std::nullopt});
    return steps;
}

ScriptedRequest::ScriptedRequest(const QList<Step> &steps, QObject *parent)
    : QObject(parent)
    , steps(steps)
{
    // Never shorter than the wait: a coarse timer may fire a few milliseconds early.
    answerTimer.setSingleShot(true);
    answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&answerTimer, &QTimer::timeout, this, &ScriptedRequest::answerTimeUp);
    due = !steps.isEmpty();
    if (!due)
        QMetaObject::invokeMethod(this, &ScriptedRequest::finish, Qt::QueuedConnection);
}

const ScriptedRequest::Step &ScriptedRequest::dueStep() const
{
    return steps.at(current);
}

void ScriptedRequest::stepSent(bool written, const QString &error, const QString &sentText)
{
    if (!due || done)
        return;
    due = false;
    const Step &step = steps.at(current);
    outcome.steps.append({step.name,
                          sentText.isNull() ? QString::fromLatin1(step.text) : sentText,
                          StepOutcome::Silent,
                          {},
                          {},
                          {}});
    if (!written) {
        outcome.error = error;
        endStep(StepOutcome::NotSent);
        return;
    }
    waiting = true;
    answerDeadline.setRemainingTime(kAnswerWait, Qt::PreciseTimer);
    answerTimer.start(kAnswerWait);
}

void ScriptedRequest::answerTimeUp()
{
    if (!waiting)
        return;
    if (!answerDeadline.hasExpired()) {
        answerTimer.start(int(qMax<qint64>(1, answerDeadline.remainingTime())));
        return;
    }
    endStep(StepOutcome::Silent);
}

void ScriptedRequest::takeLine(const QString &line, const Judgement &judgement)
{
    if (done)
        return;
    outcome.contact = true;
    if (!judgement.lamp.isEmpty())
        outcome.lamp = judgement.lamp;
    if (!judgement.power.isEmpty())
        outcome.power = judgement.power;
    if (!judgement.errorStatus.isEmpty())
        outcome.errorStatus = judgement.errorStatus;
    if (!waiting)
        return;
    outcome.steps.last().replies.append(characters::visibleText(line));
    switch (judgement.verdict) {
    case commands::Verdict::Pending:
        break;
    case commands::Verdict::Answered:
        endStep(StepOutcome::Answered, judgement.answer);
        break;
    case commands::Verdict::NotAvailable:
        outcome.steps.last().reason = judgement.answer;
        endStep(StepOutcome::NotAvailable);
        break;
    case commands::Verdict::Failed:
        outcome.steps.last().reason = judgement.answer;
        endStep(StepOutcome::Failed);
        break;
    }
}

void ScriptedRequest::skipStep(const QString &reason)
{
    if (!due || done)
        return;
    due = false;
    const Step &step = steps.at(current);
    outcome.steps.append({step.name, QString(), StepOutcome::NotAvailable, {}, {}, reason});
    endStep(StepOutcome::NotAvailable);
}

void ScriptedRequest::abandon(const QString &error)
{
    if (done)
        return;
    outcome.error = error;
    outcome.status = Status::PortFailed;
    finish();
}

void ScriptedRequest::endStep(StepOutcome stepOutcome, const QString &answer)
{
    answerTimer.stop();
    waiting = false;
    StepResult &result = outcome.steps.last();
    result.outcome = stepOutcome;
    result.answer = answer;
    Status status = Status::Done;
    if (stepOutcome == StepOutcome::NotSent)
        status = Status::PortFailed;
    else if (stepOutcome == StepOutcome::NotAvailable)
        status = Status::NotAvailable;
    else if (stepOutcome == StepOutcome::Failed)
        status = Status::Failed;
    else if (stepOutcome == StepOutcome::Silent
             && (answerRequired || isQuestion(steps.at(current))))
        status = Status::NoAnswer;
    if (status != Status::Done) {
        // What follows may rely on this step: nothing more is sent.
        outcome.status = status;
        finish();
        return;
    }
    // Not from inside the line handling or the send that ended the step.
    QMetaObject::invokeMethod(this, &ScriptedRequest::next, Qt::QueuedConnection);
}

void ScriptedRequest::next()
{
    if (done)
        return;
    answerRequired = false;
    if (++current >= steps.size()) {
        finish();
        return;
    }
    due = true;
    emit stepDue();
}

void ScriptedRequest::finish()
{
    if (done)
        return;
    done = true;
    due = false;
    waiting = false;
    answerTimer.stop();
    emit finished();
}
