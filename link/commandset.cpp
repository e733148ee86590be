#include "link/commandset.h"

#include <algorithm>

using commands::Command;
using commands::Verdict;

namespace {
bool anyMatches(const QList<ReplyPattern> &patterns, const QByteArray &line)
{
    return std::any_of(patterns.cbegin(), patterns.cend(),
                       [&](const ReplyPattern &pattern) { return pattern.match(line).matched; });
}

std::optional<ReplyPattern::Match> firstMatch(const QList<ReplyPattern> &patterns,
                                              const QByteArray &line)
{
    for (const ReplyPattern &pattern : patterns) {
        ReplyPattern::Match match = pattern.match(line);
        if (match.matched)
            return match;
    }
    return std::nullopt;
}
} // namespace

QByteArray CommandSet::frame(Command command) const
{
    const QByteArray &body = bodies[int(command)];
    return body.isEmpty() ? QByteArray() : framed(body);
}

QByteArray CommandSet::framed(const QByteArray &body) const
{
    QByteArray frame = body;
    if (framing.checksum != Checksum::None) {
        // The reader has checked the range against every body; a body from elsewhere
        // is summed as far as it reaches.
        const int last = framing.checksumTo < 0
            ? int(body.size()) - 1
            : std::min(framing.checksumTo, int(body.size()) - 1);
        const int first = std::min(framing.checksumFrom, last + 1);
        frame.append(char(checksum(framing.checksum, body.mid(first, last + 1 - first))));
    }
    return frame + framing.end;
}

quint8 CommandSet::checksum(Checksum rule, const QByteArray &bytes)
{
    quint8 sum = 0;
    for (const char byte : bytes) {
        if (rule == Checksum::Sum8)
            sum = quint8(sum + quint8(byte));
        else if (rule == Checksum::Xor8)
            sum = quint8(sum ^ quint8(byte));
        else if (rule == Checksum::Or8)
            sum = quint8(sum | quint8(byte));
    }
    return sum;
}

bool CommandSet::claimed(const QByteArray &line) const
{
    if (anyMatches(accepted, line) || anyMatches(notNow, line) || anyMatches(unknownCommand, line)
        || anyMatches(valueRefused, line) || anyMatches(ignored, line)
        || anyMatches(resolutionAnswers, line))
        return true;
    return std::any_of(
        powerAnswers.cbegin(), powerAnswers.cend(),
        [&](const QList<ReplyPattern> &patterns) { return anyMatches(patterns, line); });
}

std::optional<CommandSet::Refusal> CommandSet::refusal(const QByteArray &line) const
{
    if (anyMatches(notNow, line))
        return Refusal::NotNow;
    if (anyMatches(unknownCommand, line))
        return Refusal::UnknownCommand;
    if (anyMatches(valueRefused, line))
        return Refusal::ValueRefused;
    return std::nullopt;
}

Verdict CommandSet::judge(Command awaited, const QByteArray &line) const
{
    if (const std::optional<Refusal> refused = refusal(line))
        return *refused == Refusal::NotNow ? Verdict::NotAvailable : Verdict::Failed;
    bool answered = false;
    if (awaited == Command::Resolution && !resolutionAnswers.isEmpty()) {
        answered = anyMatches(resolutionAnswers, line);
    } else if (awaited == Command::LampTime && !lampHoursAnswers.isEmpty()) {
        // An answer of its own kind tells nothing of the lamp, whatever the pattern.
        answered = !claimed(line) && anyMatches(lampHoursAnswers, line);
    } else if (awaited == Command::Model && !modelAnswers.isEmpty()) {
        answered = !claimed(line) && anyMatches(modelAnswers, line);
    } else {
        answered = anyMatches(accepted, line);
    }
    return answered ? Verdict::Answered : Verdict::Pending;
}

std::optional<CommandSet::PowerState> CommandSet::powerState(const QByteArray &line) const
{
    for (int state = 0; state < kPowerStateCount; ++state)
        if (anyMatches(powerAnswers[state], line))
            return PowerState(state);
    return std::nullopt;
}

std::optional<CommandSet::Resolution> CommandSet::resolution(const QByteArray &line) const
{
    const std::optional<ReplyPattern::Match> match = firstMatch(resolutionAnswers, line);
    if (!match)
        return std::nullopt;
    Resolution resolution;
    for (int i = 0; i < match->kinds.size(); ++i) {
        const int value = match->values.at(i);
        switch (match->kinds.at(i)) {
        case ReplyPattern::Capture::Width:
        case ReplyPattern::Capture::Width16:
            resolution.width = value;
            break;
        case ReplyPattern::Capture::Height:
        case ReplyPattern::Capture::Height16:
            resolution.height = value;
            break;
        case ReplyPattern::Capture::Rate:
            resolution.refreshRate = value;
            break;
        case ReplyPattern::Capture::RateCode:
            resolution.refreshRate = value < rateCodes.size() ? rateCodes.at(value) : 0;
            break;
        default:
            break;
        }
    }
    return resolution;
}

QList<int> CommandSet::lampHours(const QByteArray &line) const
{
    QList<int> hours;
    if (claimed(line))
        return hours;
    if (const std::optional<ReplyPattern::Match> match = firstMatch(lampHoursAnswers, line))
        for (int i = 0; i < match->kinds.size(); ++i)
            if (match->kinds.at(i) == ReplyPattern::Capture::Hours)
                hours.append(match->values.at(i));
    return hours;
}

namespace {
template<typename Enum, std::size_t N>
QString wordOf(const std::pair<const char *, Enum> (&words)[N], Enum value)
{
    for (const auto &word : words)
        if (word.second == value)
            return QLatin1String(word.first);
    return {};
}
} // namespace

QString CommandSet::parityWord(Parity parity)
{
    return wordOf(kParityWords, parity);
}

QString CommandSet::flowControlWord(FlowControl flow)
{
    return wordOf(kFlowControlWords, flow);
}
