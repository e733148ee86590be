#include "exchange.h"

#include <QJsonArray>

namespace {
const char kStatusStep[] = "status";

const char *outcomeName(Exchange::Outcome outcome)
{
    switch (outcome) {
    case Exchange::Outcome::Answered:
        return "answered";
    case Exchange::Outcome::NotAvailable:
        return "not-available";
    case Exchange::Outcome::Silent:
        return "no-answer";
    case Exchange::Outcome::NotSent:
        return "not-sent";
    }
    return "";
}

Exchange::Outcome outcomeNamed(const QString &name)
{
    for (const Exchange::Outcome outcome :
         {Exchange::Outcome::Answered, Exchange::Outcome::NotAvailable, Exchange::Outcome::NotSent})
        if (name == QLatin1String(outcomeName(outcome)))
            return outcome;
    return Exchange::Outcome::Silent;
}

bool isQuestion(const Exchange::Step &step)
{
    return step.awaited != protocol::Answer::Acknowledgement;
}
} // namespace

QList<Exchange::Step> Exchange::plan(const QStringList &names, bool lampState)
{
    QList<Step> steps;
    for (const QString &name : names) {
        const protocol::NamedCommand *entry = protocol::commandNamed(name);
        if (entry)
            steps.append({name, entry->text, entry->answer, entry->id});
    }
    if (lampState)
        steps.append({QLatin1String(kStatusStep), protocol::kLampPoll, protocol::Answer::LampState,
                      std::nullopt});
    return steps;
}

Exchange::Exchange(const QList<Step> &steps, Sender sender, QObject *parent)
    : QObject(parent)
    , steps(steps)
    , sender(std::move(sender))
{
    answerTimer.setSingleShot(true);
    answerTimer.setInterval(kAnswerWait);
    connect(&answerTimer, &QTimer::timeout, this, [this] {
        if (waiting)
            endStep(Outcome::Silent);
    });
}

void Exchange::start()
{
    sendNext();
}

void Exchange::sendNext()
{
    if (done)
        return;
    if (++current >= steps.size()) {
        finish();
        return;
    }
    const Step &step = steps.at(current);
    outcome.steps.append({step.name, QString::fromLatin1(step.text), Outcome::Silent, {}, {}});
    // The window's send may open a box with an event loop of its own, in which the
    // answer can already arrive.
    waiting = true;
    QString error;
    const bool sent = sender(step, &error);
    if (!sent && waiting) {
        outcome.error = error;
        endStep(Outcome::NotSent);
    } else if (waiting) {
        answerTimer.start();
    }
}

void Exchange::takeLine(const QString &line)
{
    outcome.contact = true;
    const protocol::Reply reply = protocol::parseReply(line);
    if (reply.kind == protocol::ReplyKind::LampOn || reply.kind == protocol::ReplyKind::LampOff)
        outcome.lamp = protocol::answerText(reply, line);
    if (!waiting)
        return; // between two steps, or after the last
    outcome.steps[current].replies.append(line);
    switch (protocol::judgeReply(steps.at(current).awaited, reply)) {
    case protocol::Verdict::Pending:
        break;
    case protocol::Verdict::Answered:
        endStep(Outcome::Answered, protocol::answerText(reply, line));
        break;
    case protocol::Verdict::NotAvailable:
        endStep(Outcome::NotAvailable);
        break;
    }
}

void Exchange::endStep(Outcome stepOutcome, const QString &answer)
{
    answerTimer.stop();
    waiting = false;
    StepResult &result = outcome.steps[current];
    result.outcome = stepOutcome;
    result.answer = answer;
    int status = Done;
    if (stepOutcome == Outcome::NotSent)
        status = PortFailed;
    else if (stepOutcome == Outcome::NotAvailable)
        status = NotAvailable;
    else if (stepOutcome == Outcome::Silent && isQuestion(steps.at(current)))
        status = NoAnswer;
    if (status != Done) {
        // What follows may rely on this step: nothing more is sent.
        outcome.status = status;
        finish();
        return;
    }
    // Not from inside the send or the line handling that ended the step.
    QMetaObject::invokeMethod(this, &Exchange::sendNext, Qt::QueuedConnection);
}

void Exchange::finish()
{
    if (done)
        return;
    done = true;
    answerTimer.stop();
    emit finished();
}

QJsonObject Exchange::toJson(const Result &result)
{
    QJsonArray steps;
    for (const StepResult &step : result.steps) {
        QJsonObject object {{QStringLiteral("name"), step.name},
                            {QStringLiteral("frame"), step.text},
                            {QStringLiteral("result"), QLatin1String(outcomeName(step.outcome))},
                            {QStringLiteral("replies"), QJsonArray::fromStringList(step.replies)}};
        if (step.outcome == Outcome::Answered)
            object.insert(QStringLiteral("answer"), step.answer);
        steps.append(object);
    }
    QJsonObject object {{QStringLiteral("commands"), steps},
                        {QStringLiteral("lamp"), result.lamp},
                        {QStringLiteral("contact"), result.contact},
                        {QStringLiteral("status"), result.status}};
    if (!result.error.isEmpty())
        object.insert(QStringLiteral("error"), result.error);
    return object;
}

Exchange::Result Exchange::fromJson(const QJsonObject &object)
{
    Result result;
    const QJsonArray steps = object.value(QStringLiteral("commands")).toArray();
    for (const QJsonValue &value : steps) {
        const QJsonObject step = value.toObject();
        StepResult stepResult;
        stepResult.name = step.value(QStringLiteral("name")).toString();
        stepResult.text = step.value(QStringLiteral("frame")).toString();
        stepResult.outcome = outcomeNamed(step.value(QStringLiteral("result")).toString());
        stepResult.answer = step.value(QStringLiteral("answer")).toString();
        for (const QJsonValue &reply : step.value(QStringLiteral("replies")).toArray())
            stepResult.replies.append(reply.toString());
        result.steps.append(stepResult);
    }
    result.lamp = object.value(QStringLiteral("lamp")).toString(result.lamp);
    result.contact = object.value(QStringLiteral("contact")).toBool();
    result.error = object.value(QStringLiteral("error")).toString();
    result.status = object.value(QStringLiteral("status")).toInt(PortFailed);
    return result;
}
