#include "session/commandsetprojector.h"

#include "link/characters.h"
#include "link/lineassembler.h"
#include "link/serialprotocol.h"

#include <algorithm>
#include <utility>

namespace {
bool matchesAny(const QList<ReplyPattern> &patterns, const QByteArray &line)
{
    return std::any_of(patterns.cbegin(), patterns.cend(),
                       [&](const ReplyPattern &pattern) { return pattern.match(line).matched; });
}

ProjectorProtocol::Error errorOf(CommandSet::Refusal refusal)
{
    switch (refusal) {
    case CommandSet::Refusal::NotNow:
        return ProjectorProtocol::Error::Unavailable;
    case CommandSet::Refusal::UnknownCommand:
        return ProjectorProtocol::Error::Undefined;
    case CommandSet::Refusal::ValueRefused:
        return ProjectorProtocol::Error::OutOfParameter;
    }
    return ProjectorProtocol::Error::None;
}

bool isPower(const ProjectorProtocol::Action &action)
{
    const commands::Command *id = std::get_if<commands::Command>(&action);
    return id && (*id == commands::Command::PowerOn || *id == commands::Command::PowerOff);
}

QString stateText(CommandSet::PowerState state)
{
    switch (state) {
    case CommandSet::PowerState::On:
        return QStringLiteral("on");
    case CommandSet::PowerState::Off:
        return QStringLiteral("off");
    case CommandSet::PowerState::Standby:
        return QStringLiteral("in standby");
    case CommandSet::PowerState::Warming:
        return QStringLiteral("warming up");
    case CommandSet::PowerState::Cooling:
        return QStringLiteral("cooling down");
    }
    return QString();
}
} // namespace

CommandSetProjector::CommandSetProjector(CommandSet commandSet)
    : set(std::move(commandSet))
    , binaryReplies(LineAssembler::endsBinaryLines(set.replyEnd))
    , promptEnded(LineAssembler::isPrompt(set.replyEnd))
{
    for (int i = 0; i < commands::kCommandCount; ++i)
        everyCommand = everyCommand
            && (set.has(commands::Command(i))
                || (set.powerToggles && commands::Command(i) == commands::Command::PowerOff));
}

QList<QByteArray> CommandSetProjector::opened()
{
    // A toggle is sent only knowing the state: it is asked at once.
    if (!set.powerToggles || set.powerQuery.isEmpty())
        return {};
    asked.start();
    return {unended(set.powerQuery)};
}

int CommandSetProjector::echoes() const
{
    switch (set.echo) {
    case CommandSet::Echo::None:
        break;
    case CommandSet::Echo::Once:
        return 1;
    case CommandSet::Echo::Twice:
        return 2;
    }
    return 0;
}

ProjectorProtocol::Pacing CommandSetProjector::pacing() const
{
    Pacing pacing;
    pacing.wakeUp = set.wakeUp;
    pacing.wakeUpWaitMs = set.wakeUpWaitMs;
    pacing.busyAfterPowerMs = set.busyAfterPowerMs;
    pacing.sentTwice = set.sentTwice;
    return pacing;
}

bool CommandSetProjector::holdsBack(const Action &action)
{
    return set.powerToggles && isPower(action) && !knownPower && asked.isValid()
        && !asked.hasExpired(kForgetAfter);
}

QList<QByteArray> CommandSetProjector::toggle(commands::Command id, QString *reason)
{
    using State = CommandSet::PowerState;
    const bool on = id == commands::Command::PowerOn;
    if (knownPower
        && (on ? *knownPower == State::Off || *knownPower == State::Standby
               : *knownPower == State::On)) {
        toggledFrom = std::exchange(knownPower, std::nullopt);
        toggled.start();
        lastSent = Action(id);
        return {unended(set.bodies[int(commands::Command::PowerOn)])};
    }
    if (reason) {
        const QString why = !knownPower
            ? (toggledFrom && !toggled.hasExpired(kToggleSettle)
                   ? QStringLiteral("it is switching")
                   : QStringLiteral("the power state is not known yet"))
            : QStringLiteral("the projector is %1").arg(stateText(*knownPower));
        *reason
            = QStringLiteral("%1 toggles the power and %2: nothing was sent").arg(set.name, why);
    }
    return {};
}

void CommandSetProjector::heardPower(CommandSet::PowerState state)
{
    asked.invalidate();
    // A poll answered as the toggle went out tells the state before it.
    if (toggledFrom && state == *toggledFrom && !toggled.hasExpired(kToggleSettle))
        return;
    toggledFrom.reset();
    knownPower = state;
}

QByteArray CommandSetProjector::unended(const QByteArray &body) const
{
    return set.framed(body).chopped(set.framing.end.size());
}

QList<QByteArray> CommandSetProjector::poll()
{
    // A projector that cannot be asked is left alone.
    if (set.powerQuery.isEmpty())
        return {};
    return {unended(set.powerQuery)};
}

QList<QByteArray> CommandSetProjector::frames(const Action &action, QString *reason)
{
    if (const commands::Command *id = std::get_if<commands::Command>(&action)) {
        if (set.powerToggles && isPower(action))
            return toggle(*id, reason);
        if (!set.has(*id)) {
            if (reason)
                *reason = QStringLiteral("%1 has no such command: nothing was sent").arg(set.name);
            return {};
        }
        lastSent = action;
        return {unended(set.bodies[int(*id)])};
    }
    // No set tells the error status: nothing to ask, and nothing to say why, as for the
    // built-in protocol.
    if (std::get<Query>(action) == Query::ErrorStatus || set.powerQuery.isEmpty()) {
        if (reason)
            *reason = set.powerQuery.isEmpty() && std::get<Query>(action) == Query::PowerState
                ? QStringLiteral("%1 cannot ask the power state").arg(set.name)
                : QString();
        return {};
    }
    lastSent = action;
    return {unended(set.powerQuery)};
}

ProjectorProtocol::Heard CommandSetProjector::hear(const QByteArray &bytes)
{
    // Binary replies are shown byte for byte; text ones as any projector's text.
    const auto shown = [this](const QByteArray &reply) {
        return binaryReplies ? characters::escapedBytes(reply)
                             : characters::visibleText(QString::fromLatin1(reply));
    };
    // Each byte is a character of the line (see LineAssembler).
    const QString line = QString::fromLatin1(bytes);
    Heard heard;
    Unmatched said;
    if (const std::optional<CommandSet::PowerState> state = set.powerState(bytes)) {
        heardPower(*state);
        // Some projectors acknowledge a command with their new power state ("*POW=ON#"):
        // the same line answers the command sent and tells the state.
        const bool acknowledges = lastSent && std::holds_alternative<commands::Command>(*lastSent)
            && matchesAny(set.accepted, bytes);
        said.kind = acknowledges ? commands::Answer::Acknowledgement : commands::Answer::LampState;
        switch (*state) {
        case CommandSet::PowerState::On:
        case CommandSet::PowerState::Off:
        case CommandSet::PowerState::Standby:
            heard.lamp = *state == CommandSet::PowerState::On;
            said.text = *heard.lamp ? QStringLiteral("on") : QStringLiteral("off");
            break;
        case CommandSet::PowerState::Warming:
            heard.power = Power::Warming;
            said.text = QStringLiteral("warming");
            break;
        case CommandSet::PowerState::Cooling:
            heard.power = Power::Cooling;
            said.text = QStringLiteral("cooling");
            break;
        }
    } else if (const std::optional<CommandSet::Refusal> refusal = set.refusal(bytes)) {
        const QString text = shown(bytes);
        heard.log.append({text, errorOf(*refusal)});
        if (*refusal == CommandSet::Refusal::NotNow)
            said.notAvailable = true;
        else if (lastSent)
            heard.completed.append({*lastSent, commands::Verdict::Failed, text});
    } else if ((bytes.isEmpty() && promptEnded) || matchesAny(set.accepted, bytes)) {
        // Under a prompt an empty line is the prompt alone: the command was taken.
        said.kind = commands::Answer::Acknowledgement;
        said.text = shown(bytes);
    } else if (const std::optional<CommandSet::Resolution> resolution = set.resolution(bytes)) {
        said.kind = commands::Answer::Resolution;
        said.text = serialprotocol::formatResolution(
            {resolution->width, resolution->height, resolution->refreshRate});
        heard.log.append({said.text, Error::None, true});
    } else if (matchesAny(set.ignored, bytes)) {
        return heard;
    } else {
        // Any other line is a text answer (the lamp hours, the model); hours the set
        // captures are the answer on their own.
        said.kind = commands::Answer::Text;
        const QList<int> hours = set.lampHours(bytes);
        for (const int each : hours)
            heard.lampHours.append(each);
        if (!hours.isEmpty() && heard.lampHours != told.lampHours) {
            told.lampHours = heard.lampHours;
            heard.factsChanged = true;
        }
        QStringList told;
        for (const int each : hours)
            told.append(QString::number(each));
        said.text = hours.isEmpty() ? shown(bytes) : told.join(QLatin1Char(' '));
        heard.log.append({hours.isEmpty()
                              ? (binaryReplies ? shown(bytes) : characters::logLineText(line))
                              : said.text,
                          Error::None, true});
    }
    heard.unmatched = said;
    return heard;
}

ProjectorProtocol::Availability CommandSetProjector::availability(commands::Command id) const
{
    // A toggling set's power-on frame is its power-off too.
    if (set.powerToggles && id == commands::Command::PowerOff)
        return Availability::Available;
    return set.has(id) ? Availability::Available : Availability::NoMeaning;
}
