#include "pjlinkface/faceanswer.h"

#include "session/projectorsession.h"

#include <QRegularExpression>

#include <utility>

namespace {
// The kinds of error ERST tells: fan, lamp, temperature, cover, filter, other.
constexpr int kErrorKinds = 6;
using pjlink::Error;
using Command = commands::Command;

constexpr char kClass1 = '1';
constexpr char kClass2 = '2';
constexpr char kOk[] = "OK";
constexpr char kOn[] = "1";
constexpr char kOff[] = "0";
constexpr char kNoSignal[] = "-";

// What a request is, by its class and command; None for any PJLink has and this
// projector does not.
enum class Kind {
    None,
    Power,
    Input,
    Mute,
    ErrorStatus,
    Lamp,
    Inputs,
    Name,
    Maker,
    Model,
    Info,
    Class,
    InputName,
    Resolution
};

Kind kindOf(char protocolClass, const QByteArray &command)
{
    struct Entry
    {
        char protocolClass;
        const char *command;
        Kind kind;
    };
    static const Entry kinds[] = {
        {kClass1, "POWR", Kind::Power},      {kClass1, "INPT", Kind::Input},
        {kClass1, "AVMT", Kind::Mute},       {kClass1, "ERST", Kind::ErrorStatus},
        {kClass1, "LAMP", Kind::Lamp},       {kClass1, "INST", Kind::Inputs},
        {kClass1, "NAME", Kind::Name},       {kClass1, "INF1", Kind::Maker},
        {kClass1, "INF2", Kind::Model},      {kClass1, "INFO", Kind::Info},
        {kClass1, "CLSS", Kind::Class},      {kClass2, "INPT", Kind::Input},
        {kClass2, "INST", Kind::Inputs},     {kClass2, "INNM", Kind::InputName},
        {kClass2, "IRES", Kind::Resolution},
    };
    for (const Entry &entry : kinds)
        if (entry.protocolClass == protocolClass && command == entry.command)
            return entry.kind;
    return Kind::None;
}

// Those that only ask.
bool isQuestionOnly(Kind kind)
{
    switch (kind) {
    case Kind::ErrorStatus:
    case Kind::Lamp:
    case Kind::Inputs:
    case Kind::Name:
    case Kind::Maker:
    case Kind::Model:
    case Kind::Info:
    case Kind::Class:
    case Kind::Resolution:
        return true;
    default:
        return false;
    }
}

// The error a step that did not end with an answer stands for.
Error errorOf(ScriptedRequest::StepOutcome outcome, Error refused)
{
    switch (outcome) {
    case ScriptedRequest::StepOutcome::NotAvailable:
        return Error::Unavailable;
    case ScriptedRequest::StepOutcome::Failed:
        return refused;
    default:
        // Silence, or nothing sent: as far as anyone can tell the projector has failed.
        return Error::Failure;
    }
}
} // namespace

FaceAnswer::FaceAnswer(ProjectorSession *session, CommandSet set, QString name, QObject *parent)
    : QObject(parent)
    , session(session)
    , set(std::move(set))
    , name(std::move(name))
{ }

FaceAnswer::~FaceAnswer()
{
    // What the projector was not asked yet is not asked for a controller gone.
    delete running;
}

void FaceAnswer::start(const pjlink::Request &request)
{
    protocolClass = request.protocolClass;
    command = request.command;
    const Kind kind = kindOf(protocolClass, command);
    if (kind == Kind::None)
        return fail(Error::Undefined);
    if (request.problem != pjlink::Request::Problem::None
        || (isQuestionOnly(kind) && !request.isQuestion()))
        return fail(Error::OutOfParameter);
    switch (kind) {
    case Kind::Power:
        return power(request);
    case Kind::Input:
        return input(request);
    case Kind::Mute:
        // The projector's mute is a toggle: a definite state can be neither set nor told
        // without knowing the one it is in, which nothing tells.
        return fail(Error::Undefined);
    case Kind::ErrorStatus:
        // A projector on a serial line tells no error status. PJLink's 0 for each kind means
        // "no error detected, or no way to detect one", which is what a controller that polls
        // the error status of every projector must be told; an error would mark the room
        // broken. One out of reach is a failure as far as anyone can tell.
        if (!inReach())
            return fail(Error::Failure);
        return reply(QByteArray(kErrorKinds, '0'));
    case Kind::Lamp:
        return lampHours();
    case Kind::Inputs:
        return reply(inputList());
    case Kind::Name:
        return reply(pjlink::textResult(name, pjlink::kMaxNameLength));
    case Kind::Maker:
        return reply(pjlink::textResult(set.maker, pjlink::kMaxInfoLength));
    case Kind::Model:
        return model();
    case Kind::Info:
        return reply(pjlink::textResult(set.name, pjlink::kMaxInfoLength));
    case Kind::Class:
        return reply(QByteArray(1, kClass1));
    case Kind::InputName:
        return inputName(request.parameter);
    case Kind::Resolution:
        return resolution();
    case Kind::None:
        break;
    }
    fail(Error::Undefined);
}

bool FaceAnswer::inReach() const
{
    return session->port() && session->hasContact();
}

void FaceAnswer::power(const pjlink::Request &request)
{
    if (request.isQuestion()) {
        if (!inReach())
            return fail(Error::Failure);
        switch (session->power()) {
        case ProjectorSession::Power::Off:
            return reply(QByteArray::number(int(pjlink::Power::Standby)));
        case ProjectorSession::Power::On:
            return reply(QByteArray::number(int(pjlink::Power::On)));
        case ProjectorSession::Power::Cooling:
            return reply(QByteArray::number(int(pjlink::Power::Cooling)));
        case ProjectorSession::Power::Warming:
            return reply(QByteArray::number(int(pjlink::Power::Warming)));
        case ProjectorSession::Power::Unknown:
            break;
        }
        // Not learnt yet: the first poll's answer tells it.
        return fail(Error::Unavailable);
    }
    if (request.parameter != kOn && request.parameter != kOff)
        return fail(Error::OutOfParameter);
    const Command id = request.parameter == kOn ? Command::PowerOn : Command::PowerOff;
    if (set.powerToggles) {
        // Its one frame switches either way: sent only where the projector is known to be
        // in the other state; one already there or on its way is done.
        const ProjectorSession::Power now = session->power();
        const bool there = id == Command::PowerOn
            ? now == ProjectorSession::Power::On || now == ProjectorSession::Power::Warming
            : now == ProjectorSession::Power::Off || now == ProjectorSession::Power::Cooling;
        if (there)
            return reply(kOk);
        if (now == ProjectorSession::Power::Unknown)
            return fail(Error::Unavailable);
    }
    if (session->availability(id) != ProjectorProtocol::Availability::Available)
        return fail(Error::Undefined);
    ask(id, Error::Failure, [this](const ScriptedRequest::StepResult &) { reply(kOk); });
}

void FaceAnswer::input(const pjlink::Request &request)
{
    // Which input is shown is told by no command the session sends.
    if (request.isQuestion())
        return fail(Error::Undefined);
    const std::optional<Command> id = pjlink::inputCommand(request.parameter);
    if (!id || !set.has(*id))
        return fail(Error::OutOfParameter);
    ask(*id, Error::OutOfParameter, [this](const ScriptedRequest::StepResult &) { reply(kOk); });
}

void FaceAnswer::lampHours()
{
    if (!set.has(Command::LampTime))
        return fail(Error::Undefined);
    ask(Command::LampTime, Error::Failure, [this](const ScriptedRequest::StepResult &step) {
        QList<qint64> hours;
        const QList<QByteArray> items = step.answer.toLatin1().simplified().split(' ');
        for (const QByteArray &item : items) {
            bool number = false;
            const qint64 value = item.toLongLong(&number);
            if (!number || value < 0)
                return fail(Error::Failure);
            hours.append(value);
        }
        reply(pjlink::lampResult(hours, session->isLampOn()));
    });
}

void FaceAnswer::model()
{
    // A set written for several models cannot tell which one this is.
    const QString named = set.models.size() == 1 ? set.models.constFirst() : QString();
    if (!set.has(Command::Model))
        return reply(pjlink::textResult(named, pjlink::kMaxInfoLength));
    ask(Command::Model, Error::Failure, [this](const ScriptedRequest::StepResult &step) {
        reply(pjlink::textResult(step.answer, pjlink::kMaxInfoLength));
    });
}

void FaceAnswer::resolution()
{
    if (!set.has(Command::Resolution))
        return fail(Error::Undefined);
    ask(Command::Resolution, Error::Failure, [this](const ScriptedRequest::StepResult &step) {
        static const QRegularExpression size(QStringLiteral("^(\\d+) x (\\d+)"));
        const QRegularExpressionMatch match = size.match(step.answer);
        if (!match.hasMatch())
            return reply(kNoSignal);
        reply(match.captured(1).toLatin1() + 'x' + match.captured(2).toLatin1());
    });
}

void FaceAnswer::inputName(const QByteArray &parameter)
{
    const std::optional<Command> id
        = parameter.startsWith('?') ? pjlink::inputCommand(parameter.mid(1)) : std::nullopt;
    if (!id || !set.has(*id))
        return fail(Error::OutOfParameter);
    reply(pjlink::textResult(pjlink::inputName(*id), pjlink::kMaxNameLength));
}

QByteArray FaceAnswer::inputList() const
{
    QList<QByteArray> codes;
    for (const Command id : pjlink::inputCommands())
        if (set.has(id))
            codes.append(pjlink::inputCode(id));
    return codes.join(' ');
}

void FaceAnswer::ask(Command id, Error refused, const Outcome &answeredStep)
{
    if (!session->port())
        return fail(Error::Failure);
    refusal = refused;
    onAnswer = answeredStep;
    running = new ScriptedRequest(
        ScriptedRequest::plan({QLatin1String(commands::command(id).name)}, false), this);
    connect(running, &ScriptedRequest::finished, this, &FaceAnswer::askDone);
    // Sent at once where the line is free: a controller's command waits for no tick.
    session->submit(running);
}

void FaceAnswer::askDone()
{
    if (!running)
        return;
    const ScriptedRequest::Result result = running->result();
    running->deleteLater();
    running = nullptr;
    const ScriptedRequest::StepResult step = result.steps.value(0);
    if (!result.steps.isEmpty() && step.outcome == ScriptedRequest::StepOutcome::Answered)
        onAnswer(step);
    else
        fail(result.steps.isEmpty() ? Error::Failure : errorOf(step.outcome, refusal));
}

void FaceAnswer::reply(const QByteArray &result)
{
    if (answered)
        return;
    answered = true;
    emit ready(pjlink::answer(protocolClass, command, result));
}

void FaceAnswer::fail(Error error)
{
    reply(pjlink::errorCode(error));
}
