#include "service/projectorservice.h"

#include "link/pjlink.h"
#include "link/portdevice.h"
#include "link/replytexts.h"
#include "service/mqttclient.h"
#include "service/mqtttopics.h"
#include "session/exitstatus.h"
#include "session/projectorrequest.h"
#include "session/scriptedrequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {
constexpr char kLampTime[] = "lamp-time";
constexpr char kModel[] = "model";
constexpr char kResolution[] = "resolution";
constexpr char kErrorStatus[] = "errors"; // the PJLink error status, as for the command line
constexpr int kMaxModelLength = 64; // characters of the model shown in Home Assistant
constexpr qint64 kMaxLampHours = 10000000; // beyond any lamp: a misread line
constexpr int kMillisPerSecond = 1000;

// Only bytes that a command name can hold are ever shown in the log; anything else is
// counted, not echoed.
bool isNameText(const QByteArray &payload)
{
    return !payload.isEmpty() && std::all_of(payload.cbegin(), payload.cend(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

QString refusedText(const QByteArray &payload)
{
    if (isNameText(payload))
        return QStringLiteral("'%1'").arg(QString::fromLatin1(payload));
    return QStringLiteral("%1 bytes").arg(payload.size());
}

// The status words of lumivox/<id>/result; those of a command that ran are the command
// line's step results ("not-available", "no-answer") where they say the same.
QString statusWord(ScriptedRequest::Status status)
{
    switch (status) {
    case ScriptedRequest::Status::Done:
        return QStringLiteral("done");
    case ScriptedRequest::Status::PortFailed:
        return QStringLiteral("port-failed");
    case ScriptedRequest::Status::NoAnswer:
        return QStringLiteral("no-answer");
    case ScriptedRequest::Status::NotAvailable:
        return QStringLiteral("not-available");
    case ScriptedRequest::Status::Failed:
        return QStringLiteral("failed");
    }
    return QStringLiteral("port-failed");
}

// The answer of a question, as it came; empty for an acknowledgement.
QString answerOf(const ScriptedRequest::StepResult &step)
{
    if (step.outcome != ScriptedRequest::StepOutcome::Answered
        || step.answer.startsWith(QLatin1Char('*')))
        return QString();
    return step.answer;
}

// Why a command did not run as asked: empty when it did.
QString reasonText(const ScriptedRequest::Result &result)
{
    using Outcome = ScriptedRequest::StepOutcome;
    const ScriptedRequest::StepResult step = result.steps.value(0);
    if (result.steps.isEmpty() || step.outcome == Outcome::NotSent)
        return result.error.isEmpty() ? QStringLiteral("not sent") : result.error;
    switch (step.outcome) {
    case Outcome::Answered:
        return QString();
    case Outcome::NotAvailable:
        // The session's reason where the projector gave one (PJLink's ERR2 ...).
        return step.reason.isEmpty() ? QString::fromLatin1(replytexts::kNotAvailable) : step.reason;
    case Outcome::Silent:
        return QStringLiteral("no answer from the projector");
    case Outcome::Failed:
        return step.reason;
    case Outcome::NotSent:
        break;
    }
    return result.error;
}

// The log's words for a command's answer: what it is, then what the projector said.
QString answerText(const QString &command, const QString &answer)
{
    if (command == QLatin1String(kLampTime))
        return QStringLiteral("Lamp hours: ") + answer;
    if (command == QLatin1String(kModel))
        return QStringLiteral("Model: ") + answer;
    if (command == QLatin1String(kResolution))
        return QStringLiteral("Resolution: ") + answer;
    if (command == QLatin1String(kErrorStatus))
        return QStringLiteral("Error status: ") + answer;
    return answer;
}

QString outcomeText(const QString &command, const ScriptedRequest::Result &result)
{
    const QString reason = reasonText(result);
    if (!reason.isEmpty())
        return reason;
    const QString answer = answerOf(result.steps.value(0));
    return answer.isEmpty() ? QStringLiteral("done") : answerText(command, answer);
}

// What the log says, once a minute at most, of each kind of ignored command.
const char *ignoredPlural(int kind)
{
    static const char *const plurals[]
        = {"retained commands", "commands of more than 64 bytes",
           "commands that are not command names", "commands that came while too many waited"};
    return plurals[kind];
}

// "fan" -> "ok", "lamp" -> "warning" ... of the six digits of PJLink's error status.
QJsonObject errorsJson(const QByteArray &status)
{
    QJsonObject object;
    for (int field = 0; field < pjlink::kErrorFields && field < status.size(); ++field)
        object.insert(QLatin1String(pjlink::errorFieldName(field)),
                      QLatin1String(pjlink::errorLevelName(status.at(field))));
    return object;
}

// The input command that chooses the input shown, "other" where none does.
QString inputName(const ProjectorFacts &facts)
{
    return facts.source ? QLatin1String(commands::command(*facts.source).name)
                        : QLatin1String(mqtttopics::kOtherInput);
}

// The model as the projector said it, fit for a label: printable, and not too long.
QString modelText(const QString &answer)
{
    QString text;
    for (const QChar c : answer)
        if (c.isPrint() && text.size() < kMaxModelLength)
            text.append(c);
    return text.trimmed();
}
} // namespace

ProjectorService::ProjectorService(ProjectorSession *session, MqttClient *client,
                                   const Settings &settings, QObject *parent)
    : QObject(parent)
    , session(session)
    , client(client)
    , settings(settings)
{
    claimTimer.setSingleShot(true);
    claimTimer.setInterval(kClaimWait);
    connect(&claimTimer, &QTimer::timeout, this, &ProjectorService::takeId);
    stateTimer.setSingleShot(true);
    stateTimer.setInterval(0);
    connect(&stateTimer, &QTimer::timeout, this, &ProjectorService::publishStateNow);
    lampHoursTimer.setInterval(kLampHoursInterval);
    connect(&lampHoursTimer, &QTimer::timeout, this,
            [this] { askOwnQuestion(QLatin1String(kLampTime)); });
    for (int kind = 0; kind < kIgnoredKinds; ++kind) {
        quietTimers[kind].setSingleShot(true);
        connect(&quietTimers[kind], &QTimer::timeout, this,
                [this, kind] { sayQuieted(Ignored(kind)); });
    }
    // The whole payload: the broker sends no packet above MqttClient::kMaxPacket, and the
    // result tells a refused payload's size.
    client->setPayloadLimit(MqttClient::kMaxPacket);
}

ProjectorService::~ProjectorService()
{
    delete running;
}

void ProjectorService::serve()
{
    connect(session, &ProjectorSession::openFinished, this, &ProjectorService::portOpenDone);
    connect(session, &ProjectorSession::contactGained, this, [this] { setContact(true); });
    connect(session, &ProjectorSession::contactLost, this, [this] { setContact(false); });
    connect(session, &ProjectorSession::lampReported, this, &ProjectorService::lampSeen);
    connect(session, &ProjectorSession::powerChanged, this, &ProjectorService::powerSeen);
    connect(session, &ProjectorSession::portChanged, this, &ProjectorService::publishState);
    connect(session, &ProjectorSession::factsChanged, this, &ProjectorService::factsSeen);
    connect(client, &MqttClient::connected, this, &ProjectorService::brokerConnected);
    connect(client, &MqttClient::disconnected, this, &ProjectorService::brokerLost);
    if (!settings.sharedClient) {
        connect(client, &MqttClient::messageReceived, this, &ProjectorService::brokerMessage);
        connect(client, &MqttClient::takenOver, this, &ProjectorService::brokerTakenOver);
        connect(client, &MqttClient::finished, this, &ProjectorService::finished);
    }
    // A port not there at boot (an adapter plugged in later, a bridge not up yet) is tried
    // again, and one that vanishes is looked for, by the session.
    session->keepOpen(settings.portName, RetryPolicy::flat(kReopenInterval / kTickInterval));
    if (!settings.sharedClient)
        client->connectToBroker();
    else if (client->isConnected())
        brokerConnected();
    lampHoursTimer.start();
}

void ProjectorService::leave()
{
    claimTimer.stop();
    lampHoursTimer.stop();
    // The counts not told yet are not lost with the end.
    for (int kind = 0; kind < kIgnoredKinds; ++kind)
        sayQuieted(Ignored(kind));
    session->stopWriting();
    if (settings.sharedClient) {
        publishRetained(mqtttopics::kAvailability, QByteArray(mqtttopics::kOffline));
        serving = false;
        // The gateway's client goes on: nothing of it reaches this member any more.
        disconnect(client, nullptr, this, nullptr);
        return;
    }
    client->leave(mqtttopics::topic(settings.id, mqtttopics::kAvailability),
                  QByteArray(mqtttopics::kOffline));
}

void ProjectorService::withdraw()
{
    // Home Assistant forgets a device whose configurations are emptied.
    if (serving && settings.discovery) {
        client->publish(mqtttopics::discoveryTopic(settings.discoveryPrefix, settings.id),
                        QByteArray(), true);
        lastDiscovery.clear();
    }
    leave();
}

void ProjectorService::receive(const QString &topic, const QByteArray &payload, bool retained)
{
    brokerMessage(topic, payload, retained);
}

void ProjectorService::takeGroupCommand(const QByteArray &payload, bool retained)
{
    if (serving)
        takeCommand(payload, retained);
}

QStringList ProjectorService::topics() const
{
    return {mqtttopics::topic(settings.id, mqtttopics::kCommand),
            mqtttopics::topic(settings.id, mqtttopics::kInstance)};
}

void ProjectorService::portOpenDone(bool opened, const QString &reason)
{
    if (opened) {
        openFailure.clear();
        emit logLine(QStringLiteral("%1: opened").arg(settings.portName));
    } else {
        // The session tries again; the log says so once for each new reason.
        if (reason != openFailure)
            emit logLine(QStringLiteral("%1 (tried again every %2 s)")
                             .arg(reason)
                             .arg(kReopenInterval / kMillisPerSecond));
        openFailure = reason;
    }
    publishState();
}

void ProjectorService::brokerConnected()
{
    // A gateway says once for all its projectors that it is connected.
    if (!settings.sharedClient)
        emit logLine(QStringLiteral("Connected to the broker as %1").arg(settings.id));
    lastBrokerProblem.clear();
    // Each run has a client id of its own, so that a second service of the same id does
    // not throw the first off the broker (and the first it, for ever): the newcomer says
    // hello and gives way when a service that serves the id already answers.
    serving = false;
    client->subscribe(mqtttopics::topic(settings.id, mqtttopics::kInstance));
    client->publish(mqtttopics::topic(settings.id, mqtttopics::kInstance),
                    QByteArray("hello ") + settings.instance, false);
    claimTimer.start();
}

void ProjectorService::takeId()
{
    if (!client->isConnected() || status != 0)
        return;
    serving = true;
    // A retained command keeps its flag also when it comes live, so that it is never run.
    client->subscribe(mqtttopics::topic(settings.id, mqtttopics::kCommand), true);
    // A gateway subscribes to Home Assistant's status once for all its projectors.
    if (settings.discovery && !settings.sharedClient)
        client->subscribe(mqtttopics::discoveryStatusTopic(settings.discoveryPrefix));
    publishRetained(mqtttopics::kAvailability, QByteArray(mqtttopics::kOnline));
    clearFormerDiscovery();
    publishDiscovery(true);
    // Everything known again, as the broker may have lost it.
    publishRetained(mqtttopics::kPower, ProjectorSession::powerName(session->power()).toLatin1());
    if (contact)
        publishRetained(mqtttopics::kContact, *contact ? mqtttopics::kOn : mqtttopics::kOff);
    leaves.clear();
    publishFacts();
    lastState.clear();
    publishState();
    askOwnQuestion(QLatin1String(kLampTime));
}

void ProjectorService::instanceMessage(const QByteArray &payload)
{
    const QList<QByteArray> words = payload.split(' ');
    if (words.size() != 2)
        return;
    const QByteArray &word = words.at(0);
    const QByteArray &mark = words.at(1);
    if (word == "hello" && mark != settings.instance) {
        if (serving)
            client->publish(mqtttopics::topic(settings.id, mqtttopics::kInstance),
                            QByteArray("taken ") + mark, false);
        // Two that came at once: the smaller mark keeps the id.
        else if (mark < settings.instance)
            giveWay();
    } else if (word == "taken" && mark == settings.instance && !serving) {
        giveWay();
    }
}

void ProjectorService::giveWay()
{
    if (status != 0)
        return;
    status = kIdTakenStatus;
    claimTimer.stop();
    lampHoursTimer.stop();
    session->stopWriting();
    emit logLine(QStringLiteral("Another service serves %1 on the broker: this one ends (each "
                                "projector needs an --id of its own)")
                     .arg(settings.id));
    // Without "offline": the id's availability is the other service's.
    if (settings.sharedClient)
        QMetaObject::invokeMethod(this, &ProjectorService::finished, Qt::QueuedConnection);
    else
        client->leave(QString(), QByteArray());
}

void ProjectorService::brokerLost(const QString &reason, int retryMs)
{
    serving = false;
    // A gateway tells of its broker once, not once for each projector.
    if (settings.sharedClient || reason == lastBrokerProblem)
        return;
    lastBrokerProblem = reason;
    emit logLine(QStringLiteral("Broker: %1 (trying again, next in %2 s)")
                     .arg(reason)
                     .arg(retryMs / kMillisPerSecond));
}

void ProjectorService::brokerTakenOver()
{
    // Two services of one id would take it from each other for ever: the one that was
    // there first gives way, and says so.
    status = kIdTakenStatus;
    lampHoursTimer.stop();
    session->stopWriting();
    emit logLine(QStringLiteral("Another service connected to the broker as %1: this one ends "
                                "(each projector needs an --id of its own)")
                     .arg(settings.id));
}

void ProjectorService::logIgnored(Ignored kind, const QString &line)
{
    Quiet &entry = quiet[int(kind)];
    if (entry.since.isValid() && !entry.since.hasExpired(kQuietInterval)) {
        ++entry.more;
        QTimer &timer = quietTimers[int(kind)];
        if (!timer.isActive())
            timer.start(int(std::max<qint64>(0, kQuietInterval - entry.since.elapsed())));
        return;
    }
    emit logLine(line);
    entry.since.start();
}

void ProjectorService::sayQuieted(Ignored kind)
{
    Quiet &entry = quiet[int(kind)];
    quietTimers[int(kind)].stop();
    if (entry.more == 0)
        return;
    emit logLine(QStringLiteral("Ignored %1 more %2 in the last minute")
                     .arg(entry.more)
                     .arg(QLatin1String(ignoredPlural(int(kind)))));
    // This line is the minute's line of its kind.
    entry.more = 0;
    entry.since.start();
}

void ProjectorService::publishResult(const QByteArray &given, const QString &word,
                                     const QString &reason, const QString &answer)
{
    if (!serving)
        return;
    // The command as given only where it is a harmless word; anything else by its size.
    QJsonObject object;
    if (isNameText(given) && given.size() <= kMaxPayload)
        object.insert(QStringLiteral("command"), QString::fromLatin1(given));
    else
        object.insert(QStringLiteral("size"), given.size());
    object.insert(QStringLiteral("status"), word);
    if (!reason.isEmpty())
        object.insert(QStringLiteral("reason"), reason);
    if (!answer.isEmpty())
        object.insert(QStringLiteral("answer"), answer);
    client->publish(mqtttopics::topic(settings.id, mqtttopics::kResult),
                    QJsonDocument(object).toJson(QJsonDocument::Compact), false);
}

void ProjectorService::brokerMessage(const QString &topic, const QByteArray &payload, bool retained)
{
    if (topic == mqtttopics::topic(settings.id, mqtttopics::kCommand)) {
        takeCommand(payload, retained);
        return;
    }
    if (topic == mqtttopics::topic(settings.id, mqtttopics::kInstance)) {
        if (!retained)
            instanceMessage(payload);
        return;
    }
    // Home Assistant has started again and forgotten what it was told.
    if (settings.discovery && !retained && payload == mqtttopics::kOnline
        && topic == mqtttopics::discoveryStatusTopic(settings.discoveryPrefix))
        publishDiscovery(true);
}

void ProjectorService::takeCommand(const QByteArray &payload, bool retained)
{
    // A retained command would run again at every start of the service.
    if (retained) {
        const QString reason = QStringLiteral("retained commands are never run");
        logIgnored(Ignored::Retained,
                   QStringLiteral("Ignored a retained command (%1): %2")
                       .arg(payload.size() > kMaxPayload
                                ? QStringLiteral("%1 bytes").arg(payload.size())
                                : refusedText(payload),
                            reason));
        publishResult(payload, QStringLiteral("ignored"), reason);
        return;
    }
    if (payload.size() > kMaxPayload) {
        logIgnored(Ignored::TooLong,
                   QStringLiteral("Ignored a command of more than %1 bytes").arg(kMaxPayload));
        publishResult(payload, QStringLiteral("unknown-command"),
                      QStringLiteral("longer than %1 bytes").arg(kMaxPayload));
        return;
    }
    const QString name = QString::fromLatin1(payload);
    if (!isNameText(payload) || !ProjectorRequest::isName(name)) {
        logIgnored(Ignored::NotAName,
                   QStringLiteral("Ignored a command that is not a command name (%1)")
                       .arg(refusedText(payload)));
        publishResult(payload, QStringLiteral("unknown-command"),
                      QStringLiteral("not a command name of lumivox --list"));
        return;
    }
    const auto fromBroker = [](const Waiting &entry) {
        return entry.fromBroker;
    };
    if (std::count_if(waiting.cbegin(), waiting.cend(), fromBroker) >= kMaxWaitingCommands) {
        logIgnored(Ignored::Dropped,
                   QStringLiteral("Too many commands at once: %1 wait already, more "
                                  "are dropped")
                       .arg(kMaxWaitingCommands));
        publishResult(payload, QStringLiteral("dropped"),
                      QStringLiteral("too many commands at once"));
        return;
    }
    waiting.append({name, true});
    runNextCommand();
}

void ProjectorService::askOwnQuestion(const QString &name)
{
    // The service's own questions wait once at most, whatever else waits.
    const bool asked = std::any_of(waiting.cbegin(), waiting.cend(), [&](const Waiting &entry) {
        return !entry.fromBroker && entry.name == name;
    });
    if (!asked)
        waiting.append({name, false});
    runNextCommand();
}

void ProjectorService::runNextCommand()
{
    if (running || waiting.isEmpty())
        return;
    runningCommand = waiting.takeFirst();
    running = new ScriptedRequest(ScriptedRequest::plan({runningCommand.name}, false), this);
    connect(running, &ScriptedRequest::finished, this, &ProjectorService::commandDone);
    session->submit(running);
}

void ProjectorService::commandDone()
{
    ScriptedRequest *request = running;
    if (!request)
        return;
    running = nullptr;
    const ScriptedRequest::Result &result = request->result();
    const ScriptedRequest::StepResult step = result.steps.value(0);
    if (step.outcome == ScriptedRequest::StepOutcome::Answered) {
        if (runningCommand.name == QLatin1String(kLampTime)) {
            bool number = false;
            const qint64 hours = step.answer.trimmed().toLongLong(&number);
            // A projector of more lamps tells each one's hours as a fact.
            if (number && hours >= 0 && hours <= kMaxLampHours && lampHours.size() <= 1)
                setLampHours({hours});
        } else if (runningCommand.name == QLatin1String(kModel)) {
            const QString said = modelText(step.answer);
            if (!said.isEmpty() && said != model) {
                model = said;
                publishDiscovery();
                publishState();
            }
        }
    }
    if (runningCommand.fromBroker) {
        emit logLine(QStringLiteral("Command %1 from the broker: %2")
                         .arg(runningCommand.name, outcomeText(runningCommand.name, result)));
        publishResult(runningCommand.name.toLatin1(), statusWord(result.status), reasonText(result),
                      answerOf(step));
    }
    request->deleteLater();
    QMetaObject::invokeMethod(this, &ProjectorService::runNextCommand, Qt::QueuedConnection);
}

void ProjectorService::setContact(bool on)
{
    if (contact == on)
        return;
    contact = on;
    publishRetained(mqtttopics::kContact, on ? mqtttopics::kOn : mqtttopics::kOff);
    publishState();
    if (on && lampHours.isEmpty())
        askOwnQuestion(QLatin1String(kLampTime));
    if (on && model.isEmpty())
        askOwnQuestion(QLatin1String(kModel));
}

void ProjectorService::lampSeen(bool on)
{
    lampOn = on;
    publishState();
}

void ProjectorService::powerSeen(ProjectorSession::Power power)
{
    publishRetained(mqtttopics::kPower, ProjectorSession::powerName(power).toLatin1());
    publishState();
}

void ProjectorService::factsSeen()
{
    // What a new connection has not told yet stays as it was last told.
    const ProjectorFacts told = session->facts();
    const auto take = [](QString &kept, const QString &said) {
        const QString text = modelText(said);
        if (!text.isEmpty())
            kept = text;
    };
    take(facts.maker, told.maker);
    take(facts.model, told.model);
    take(facts.serialNumber, told.serialNumber);
    take(facts.firmware, told.firmware);
    const auto plausible = [](qint64 hours) {
        return hours >= 0 && hours <= kMaxLampHours;
    };
    if (told.filterHours && plausible(*told.filterHours))
        facts.filterHours = told.filterHours;
    if (told.errorStatus.size() == pjlink::kErrorFields)
        facts.errorStatus = told.errorStatus;
    if (!told.input.isEmpty()) {
        facts.input = told.input;
        facts.source = told.source;
    }
    if (!told.sources.isEmpty())
        facts.sources = told.sources;
    if (told.muted)
        facts.muted = told.muted;
    if (told.frozen)
        facts.frozen = told.frozen;
    if (!told.lampHours.isEmpty()
        && std::all_of(told.lampHours.cbegin(), told.lampHours.cend(), plausible))
        setLampHours(told.lampHours);
    publishFacts();
    publishState();
    publishDiscovery();
}

void ProjectorService::setLampHours(const QList<qint64> &hours)
{
    if (hours == lampHours)
        return;
    lampHours = hours;
    publishFacts();
    publishState();
    // A lamp more is a sensor more.
    publishDiscovery();
}

void ProjectorService::publishFacts()
{
    for (int lamp = 0; lamp < lampHours.size(); ++lamp)
        publishLeaf(mqtttopics::lampLeaf(lamp), QByteArray::number(lampHours.at(lamp)));
    if (facts.filterHours)
        publishLeaf(QLatin1String(mqtttopics::kFilterHours),
                    QByteArray::number(*facts.filterHours));
    if (!facts.errorStatus.isEmpty())
        publishLeaf(QLatin1String(mqtttopics::kErrors),
                    QJsonDocument(errorsJson(facts.errorStatus)).toJson(QJsonDocument::Compact));
    if (!facts.input.isEmpty())
        publishLeaf(QLatin1String(mqtttopics::kInput), inputName(facts).toLatin1());
    if (facts.muted)
        publishLeaf(QLatin1String(mqtttopics::kMute),
                    *facts.muted ? mqtttopics::kOn : mqtttopics::kOff);
    if (facts.frozen)
        publishLeaf(QLatin1String(mqtttopics::kFreeze),
                    *facts.frozen ? mqtttopics::kOn : mqtttopics::kOff);
}

void ProjectorService::publishLeaf(const QString &leaf, const QByteArray &payload)
{
    if (!serving)
        return;
    const auto known = leaves.constFind(leaf);
    if (known != leaves.cend() && *known == payload)
        return;
    if (client->publish(mqtttopics::topic(settings.id, leaf), payload, true))
        leaves.insert(leaf, payload);
}

void ProjectorService::clearFormerDiscovery()
{
    // Lumivox 1.2 gave each entity a configuration of its own; left there, Home Assistant
    // would show each entity twice.
    if (!settings.discovery || !serving)
        return;
    for (const QString &former :
         mqtttopics::formerDiscoveryTopics(settings.discoveryPrefix, settings.id))
        client->publish(former, QByteArray(), true);
}

mqtttopics::Device ProjectorService::discoveryDevice() const
{
    mqtttopics::Device device;
    device.id = settings.id;
    device.version = settings.version;
    device.maker = facts.maker;
    // PJLink's model alone; else the answer to the model question.
    device.model = facts.model.isEmpty() ? model : facts.model;
    device.serialNumber = facts.serialNumber;
    device.firmware = facts.firmware;
    device.lamps = std::max(1, int(lampHours.size()));
    device.filterHours = facts.filterHours.has_value();
    device.errors = !facts.errorStatus.isEmpty();
    device.inputTold = !facts.input.isEmpty();
    for (const commands::Command source : facts.sources)
        device.sources.append(QLatin1String(commands::command(source).name));
    device.mute = facts.muted.has_value();
    device.freeze = facts.frozen.has_value();
    device.gatewayAvailability = settings.gatewayAvailability;
    return device;
}

void ProjectorService::publishDiscovery(bool again)
{
    if (!settings.discovery || !serving)
        return;
    // Told again only where something has changed, or Home Assistant has forgotten it.
    const mqtttopics::Message message
        = mqtttopics::discoveryMessage(settings.discoveryPrefix, discoveryDevice());
    if (!again && message.payload == lastDiscovery)
        return;
    if (client->publish(message.topic, message.payload, true))
        lastDiscovery = message.payload;
}

void ProjectorService::publishRetained(const char *leaf, const QByteArray &payload)
{
    // Nothing is said for the id before it is this service's.
    if (!serving)
        return;
    client->publish(mqtttopics::topic(settings.id, leaf), payload, true);
}

void ProjectorService::publishState()
{
    // A lamp reply changes the lamp and the power state one after the other.
    stateTimer.start();
}

void ProjectorService::publishStateNow()
{
    const QByteArray state = stateJson();
    if (serving && state != lastState
        && client->publish(mqtttopics::topic(settings.id, mqtttopics::kState), state, true))
        lastState = state;
}

QByteArray ProjectorService::stateJson() const
{
    // The fields of --status --json (no commands ran), and what the service knows besides.
    const PortDevice *port = session->port();
    const bool heard = contact.value_or(false);
    QJsonObject object {
        {QStringLiteral("commands"), QJsonArray()},
        {QStringLiteral("contact"), heard},
        {QStringLiteral("lamp"),
         heard && lampOn ? QLatin1String(*lampOn ? "on" : "off") : QLatin1String("unknown")},
        {QStringLiteral("status"),
         int(!port        ? exitstatus::PortFailed
                 : !heard ? exitstatus::NoAnswer
                          : exitstatus::Done)},
        {QStringLiteral("port"), port ? port->location() : settings.portName},
        {QStringLiteral("via"), QStringLiteral("service")},
        {QStringLiteral("id"), settings.id},
        {QStringLiteral("power"), ProjectorSession::powerName(session->power())},
    };
    if (!port && !openFailure.isEmpty())
        object.insert(QStringLiteral("error"), openFailure);
    for (int lamp = 0; lamp < lampHours.size(); ++lamp)
        object.insert(mqtttopics::lampLeaf(lamp), lampHours.at(lamp));
    if (!model.isEmpty())
        object.insert(QStringLiteral("model"), model);
    const std::pair<const char *, QString> told[] = {{"maker", facts.maker},
                                                     {"serial_number", facts.serialNumber},
                                                     {"firmware", facts.firmware}};
    for (const auto &[key, value] : told)
        if (!value.isEmpty())
            object.insert(QLatin1String(key), value);
    if (facts.filterHours)
        object.insert(QLatin1String(mqtttopics::kFilterHours), *facts.filterHours);
    if (!facts.errorStatus.isEmpty())
        object.insert(QLatin1String(mqtttopics::kErrors), errorsJson(facts.errorStatus));
    if (!facts.input.isEmpty())
        object.insert(QLatin1String(mqtttopics::kInput), inputName(facts));
    if (facts.muted)
        object.insert(QLatin1String(mqtttopics::kMute), *facts.muted);
    if (facts.frozen)
        object.insert(QLatin1String(mqtttopics::kFreeze), *facts.frozen);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
