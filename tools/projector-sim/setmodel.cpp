#include "setmodel.h"

#include <algorithm>
#include <utility>

using commands::Command;

namespace {
constexpr int kSampleWidth = 1920;
constexpr int kSampleHeight = 1080;
constexpr int kSampleRate = 60;
constexpr int kHoursBetweenLamps = 100; // so that each lamp's hours tell which lamp it is

constexpr Command kInputs[]
    = {Command::Vga, Command::Hdmi, Command::Dvi, Command::SVideo, Command::Composite};

bool isInput(Command command)
{
    return std::find(std::begin(kInputs), std::end(kInputs), command) != std::end(kInputs);
}
} // namespace

SetModel::SetModel(CommandSet commandSet, const ProjectorModel::Options &options)
    : set(std::move(commandSet))
    , options(options)
    , power(options)
{
    for (int i = 0; i < commands::kCommandCount; ++i)
        if (set.has(Command(i)))
            known.append({set.frame(Command(i)), Command(i), false});
    if (!set.powerQuery.isEmpty())
        known.append({set.framed(set.powerQuery), std::nullopt, true});
    if (!set.inputQuery.isEmpty())
        known.append({set.framed(set.inputQuery), std::nullopt, false});
    // The longest first: a frame that begins another is taken only when the longer one
    // is not there.
    std::stable_sort(known.begin(), known.end(), [](const Known &a, const Known &b) {
        return a.frame.size() > b.frame.size();
    });
}

QList<SetModel::Exchange> SetModel::receive(const QByteArray &bytes, qint64 nowMs)
{
    pending += bytes;
    QList<Exchange> exchanges;
    QByteArray passedOver;
    const auto passOn = [&] {
        if (!passedOver.isEmpty())
            exchanges.append({std::exchange(passedOver, QByteArray()), {}});
    };
    while (!pending.isEmpty()) {
        const auto whole = std::find_if(known.cbegin(), known.cend(), [&](const Known &k) {
            return pending.startsWith(k.frame);
        });
        if (whole != known.cend()) {
            passOn();
            pending.remove(0, whole->frame.size());
            const int echoes = set.echo == CommandSet::Echo::Twice ? 2
                : set.echo == CommandSet::Echo::Once               ? 1
                                                                   : 0;
            Exchange exchange {whole->frame, {}};
            for (int i = 0; i < echoes; ++i)
                exchange.answer += whole->frame;
            exchange.answer += answer(*whole, nowMs);
            exchanges.append(exchange);
            continue;
        }
        const bool begun = std::any_of(known.cbegin(), known.cend(),
                                       [&](const Known &k) { return k.frame.startsWith(pending); });
        if (begun)
            break;
        passedOver += pending.front(); // no frame of the set starts here
        pending.remove(0, 1);
    }
    passOn();
    return exchanges;
}

QByteArray SetModel::answer(const Known &known, qint64 nowMs)
{
    if (options.silentInStandby && known.command != Command::PowerOn
        && power.power(nowMs) == ProjectorModel::Power::Standby)
        return {};
    if (known.powerQuery)
        return powerAnswer(nowMs);
    if (!known.command)
        return inputAnswer();
    return commandAnswer(*known.command, nowMs);
}

QByteArray SetModel::commandAnswer(Command command, qint64 nowMs)
{
    if (set.sentTwice[int(command)]) {
        // The first asks for the confirmation the second gives.
        confirming[int(command)] = !confirming[int(command)];
        if (confirming[int(command)])
            return acknowledgement(true);
    }
    const ProjectorModel::Power state = power.power(nowMs);
    switch (command) {
    case Command::PowerOn:
        if (set.powerToggles
            && (state == ProjectorModel::Power::On || state == ProjectorModel::Power::WarmingUp))
            return acknowledgement(power.switchOff(nowMs));
        return acknowledgement(power.switchOn(nowMs));
    case Command::PowerOff:
        return acknowledgement(power.switchOff(nowMs));
    case Command::LampTime:
        if (!set.lampHoursAnswers.isEmpty())
            return lampAnswer();
        break;
    case Command::Model:
        if (!set.modelAnswers.isEmpty())
            return reply(set.modelAnswers, {}, kModelText);
        break;
    case Command::Resolution:
        if (!set.resolutionAnswers.isEmpty())
            return state == ProjectorModel::Power::On ? resolutionAnswer() : acknowledgement(false);
        break;
    default:
        break;
    }
    if (state != ProjectorModel::Power::On)
        return acknowledgement(false);
    if (isInput(command))
        currentInput = command;
    return acknowledgement(true);
}

QByteArray SetModel::acknowledgement(bool done) const
{
    // A projector whose set names no refusal takes the command and does nothing.
    if (!done && !set.notNow.isEmpty())
        return reply(set.notNow);
    return reply(set.accepted);
}

QByteArray SetModel::powerAnswer(qint64 nowMs)
{
    using State = CommandSet::PowerState;
    const auto answers = [&](State state) {
        return set.powerAnswers[int(state)];
    };
    const auto first = [&](State state, State otherwise) {
        return reply(answers(state).isEmpty() ? answers(otherwise) : answers(state));
    };
    switch (power.power(nowMs)) {
    case ProjectorModel::Power::Standby:
        return first(State::Off, State::Standby);
    case ProjectorModel::Power::WarmingUp:
        return first(State::Warming, State::On);
    case ProjectorModel::Power::On:
        return reply(answers(State::On));
    case ProjectorModel::Power::CoolingDown:
        return first(State::Cooling, State::Off);
    }
    return {};
}

QByteArray SetModel::lampAnswer() const
{
    const ReplyPattern &pattern = set.lampHoursAnswers.constFirst();
    // One line for each lamp when the pattern numbers them, else one line telling them all.
    const QList<ReplyPattern::Capture> kinds = pattern.captures();
    const bool numbered = kinds.contains(ReplyPattern::Capture::LampNumber);
    const int lines = numbered ? set.lamps : 1;
    QByteArray sent;
    int lamp = 0;
    for (int line = 0; line < lines; ++line) {
        QList<int> values;
        for (const ReplyPattern::Capture kind : kinds) {
            if (kind == ReplyPattern::Capture::LampNumber) {
                values.append(lamp + 1);
            } else if (kind == ReplyPattern::Capture::Hours) {
                values.append(options.lampHours + lamp * kHoursBetweenLamps);
                if (!numbered)
                    ++lamp;
            } else {
                values.append(0);
            }
        }
        if (numbered)
            ++lamp;
        // A pattern that tells the hours only as "*" gets them there.
        sent += pattern.sample(values, QByteArray::number(options.lampHours)) + set.replyEnd;
    }
    return sent;
}

QByteArray SetModel::resolutionAnswer() const
{
    const ReplyPattern &pattern = set.resolutionAnswers.constFirst();
    const int rateCode = std::max(0, int(set.rateCodes.indexOf(kSampleRate)));
    QList<int> values;
    for (const ReplyPattern::Capture kind : pattern.captures()) {
        switch (kind) {
        case ReplyPattern::Capture::Width:
        case ReplyPattern::Capture::Width16:
            values.append(kSampleWidth);
            break;
        case ReplyPattern::Capture::Height:
        case ReplyPattern::Capture::Height16:
            values.append(kSampleHeight);
            break;
        case ReplyPattern::Capture::Rate:
            values.append(kSampleRate);
            break;
        case ReplyPattern::Capture::RateCode:
            values.append(rateCode);
            break;
        default:
            values.append(0);
            break;
        }
    }
    return pattern.sample(values) + set.replyEnd;
}

QByteArray SetModel::inputAnswer() const
{
    for (const Command input : kInputs)
        if ((!currentInput || *currentInput == input) && !set.inputAnswers[int(input)].isEmpty())
            return reply(set.inputAnswers[int(input)]);
    return reply(set.accepted);
}

QByteArray SetModel::reply(const QList<ReplyPattern> &patterns, const QList<int> &values,
                           const QByteArray &star) const
{
    // A set without the pattern (an acknowledgement that is the prompt alone) ends an
    // empty reply.
    return (patterns.isEmpty() ? QByteArray() : patterns.constFirst().sample(values, star))
        + set.replyEnd;
}
