#include "projectorservice.h"

#include "mqttclient.h"
#include "mqtttopics.h"
#include "portdevice.h"
#include "protocol.h"
#include "resultjson.h"
#include "scriptedrequest.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {
constexpr char kLampTime[] = "lamp-time";
constexpr char kModel[] = "model";
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

QString outcomeText(const ScriptedRequest::Result &result)
{
    using Outcome = ScriptedRequest::StepOutcome;
    const ScriptedRequest::StepResult step = result.steps.value(0);
    if (result.steps.isEmpty() || step.outcome == Outcome::NotSent)
        return result.error.isEmpty() ? QStringLiteral("not sent") : result.error;
    switch (step.outcome) {
    case Outcome::Answered:
        return step.answer.isEmpty() || step.answer.startsWith(QLatin1Char('*'))
            ? QStringLiteral("done")
            : step.answer;
    case Outcome::NotAvailable:
        return QStringLiteral("Command not available at the moment.");
    case Outcome::Silent:
        return QStringLiteral("no answer from the projector");
    case Outcome::Failed:
        return step.reason;
    case Outcome::NotSent:
        break;
    }
    return result.error;
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
    reopenTimer.setSingleShot(true);
    reopenTimer.setInterval(kReopenInterval);
    connect(&reopenTimer, &QTimer::timeout, this, &ProjectorService::openPort);
    stateTimer.setSingleShot(true);
    stateTimer.setInterval(0);
    connect(&stateTimer, &QTimer::timeout, this, &ProjectorService::publishStateNow);
    lampHoursTimer.setInterval(kLampHoursInterval);
    connect(&lampHoursTimer, &QTimer::timeout, this, [this] { ask(QLatin1String(kLampTime)); });
    client->setPayloadLimit(kMaxPayload);
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
    connect(client, &MqttClient::connected, this, &ProjectorService::brokerConnected);
    connect(client, &MqttClient::disconnected, this, &ProjectorService::brokerLost);
    connect(client, &MqttClient::messageReceived, this, &ProjectorService::brokerMessage);
    connect(client, &MqttClient::finished, this, &ProjectorService::finished);
    openPort();
    client->connectToBroker();
    lampHoursTimer.start();
}

void ProjectorService::leave()
{
    reopenTimer.stop();
    lampHoursTimer.stop();
    session->stopWriting();
    client->leave(mqtttopics::topic(settings.id, mqtttopics::kAvailability),
                  QByteArray(mqtttopics::kOffline));
}

void ProjectorService::openPort()
{
    if (!portWanted || session->port())
        return;
    QString reason;
    switch (session->openPort(settings.portName, &reason)) {
    case ProjectorSession::OpenResult::Open:
        portOpenDone(true, QString());
        break;
    case ProjectorSession::OpenResult::Failed:
        portOpenDone(false, reason);
        break;
    case ProjectorSession::OpenResult::Pending:
        break;
    }
}

void ProjectorService::portOpenDone(bool opened, const QString &reason)
{
    if (opened) {
        // From now on the session looks for the port itself should it vanish.
        portWanted = false;
        openFailure.clear();
        emit logLine(QStringLiteral("%1: opened").arg(settings.portName));
    } else {
        // A port not there at boot (an adapter plugged in later, a bridge not up yet) is
        // tried again; the log says so once for each new reason.
        if (reason != openFailure)
            emit logLine(QStringLiteral("%1 (tried again every %2 s)")
                             .arg(reason)
                             .arg(kReopenInterval / kMillisPerSecond));
        openFailure = reason;
        reopenTimer.start();
    }
    publishState();
}

void ProjectorService::brokerConnected()
{
    emit logLine(QStringLiteral("Connected to the broker as %1").arg(settings.id));
    lastBrokerProblem.clear();
    client->subscribe(mqtttopics::topic(settings.id, mqtttopics::kCommand));
    if (settings.discovery)
        client->subscribe(mqtttopics::discoveryStatusTopic(settings.discoveryPrefix));
    publishRetained(mqtttopics::kAvailability, QByteArray(mqtttopics::kOnline));
    publishDiscovery();
    // Everything known again, as the broker may have lost it.
    publishRetained(mqtttopics::kPower, ProjectorSession::powerName(session->power()).toLatin1());
    if (contact)
        publishRetained(mqtttopics::kContact, *contact ? "ON" : "OFF");
    if (lampHours)
        publishRetained(mqtttopics::kLampHours, QByteArray::number(*lampHours));
    lastState.clear();
    publishState();
    ask(QLatin1String(kLampTime));
}

void ProjectorService::brokerLost(const QString &reason, int retryMs)
{
    if (reason == lastBrokerProblem)
        return;
    lastBrokerProblem = reason;
    emit logLine(QStringLiteral("Broker: %1 (trying again, next in %2 s)")
                     .arg(reason)
                     .arg(retryMs / kMillisPerSecond));
}

void ProjectorService::brokerMessage(const QString &topic, const QByteArray &payload, bool retained)
{
    if (topic == mqtttopics::topic(settings.id, mqtttopics::kCommand)) {
        takeCommand(payload, retained);
        return;
    }
    // Home Assistant has started again and forgotten what it was told.
    if (settings.discovery && !retained && payload == mqtttopics::kOnline
        && topic == mqtttopics::discoveryStatusTopic(settings.discoveryPrefix))
        publishDiscovery();
}

void ProjectorService::takeCommand(const QByteArray &payload, bool retained)
{
    // A retained command would run again at every start of the service.
    if (retained) {
        emit logLine(QStringLiteral("Ignored a retained command (%1): retained commands are "
                                    "never run")
                         .arg(refusedText(payload)));
        return;
    }
    if (payload.size() > kMaxPayload) {
        emit logLine(QStringLiteral("Ignored a command of more than %1 bytes").arg(kMaxPayload));
        return;
    }
    const QString name = QString::fromLatin1(payload);
    if (!isNameText(payload) || !protocol::commandNamed(name)) {
        emit logLine(QStringLiteral("Ignored a command that is not a command name (%1)")
                         .arg(refusedText(payload)));
        return;
    }
    const auto fromBroker = [](const Waiting &entry) {
        return entry.fromBroker;
    };
    if (std::count_if(waiting.cbegin(), waiting.cend(), fromBroker) >= kMaxWaitingCommands) {
        if (!floodSaid)
            emit logLine(QStringLiteral("Too many commands at once: %1 wait already, more are "
                                        "dropped")
                             .arg(kMaxWaitingCommands));
        floodSaid = true;
        return;
    }
    waiting.append({name, true});
    runNextCommand();
}

void ProjectorService::ask(const QString &name)
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
    if (waiting.isEmpty())
        floodSaid = false;
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
            if (number && hours >= 0 && hours <= kMaxLampHours && lampHours != hours) {
                lampHours = hours;
                publishRetained(mqtttopics::kLampHours, QByteArray::number(hours));
                publishState();
            }
        } else if (runningCommand.name == QLatin1String(kModel)) {
            const QString said = modelText(step.answer);
            if (!said.isEmpty() && said != model) {
                model = said;
                publishDiscovery();
                publishState();
            }
        }
    }
    if (runningCommand.fromBroker)
        emit logLine(QStringLiteral("Command %1 from the broker: %2")
                         .arg(runningCommand.name, outcomeText(result)));
    request->deleteLater();
    QMetaObject::invokeMethod(this, &ProjectorService::runNextCommand, Qt::QueuedConnection);
}

void ProjectorService::setContact(bool on)
{
    if (contact == on)
        return;
    contact = on;
    publishRetained(mqtttopics::kContact, on ? "ON" : "OFF");
    publishState();
    if (on && !lampHours)
        ask(QLatin1String(kLampTime));
    if (on && model.isEmpty())
        ask(QLatin1String(kModel));
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

void ProjectorService::publishDiscovery()
{
    if (!settings.discovery)
        return;
    const mqtttopics::Device device {settings.id, model, settings.version};
    for (const mqtttopics::Message &message :
         mqtttopics::discoveryMessages(settings.discoveryPrefix, device))
        client->publish(message.topic, message.payload, true);
}

void ProjectorService::publishRetained(const char *leaf, const QByteArray &payload)
{
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
    if (state != lastState
        && client->publish(mqtttopics::topic(settings.id, mqtttopics::kState), state, true))
        lastState = state;
}

QByteArray ProjectorService::stateJson() const
{
    // The fields of --status --json, and what the service knows besides.
    ScriptedRequest::Result result;
    const PortDevice *port = session->port();
    result.contact = contact.value_or(false);
    if (result.contact && lampOn)
        result.lamp = *lampOn ? QStringLiteral("on") : QStringLiteral("off");
    if (!port) {
        result.status = ScriptedRequest::Status::PortFailed;
        result.error = openFailure;
    } else if (!result.contact) {
        result.status = ScriptedRequest::Status::NoAnswer;
    }
    QJsonObject object = resultjson::toJson(result);
    object.insert(QStringLiteral("port"), port ? port->location() : settings.portName);
    object.insert(QStringLiteral("via"), QStringLiteral("service"));
    object.insert(QStringLiteral("id"), settings.id);
    object.insert(QStringLiteral("power"), ProjectorSession::powerName(session->power()));
    if (lampHours)
        object.insert(QStringLiteral("lamp_hours"), *lampHours);
    if (!model.isEmpty())
        object.insert(QStringLiteral("model"), model);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
