#include "session/pjlinkprojector.h"

#include <algorithm>

namespace {
const QByteArray kQuestion = QByteArrayLiteral("?");
constexpr char kClass1 = '1';
constexpr char kClass2 = '2';
constexpr char kVideoInput = '2';
constexpr char kDigitalInput = '3';
// Requests whose answers decide which commands a projector can take.
const QList<QByteArray> kLearning {"CLSS", "INST", "INNM"};

bool isQuestion(const QByteArray &parameter)
{
    return parameter.startsWith('?');
}

ProjectorProtocol::Power powerOf(pjlink::Power power)
{
    switch (power) {
    case pjlink::Power::Standby:
        break;
    case pjlink::Power::On:
        return ProjectorProtocol::Power::On;
    case pjlink::Power::Cooling:
        return ProjectorProtocol::Power::Cooling;
    case pjlink::Power::Warming:
        return ProjectorProtocol::Power::Warming;
    }
    return ProjectorProtocol::Power::Off;
}

ProjectorProtocol::Error errorOf(pjlink::Error error)
{
    using Error = ProjectorProtocol::Error;
    switch (error) {
    case pjlink::Error::None:
        break;
    case pjlink::Error::Undefined:
        return Error::Undefined;
    case pjlink::Error::OutOfParameter:
        return Error::OutOfParameter;
    case pjlink::Error::Unavailable:
        return Error::Unavailable;
    case pjlink::Error::Failure:
        return Error::Failure;
    case pjlink::Error::Authentication:
        return Error::Authentication;
    }
    return Error::None;
}

const char *confirmingCommand(ProjectorProtocol::Topic topic)
{
    switch (topic) {
    case ProjectorProtocol::Topic::Power:
        break;
    case ProjectorProtocol::Topic::Error:
        return "ERST";
    case ProjectorProtocol::Topic::Input:
        return "INPT";
    }
    return "POWR";
}
} // namespace

PjlinkProjector::PjlinkProjector()
{
    clock.start();
}

QByteArray PjlinkProjector::requestFrame(char requestClass, const char *command,
                                         const QByteArray &parameter, quint64 action)
{
    sent.append({requestClass, command, parameter, action, clock.elapsed()});
    return pjlink::request(requestClass, command, parameter);
}

QList<QByteArray> PjlinkProjector::opened()
{
    polls = 0;
    return {requestFrame(kClass1, "POWR", kQuestion), requestFrame(kClass1, "CLSS", kQuestion),
            requestFrame(kClass1, "ERST", kQuestion), requestFrame(kClass1, "AVMT", kQuestion)};
}

QList<QByteArray> PjlinkProjector::poll()
{
    // Asking everything at every poll is what makes some projectors fail.
    QList<QByteArray> requests {requestFrame(kClass1, "POWR", kQuestion)};
    if (++polls % kErrorStatusPolls == 0)
        requests.append(requestFrame(kClass1, "ERST", kQuestion));
    if (polls % kHoursPolls == 0) {
        requests.append(requestFrame(kClass1, "LAMP", kQuestion));
        if (projectorClass >= 2)
            requests.append(requestFrame(kClass2, "FILT", kQuestion));
    }
    return requests;
}

QList<QByteArray> PjlinkProjector::confirm(Topic topic)
{
    // The input is asked in the class its names are in.
    const char requestClass = topic == Topic::Input ? inputClass() : kClass1;
    const QByteArray frame = requestFrame(requestClass, confirmingCommand(topic), kQuestion);
    sent.last().confirms = true;
    return {frame};
}

bool PjlinkProjector::isConfirming(Topic topic)
{
    forgetLost();
    const char *command = confirmingCommand(topic);
    return std::any_of(sent.cbegin(), sent.cend(), [command](const Sent &request) {
        return request.confirms && request.command == command;
    });
}

PjlinkProjector::Availability PjlinkProjector::availability(commands::Command id) const
{
    const pjlink::Use use = pjlink::useOf(id);
    if (use == pjlink::Use::None)
        return Availability::NoMeaning;
    if (pjlink::needsClass2(use) && projectorClass < 2)
        return Availability::NeedsClass2;
    if (use == pjlink::Use::Input) {
        if (!inputsKnown)
            return Availability::InputsUnknown;
        if (pjlink::inputFor(id, inputs, inputNames).isEmpty())
            return Availability::NoSuchInput;
    }
    return Availability::Available;
}

QString PjlinkProjector::reasonText(Availability availability)
{
    switch (availability) {
    case Availability::Available:
        break;
    case Availability::NoMeaning:
        return QStringLiteral("PJLink has no such command: nothing was sent");
    case Availability::NeedsClass2:
        return QStringLiteral("Only a projector of PJLink class 2 has this command");
    case Availability::InputsUnknown:
        return QStringLiteral("The projector has not listed its inputs");
    case Availability::NoSuchInput:
        return QStringLiteral("The projector has no such input");
    }
    return {};
}

QList<QByteArray> PjlinkProjector::frames(const Action &action, QString *reason)
{
    const quint64 id = nextAction;
    QList<QByteArray> requests;
    if (const Query *query = std::get_if<Query>(&action)) {
        requests.append(*query == Query::PowerState ? requestFrame(kClass1, "POWR", kQuestion, id)
                                                    : requestFrame(kClass1, "ERST", kQuestion, id));
    } else {
        const commands::Command command = std::get<commands::Command>(action);
        const Availability available = availability(command);
        if (available != Availability::Available) {
            if (reason)
                *reason = reasonText(available);
            return {};
        }
        switch (pjlink::useOf(command)) {
        case pjlink::Use::None:
            return {};
        case pjlink::Use::PowerOn:
            requests.append(requestFrame(kClass1, "POWR", "1", id));
            break;
        case pjlink::Use::PowerOff:
            requests.append(requestFrame(kClass1, "POWR", "0", id));
            break;
        case pjlink::Use::Input:
            requests.append(requestFrame(inputClass(), "INPT",
                                         pjlink::inputFor(command, inputs, inputNames), id));
            break;
        case pjlink::Use::Hide:
            // Shown again when known to be hidden, else hidden: picture and sound.
            requests.append(
                requestFrame(kClass1, "AVMT", pictureMuted.value_or(false) ? "30" : "31", id));
            break;
        case pjlink::Use::Freeze:
            requests.append(requestFrame(kClass2, "FREZ", frozen.value_or(false) ? "0" : "1", id));
            break;
        case pjlink::Use::LampHours:
            requests.append(requestFrame(kClass1, "LAMP", kQuestion, id));
            break;
        case pjlink::Use::Model:
            requests.append(requestFrame(kClass1, "INF1", kQuestion, id));
            requests.append(requestFrame(kClass1, "INF2", kQuestion, id));
            requests.append(requestFrame(kClass1, "NAME", kQuestion, id));
            break;
        case pjlink::Use::Maker:
            requests.append(requestFrame(kClass1, "INF1", kQuestion, id));
            break;
        case pjlink::Use::Resolution:
            requests.append(requestFrame(kClass2, "IRES", kQuestion, id));
            break;
        }
    }
    ++nextAction;
    pending.append({id, action, int(requests.size()), {}});
    return requests;
}

void PjlinkProjector::forgetLost()
{
    const qint64 now = clock.elapsed();
    sent.erase(
        std::remove_if(sent.begin(), sent.end(),
                       [now](const Sent &request) { return now - request.at > kForgetAfter; }),
        sent.end());
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [this](const Pending &action) {
                                     return std::none_of(sent.cbegin(), sent.cend(),
                                                         [&action](const Sent &request) {
                                                             return request.action == action.id;
                                                         });
                                 }),
                  pending.end());
}

bool PjlinkProjector::needsLearning(const Action &action)
{
    const commands::Command *id = std::get_if<commands::Command>(&action);
    if (!id)
        return false;
    const pjlink::Use use = pjlink::useOf(*id);
    return use == pjlink::Use::Input || pjlink::needsClass2(use);
}

bool PjlinkProjector::holdsBack(const Action &action)
{
    return needsLearning(action) && isLearning();
}

bool PjlinkProjector::isLearning()
{
    forgetLost();
    return std::any_of(sent.cbegin(), sent.cend(),
                       [](const Sent &request) { return kLearning.contains(request.command); });
}

ProjectorProtocol::Heard PjlinkProjector::hear(const QByteArray &line)
{
    Heard heard;
    const pjlink::Reply reply = pjlink::parseReply(line);
    if (!reply.valid)
        return heard;
    forgetLost();
    const auto match = std::find_if(sent.begin(), sent.end(), [&reply](const Sent &request) {
        return request.command == reply.command && request.requestClass == reply.protocolClass;
    });
    // A reply nobody asked for answers nothing: it would paint the panel or end a request
    // with what the projector did not say about it.
    if (match == sent.end())
        return heard;
    const Sent request = *match;
    sent.erase(match);
    const ProjectorFacts before = facts();
    learn(request, reply, heard);
    heard.factsChanged = facts() != before;
    if (request.action != 0)
        settle(request, reply, heard);
    return heard;
}

void PjlinkProjector::learn(const Sent &request, const pjlink::Reply &reply, Heard &heard)
{
    const QByteArray &command = reply.command;
    const bool question = isQuestion(request.parameter);
    if (reply.error != pjlink::Error::None) {
        if (command == "CLSS") {
            projectorClass = 1; // a projector that cannot say is of the first class
            heard.next.append(requestFrame(kClass1, "INST", kQuestion));
            askFacts(heard);
        } else if (command == "INST") {
            inputsRefused = reply.error == pjlink::Error::Unavailable;
        }
        heard.availabilityChanged = command == "CLSS" || command == "INST";
        return;
    }
    if (command == "POWR" && question) {
        const std::optional<pjlink::Power> reported = pjlink::parsePower(reply.result);
        if (!reported)
            return;
        // Some projectors list their inputs only once they are on; most tell the input
        // shown only then.
        if (*reported == pjlink::Power::On && power != pjlink::Power::On) {
            if (inputsRefused) {
                inputsRefused = false;
                heard.next.append(requestFrame(inputClass(), "INST", kQuestion));
            }
            if (projectorClass > 0)
                heard.next.append(requestFrame(inputClass(), "INPT", kQuestion));
        }
        power = reported;
        heard.power = powerOf(*reported);
    } else if (command == "CLSS") {
        projectorClass = std::max(1, pjlink::parseClass(reply.result));
        heard.next.append(requestFrame(inputClass(), "INST", kQuestion));
        if (projectorClass >= 2)
            heard.next.append(requestFrame(kClass2, "FREZ", kQuestion));
        askFacts(heard);
        heard.availabilityChanged = true;
    } else if (command == "INST") {
        inputs = pjlink::parseInputs(reply.result);
        inputsKnown = true;
        inputsRefused = false;
        inputNames.clear();
        int named = 0;
        for (const QByteArray &input : qAsConst(inputs)) {
            const bool nameMatters = input.at(0) == kVideoInput || input.at(0) == kDigitalInput;
            if (projectorClass >= 2 && nameMatters && named++ < kMaxNamedInputs)
                heard.next.append(requestFrame(kClass2, "INNM", kQuestion + input));
        }
        heard.availabilityChanged = true;
    } else if (command == "INNM") {
        const QByteArray input = request.parameter.mid(1);
        if (inputs.contains(input)) {
            inputNames.insert(input, pjlink::decodeText(reply.result));
            heard.availabilityChanged = true;
        }
    } else if (command == "ERST") {
        const std::optional<QByteArray> status = pjlink::parseErrorStatus(reply.result);
        if (!status)
            return;
        for (const QString &change : pjlink::errorChanges(errorStatus, *status))
            heard.log.append({change});
        errorStatus = *status;
        heard.errorStatus = status;
    } else if (command == "AVMT") {
        const std::optional<bool> muted
            = pjlink::parsePictureMute(question ? reply.result : request.parameter);
        if (muted && (question || reply.isOk()))
            pictureMuted = muted;
    } else if (command == "FREZ") {
        const std::optional<bool> still
            = pjlink::parseFreeze(question ? reply.result : request.parameter);
        if (still && (question || reply.isOk()))
            frozen = still;
    } else {
        learnFact(request, reply);
    }
}

void PjlinkProjector::askFacts(Heard &heard)
{
    // Once the class is known: what a class 1 projector cannot be asked is not.
    for (const char *command : {"INF1", "INF2", "LAMP"})
        heard.next.append(requestFrame(kClass1, command, kQuestion));
    heard.next.append(requestFrame(inputClass(), "INPT", kQuestion));
    if (projectorClass >= 2)
        for (const char *command : {"SNUM", "SVER", "FILT"})
            heard.next.append(requestFrame(kClass2, command, kQuestion));
}

void PjlinkProjector::learnFact(const Sent &request, const pjlink::Reply &reply)
{
    const QByteArray &command = reply.command;
    if (command == "INPT") {
        if (isQuestion(request.parameter))
            input = reply.result;
        else if (reply.isOk())
            input = request.parameter;
        return;
    }
    if (!isQuestion(request.parameter))
        return;
    if (command == "INF1") {
        maker = pjlink::decodeText(reply.result);
    } else if (command == "INF2") {
        model = pjlink::decodeText(reply.result);
    } else if (command == "SNUM") {
        serialNumber = pjlink::decodeText(reply.result);
    } else if (command == "SVER") {
        firmware = pjlink::decodeText(reply.result);
    } else if (command == "LAMP") {
        const QList<qint64> hours = pjlink::parseLampHours(reply.result);
        if (!hours.isEmpty())
            lampHours = hours;
    } else if (command == "FILT") {
        bool number = false;
        const qint64 hours = reply.result.toLongLong(&number);
        if (number && hours >= 0)
            filterHours = hours;
    }
}

ProjectorFacts PjlinkProjector::facts() const
{
    ProjectorFacts told;
    told.maker = maker;
    told.model = model;
    told.serialNumber = serialNumber;
    told.firmware = firmware;
    told.lampHours = lampHours;
    told.filterHours = filterHours;
    told.errorStatus = errorStatus;
    told.input = input;
    told.muted = pictureMuted;
    told.frozen = frozen;
    if (inputsKnown) {
        for (const commands::Command id : pjlink::inputCommands()) {
            const QByteArray chosen = pjlink::inputFor(id, inputs, inputNames);
            if (chosen.isEmpty())
                continue;
            told.sources.append(id);
            if (chosen == input && !told.source)
                told.source = id;
        }
    }
    return told;
}

void PjlinkProjector::settle(const Sent &request, const pjlink::Reply &reply, Heard &heard)
{
    const auto action = std::find_if(pending.begin(), pending.end(), [&request](const Pending &p) {
        return p.id == request.action;
    });
    if (action == pending.end())
        return; // ended already by an error of another of its requests
    // The projector's own name is no part of its model: a projector that has none still
    // tells its maker and model.
    const bool optional = reply.command == "NAME"
        && std::holds_alternative<commands::Command>(action->action)
        && std::get<commands::Command>(action->action) == commands::Command::Model;
    if (reply.error != pjlink::Error::None && !optional) {
        const QString reason = pjlink::errorText(reply.error);
        heard.log.append({reason, errorOf(reply.error)});
        heard.completed.append({action->action, commands::Verdict::NotAvailable, reason});
        pending.erase(action);
        return;
    }
    // A set command is taken with OK; any other value is not an acknowledgement.
    if (!isQuestion(request.parameter) && reply.error == pjlink::Error::None && !reply.isOk()) {
        const QString reason = QStringLiteral("The projector gave an unexpected answer: %1")
                                   .arg(pjlink::decodeText(reply.result));
        heard.log.append({reason});
        heard.completed.append({action->action, commands::Verdict::Failed, reason});
        pending.erase(action);
        return;
    }
    if (reply.error == pjlink::Error::None)
        action->results.insert(reply.command, reply.result);
    if (--action->parts > 0)
        return;
    const QString answer = answerOf(*action);
    // Answers to questions go to the log as the serial projector's do; acknowledgements
    // and the script's own questions do not.
    if (!answer.isEmpty() && std::holds_alternative<commands::Command>(action->action))
        heard.log.append({answer, Error::None, true});
    const commands::Command *id = std::get_if<commands::Command>(&action->action);
    if (id && pjlink::useOf(*id) == pjlink::Use::LampHours)
        heard.lampHours = pjlink::parseLampHours(action->results.value("LAMP"));
    heard.completed.append({action->action, commands::Verdict::Answered, answer});
    pending.erase(action);
}

QString PjlinkProjector::answerOf(const Pending &action) const
{
    const auto result = [&action](const char *command) {
        return action.results.value(command);
    };
    if (const Query *query = std::get_if<Query>(&action.action))
        return *query == Query::ErrorStatus ? pjlink::errorSummary(result("ERST")) : QString();
    switch (pjlink::useOf(std::get<commands::Command>(action.action))) {
    case pjlink::Use::LampHours: {
        const QList<qint64> hours = pjlink::parseLampHours(result("LAMP"));
        return hours.isEmpty() ? pjlink::decodeText(result("LAMP")) : pjlink::lampHoursText(hours);
    }
    case pjlink::Use::Model: {
        QString model = (pjlink::decodeText(result("INF1")) + QLatin1Char(' ')
                         + pjlink::decodeText(result("INF2")))
                            .trimmed();
        const QString name = pjlink::decodeText(result("NAME"));
        if (!name.isEmpty())
            model += QStringLiteral(" (%1)").arg(name);
        return model;
    }
    case pjlink::Use::Maker:
        return pjlink::decodeText(result("INF1"));
    case pjlink::Use::Resolution:
        return pjlink::decodeResolution(result("IRES"));
    default:
        return {};
    }
}
