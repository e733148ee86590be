#include "session/commandsetprojector.h"

#include "link/characters.h"
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
} // namespace

CommandSetProjector::CommandSetProjector(CommandSet commandSet)
    : set(std::move(commandSet))
{
    for (int i = 0; i < commands::kCommandCount; ++i)
        everyCommand = everyCommand && set.has(commands::Command(i));
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
    // Each byte is a character of the line (see LineAssembler).
    const QString line = QString::fromLatin1(bytes);
    Heard heard;
    Unmatched said;
    if (const std::optional<CommandSet::PowerState> state = set.powerState(bytes)) {
        said.kind = commands::Answer::LampState;
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
        const QString text = characters::visibleText(line);
        heard.log.append({text, errorOf(*refusal)});
        if (*refusal == CommandSet::Refusal::NotNow)
            said.notAvailable = true;
        else if (lastSent)
            heard.completed.append({*lastSent, commands::Verdict::Failed, text});
    } else if (matchesAny(set.accepted, bytes)) {
        said.kind = commands::Answer::Acknowledgement;
        said.text = characters::visibleText(line);
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
        QStringList told;
        for (const int each : hours)
            told.append(QString::number(each));
        said.text = hours.isEmpty() ? characters::visibleText(line) : told.join(QLatin1Char(' '));
        heard.log.append(
            {hours.isEmpty() ? characters::logLineText(line) : said.text, Error::None, true});
    }
    heard.unmatched = said;
    return heard;
}

ProjectorProtocol::Availability CommandSetProjector::availability(commands::Command id) const
{
    return set.has(id) ? Availability::Available : Availability::NoMeaning;
}
