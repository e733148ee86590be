#include "session/projectorsession.h"
#include "link/characters.h"
#include "link/commands.h"
#include "link/serialprotocol.h"

#include "link/portdevice.h"
#include "link/portname.h"
#include "link/portopener.h"
#include "link/replytexts.h"
#include "session/scriptedrequest.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace {
// The session's texts are plain lines; whoever shows them ends them as it likes. The
// catalogues made for the window know them under the window's context and by their older
// keys, which end in the carriage return its log wanted: that key first, then the plain one.
QString translated(const char *text)
{
    const QByteArray oldKey = QByteArray(text) + '\r';
    const QString found = QCoreApplication::translate("Lumivox", oldKey.constData());
    if (found != QString::fromUtf8(oldKey))
        return found.endsWith(QLatin1Char('\r')) ? found.chopped(1) : found;
    return QCoreApplication::translate("Lumivox", text);
}

const char kNotPossible[]
    = QT_TRANSLATE_NOOP("Lumivox", "Communication with projector not possible.");
const char kSendFailed[] = "Failed to send data to serial port";
const char kRejected[] = QT_TRANSLATE_NOOP("Lumivox", "%1: the projector rejected the password");
// A script is told at once: nobody is there to type the password for it.
const char kPasswordWanted[] = "%1: the projector asks for a password: give it in "
                               "LUMIVOX_PJLINK_PASSWORD or in a file named by --password-file";
// A lamp that is not on this long after a power-on did not come on: the projector is off.
constexpr qint64 kWarmUpLimit = 90000; // ms

using Query = PjlinkProjector::Query;

ProjectorSession::Power powerOf(pjlink::Power power)
{
    switch (power) {
    case pjlink::Power::Standby:
        return ProjectorSession::Power::Off;
    case pjlink::Power::On:
        return ProjectorSession::Power::On;
    case pjlink::Power::Cooling:
        return ProjectorSession::Power::Cooling;
    case pjlink::Power::Warming:
        return ProjectorSession::Power::Warming;
    }
    return ProjectorSession::Power::Unknown;
}

// What a script's step asks of a PJLink projector.
PjlinkProjector::Action actionOf(const ScriptedRequest::Step &step)
{
    if (step.command)
        return *step.command;
    return step.awaited == commands::Answer::ErrorStatus ? Query::ErrorStatus : Query::PowerState;
}
} // namespace

QString ProjectorSession::powerName(Power power)
{
    switch (power) {
    case Power::Off:
        return QStringLiteral("off");
    case Power::On:
        return QStringLiteral("on");
    case Power::Warming:
        return QStringLiteral("warming");
    case Power::Cooling:
        return QStringLiteral("cooling");
    case Power::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

void ProjectorSession::setPower(Power power)
{
    if (power == powerState)
        return;
    powerState = power;
    emit powerChanged(power);
}

ProjectorSession::ProjectorSession(QObject *parent)
    : QObject(parent)
    , watch([this](const QString &portName, QString *reason) { return reopen(portName, reason); })
{ }

ProjectorSession::~ProjectorSession()
{
    stopped = true;
    closePort();
}

ProjectorSession::OpenResult ProjectorSession::openPort(const QString &portName, QString *reason)
{
    name = portName;
    auto opener = std::make_unique<PortOpener>(portName);
    switch (opener->state()) {
    case PortOpener::State::Open:
        setPort(opener->takePort(), portName);
        return OpenResult::Open;
    case PortOpener::State::Failed:
        if (reason)
            *reason = opener->failure();
        return OpenResult::Failed;
    case PortOpener::State::Pending:
        break;
    }
    opening = std::move(opener);
    return OpenResult::Pending;
}

void ProjectorSession::keepOpen(const QString &portName, const RetryPolicy &retry)
{
    name = portName;
    watch.want(
        portName, [this](const QString &wanted) { return lookFor(wanted); }, retry);
    // The first try is now: its outcome is known at once unless a connection is being made.
    keepPortOpen();
}

void ProjectorSession::closePort()
{
    watch.stop(); // whoever closes the port has chosen what comes next
    opening.reset();
    look.reset();
    dropPort();
}

void ProjectorSession::dropPort()
{
    goneClosePending = false;
    if (!device)
        return;
    device.reset();
    ++generation;
    emit portChanged();
    if (pjlink) {
        pjlink.reset();
        emit availabilityChanged();
    }
}

void ProjectorSession::setPort(std::unique_ptr<PortDevice> port, const QString &portName)
{
    device = std::move(port);
    ++generation;
    // A port is open again: nothing left to look for, but what to look for should it vanish.
    PortWatch::Probe probe = device->sameDeviceProbe();
    if (!probe)
        probe = [this](const QString &bridge) {
            return lookFor(bridge);
        };
    watch.opened(portName, std::move(probe));
    emit portChanged();
    if (portname::isPjlinkName(portName))
        startPjlink();
}

bool ProjectorSession::holds(const QString &other) const
{
    return device && !device->isGone() && device->key() == PortOpener::keyOf(other);
}

quint32 ProjectorSession::readBytes(char *buffer, quint32 count)
{
    if (!device || !buffer || count == 0)
        return 0;
    const quint32 taken = device->read(buffer, count);
    if (device->isGone())
        scheduleDeviceGone();
    return taken;
}

bool ProjectorSession::send(commands::Command id)
{
    if (pjlink)
        return sendPjlink(id, nullptr, nullptr);
    announcePowerCommand(id);
    return sendFrame(QByteArray(commands::command(id).text));
}

void ProjectorSession::announcePowerCommand(commands::Command id)
{
    // Neutral until the projector reports its lamp again.
    if (id == commands::Command::PowerOn || id == commands::Command::PowerOff) {
        emit powerChanging();
        powerCommandSent.start();
        setPower(id == commands::Command::PowerOn ? Power::Warming : Power::Cooling);
    }
}

bool ProjectorSession::sendFrame(const QByteArray &frameText)
{
    if (stopped)
        return false;
    if (isLineBusy()) {
        // One frame at a time on the line: this one follows the frame being written.
        if (device && waitingFrames.size() < kMaxWaitingFrames)
            waitingFrames.append(frameText);
        return device != nullptr;
    }
    const bool all = writeFrame(frameText) == Written::All;
    sendWaitingFrames();
    return all;
}

void ProjectorSession::stopWriting()
{
    stopped = true;
    waitingFrames.clear();
    if (watch.isWanting()) {
        watch.stop();
        look.reset();
    }
}

ProjectorSession::Written ProjectorSession::writeFrame(const QByteArray &frameText)
{
    // A device the link has seen vanish is as good as closed: its close is on its way.
    if (!device || device->isGone() || stopped)
        return Written::NoPort;
    writing = true;
    const quint64 started = generation;
    const auto samePort = [this, started] {
        return device && generation == started && !stopped;
    };
    // A script's frame ends at its failed byte whoever holds the port: its requester is
    // told, nobody is asked, and the same bytes reach the projector on every route.
    const bool asking = askOnWriteFailure && !scriptFrame;
    bool failed = false;
    bool gone = false;
    for (const char byte : frameText) {
        const PortDevice::WriteResult result = device->writeByte(byte);
        if (result == PortDevice::WriteResult::Written)
            continue;
        failed = true;
        gone = result == PortDevice::WriteResult::Gone;
        if (gone)
            scheduleDeviceGone();
        if (!scriptFrame) {
            ++failureWaits;
            emit writeFailed();
            --failureWaits;
        }
        // A frame goes on only on the port it started on, and only while someone asks.
        if (gone || !asking || !samePort())
            break;
        device->clearError();
    }
    if (samePort() && !gone && (!failed || asking)) {
        // The carriage return's own failure is not reported.
        if (device->writeByte(serialprotocol::kCarriageReturn) == PortDevice::WriteResult::Gone)
            scheduleDeviceGone();
        else
            device->flush();
        if (device->isGone())
            scheduleDeviceGone();
    }
    writing = false;
    emit frameWritten(frameText);
    // Frames and requests held back meanwhile go now.
    if (!isLineBusy())
        QMetaObject::invokeMethod(this, &ProjectorSession::serveRequests, Qt::QueuedConnection);
    return failed ? Written::Failed : Written::All;
}

void ProjectorSession::sendWaitingFrames()
{
    while (!waitingFrames.isEmpty() && !isLineBusy())
        writeFrame(waitingFrames.takeFirst());
}

void ProjectorSession::tick()
{
    advanceOpening();

    // At most one line per tick; what follows its carriage return waits for the next.
    bool complete = false;
    char byte = 0;
    for (int taken = 0; !complete && taken < kTickReadLimit && readBytes(&byte, 1) == 1; ++taken)
        complete = replyLine.feed(byte);
    if (complete)
        lineReceived();
    watchAccess();

    pollLamp();

    ++noContactCount;
    if (noContactCount >= kNoContact) {
        noContactCount = kNoContact;
        if (!contactLostSaid) {
            contactLostSaid = true;
            emit contactLost();
        }
    }

    keepPortOpen();
    serveRequests();
}

void ProjectorSession::pollLamp()
{
    // Held back while a frame is being written or a failure is being asked about; it
    // goes out at the first tick after.
    ++pollCount;
    if (!polling || pollCount <= kPollThreshold || isLineBusy())
        return;
    pollCount = 0;
    if (pjlink) {
        pollPjlink();
        return;
    }
    sendFrame(QByteArray(serialprotocol::kLampPoll));
}

void ProjectorSession::lineReceived()
{
    if (noContactCount >= kNoContact)
        emit contactGained();
    noContactCount = 0;
    contactLostSaid = false;
    handleReply(replyLine.take());
}

void ProjectorSession::handleReply(const QString &line)
{
    if (pjlink) {
        handlePjlinkReply(line);
        return;
    }
    const serialprotocol::Reply reply = serialprotocol::classifyReply(line);
    switch (reply.kind) {
    case serialprotocol::ReplyKind::LampOff:
    case serialprotocol::ReplyKind::LampOn:
        lampOn = reply.kind == serialprotocol::ReplyKind::LampOn;
        emit lampReported(lampOn);
        // While the lamp warms up the projector reports it off.
        if (lampOn || powerState != Power::Warming || powerCommandSent.hasExpired(kWarmUpLimit))
            setPower(lampOn ? Power::On : Power::Off);
        break;
    case serialprotocol::ReplyKind::NotAvailable:
        emit message(translated(replytexts::kNotAvailable));
        break;
    case serialprotocol::ReplyKind::Resolution:
        if (answersLogged)
            emit message(serialprotocol::formatResolution(reply.resolution));
        break;
    case serialprotocol::ReplyKind::Accepted:
    case serialprotocol::ReplyKind::ShortResolution:
        break;
    case serialprotocol::ReplyKind::Other:
        if (answersLogged)
            emit message(characters::logLineText(line));
        break;
    }
    emit replyHandled(line);
    // A copy: a request may end, and its owner drop it, while it takes the line.
    const QList<QPointer<ScriptedRequest>> serving = requests;
    if (!serving.isEmpty() && serving.constFirst())
        serving.constFirst()->takeLine(line);
}

void ProjectorSession::submit(ScriptedRequest *request)
{
    requests.append(request);
    connect(request, &ScriptedRequest::stepDue, this, &ProjectorSession::serveRequests,
            Qt::QueuedConnection);
    connect(request, &ScriptedRequest::finished, this, &ProjectorSession::serveRequests,
            Qt::QueuedConnection);
    serveRequests();
}

void ProjectorSession::serveRequests()
{
    // The replies are not matched to commands: one request at a time, and its frame only
    // when the line is free.
    while (!requests.isEmpty()) {
        ScriptedRequest *request = requests.constFirst();
        if (!request || request->isFinished()) {
            requests.removeFirst();
            continue;
        }
        // While a port is being opened (also the first try of one kept open) they wait.
        if (!request->isDue() || isLineBusy() || opening || (look && watch.isWanting()))
            return;
        if (!device || device->isGone()) {
            request->abandon(QString::fromLatin1(kNotPossible));
            continue;
        }
        const ScriptedRequest::Step step = request->dueStep();
        // What some of a PJLink projector's commands become depends on its class and
        // inputs; the others go at once, so that a silent projector costs a request no
        // more than its own answer's wait.
        if (pjlink && PjlinkProjector::needsLearning(actionOf(step)) && pjlink->isLearning())
            return;
        if (pjlink || step.awaited == commands::Answer::ErrorStatus) {
            servePjlinkStep(request);
            continue;
        }
        const QPointer<ScriptedRequest> guard(request);
        scriptFrame = true;
        const bool written = step.command ? send(*step.command) : sendFrame(step.text);
        scriptFrame = false;
        if (guard)
            guard->stepSent(written, written ? QString() : QLatin1String(kSendFailed));
    }
}

void ProjectorSession::advanceOpening()
{
    if (!opening)
        return;
    switch (opening->advance()) {
    case PortOpener::State::Pending:
        return;
    case PortOpener::State::Open: {
        const std::unique_ptr<PortOpener> opened = std::move(opening);
        setPort(opened->takePort(), opened->name());
        emit openFinished(true, QString());
        break;
    }
    case PortOpener::State::Failed: {
        const std::unique_ptr<PortOpener> failed = std::move(opening);
        emit openFinished(false, failed->failure());
        break;
    }
    }
    serveRequests();
}

void ProjectorSession::scheduleDeviceGone()
{
    if (goneClosePending || !device)
        return;
    goneClosePending = true;
    // Not from inside a tick or a frame that is still using the port.
    QMetaObject::invokeMethod(this, &ProjectorSession::deviceGone, Qt::QueuedConnection);
}

void ProjectorSession::deviceGone()
{
    // Closing clears the flag, so a port closed or reopened meanwhile stays as it is.
    if (!goneClosePending)
        return;
    // Replies that arrived before the hang-up are the projector's last word, and no later
    // tick will read them: all of them are handled now.
    char byte = 0;
    while (device && device->read(&byte, 1) == 1) {
        if (replyLine.feed(byte))
            lineReceived();
    }
    dropPort();
    emit message(translated(kNotPossible));
    watch.vanished();
    serveRequests();
}

void ProjectorSession::keepPortOpen()
{
    if (device)
        return;
    QString reason;
    switch (watch.tick(&reason)) {
    case PortWatch::Event::Opened:
        emit openFinished(true, QString());
        break;
    case PortWatch::Event::NotOpened:
        emit openFinished(false, reason.isEmpty() ? lookFailure : reason);
        break;
    case PortWatch::Event::Reopened:
        emit message(translated(QT_TRANSLATE_NOOP("Lumivox", "Com-port initialized!")));
        break;
    case PortWatch::Event::Refused:
        emit message(translated(QT_TRANSLATE_NOOP("Lumivox", "Reason: %1")).arg(reason));
        break;
    case PortWatch::Event::CameBackAsOther:
        emit message(
            translated(QT_TRANSLATE_NOOP("Lumivox",
                                         "%1 is back as a different device: apply it to use it."))
                .arg(watch.name()));
        break;
    case PortWatch::Event::None:
        break;
    }
}

bool ProjectorSession::reopen(const QString &portName, QString *reason)
{
    // The watch's opening after a look that opened already (a bridge's connection, a port
    // not opened before): that one is taken.
    std::unique_ptr<PortOpener> opener = std::move(look);
    if (!opener || opener->state() != PortOpener::State::Open)
        opener = std::make_unique<PortOpener>(portName);
    if (opener->state() != PortOpener::State::Open) {
        if (reason)
            *reason = opener->failure();
        return false;
    }
    setPort(opener->takePort(), portName);
    return true;
}

PortWatch::Presence ProjectorSession::lookFor(const QString &portName)
{
    // A port is looked at by opening it; a bridge's connection is started at one look and
    // looked at again at each tick until it stands or fails, never waited for. One that
    // stands is the one reopen() takes over. A vanished bridge that is away refuses or
    // does not answer: that is its absence, not news; a port not opened yet says why.
    if (!look)
        look = std::make_unique<PortOpener>(portName);
    switch (look->advance()) {
    case PortOpener::State::Open:
        return PortWatch::Presence::Same;
    case PortOpener::State::Failed:
        lookFailure = look->failure();
        look.reset();
        return PortWatch::Presence::Absent;
    case PortOpener::State::Pending:
        break;
    }
    return PortWatch::Presence::Pending;
}

PjlinkProjector::Availability ProjectorSession::availability(commands::Command id) const
{
    return pjlink ? pjlink->availability(id) : PjlinkProjector::Availability::Available;
}

void ProjectorSession::setPassword(const QString &portName, const QString &password)
{
    const QString key = PortOpener::keyOf(portName);
    passwords.insert(key, password);
    if (pjlink && device && device->key() == key) {
        device->setPassword(password.toUtf8());
        // A request served next must see the access the password gave.
        watchAccess();
    }
}

void ProjectorSession::offerPassword(const QString &portName, const QString &password)
{
    // One the session has (the window's own) is never replaced; one the projector
    // rejected is forgotten already.
    if (!password.isEmpty() && !passwords.contains(PortOpener::keyOf(portName)))
        setPassword(portName, password);
}

void ProjectorSession::startPjlink()
{
    pjlink = std::make_unique<PjlinkProjector>();
    access = PortDevice::Access::Granted;
    powerAnswerAwaited = false;
    const auto known = passwords.constFind(device->key());
    if (known != passwords.cend())
        device->setPassword(known->toUtf8());
    // The opening asks the power state at once: the first poll follows a period later.
    pollCount = 0;
    for (const QByteArray &frame : pjlink->opened())
        sendFrame(frame);
    emit availabilityChanged();
}

bool ProjectorSession::sendPjlink(const PjlinkProjector::Action &action, QString *reason,
                                  QString *sentText)
{
    if (!device || access == PortDevice::Access::PasswordRejected)
        return false;
    const QList<QByteArray> frames = pjlink->frames(action, reason);
    if (frames.isEmpty())
        return false;
    if (const commands::Command *id = std::get_if<commands::Command>(&action)) {
        announcePowerCommand(*id);
        if (*id == commands::Command::PowerOn || *id == commands::Command::PowerOff)
            powerAnswerAwaited = true;
    }
    bool all = true;
    for (const QByteArray &frame : frames)
        all = sendFrame(frame) && all;
    if (sentText)
        *sentText = QString::fromLatin1(frames.join(QByteArrayLiteral(", ")));
    return all;
}

void ProjectorSession::pollPjlink()
{
    // Nothing is asked of a projector that waits for a password or refused it.
    if (!device || access != PortDevice::Access::Granted)
        return;
    for (const QByteArray &frame : pjlink->poll())
        sendFrame(frame);
}

void ProjectorSession::handlePjlinkReply(const QString &line)
{
    // The line's characters are its bytes (see LineAssembler).
    const PjlinkProjector::Heard heard = pjlink->hear(line.toLatin1());
    ScriptedRequest::Judgement judgement;
    for (const PjlinkProjector::Completion &done : heard.completed)
        if (done.action == PjlinkProjector::Action(commands::Command::PowerOn)
            || done.action == PjlinkProjector::Action(commands::Command::PowerOff))
            powerAnswerAwaited = false;
    // A poll answered before a power command shows what the command is changing.
    const bool stale
        = powerAnswerAwaited && !powerCommandSent.hasExpired(PjlinkProjector::kForgetAfter);
    if (heard.power && !stale) {
        const Power reported = powerOf(*heard.power);
        if (reported == Power::On || reported == Power::Off) {
            lampOn = reported == Power::On;
            emit lampReported(lampOn);
            judgement.lamp = powerName(reported);
        }
        setPower(reported);
        judgement.power = powerName(reported);
        emit powerReported(reported);
    }
    if (heard.errorStatus)
        judgement.errorStatus = QString::fromLatin1(*heard.errorStatus);
    // A command's answer is one of the log's lines, as a serial projector's is.
    const auto isAnswer = [&heard](const QString &text) {
        return std::any_of(heard.completed.cbegin(), heard.completed.cend(),
                           [&text](const PjlinkProjector::Completion &done) {
                               return done.verdict == commands::Verdict::Answered
                                   && std::holds_alternative<commands::Command>(done.action)
                                   && done.answer == text;
                           });
    };
    for (const PjlinkProjector::LogLine &said : heard.log) {
        if (said.error == pjlink::Error::Unavailable)
            emit message(translated(replytexts::kNotAvailable));
        else if (answersLogged || !isAnswer(said.text))
            emit message(said.text);
    }
    for (const QByteArray &frame : heard.next)
        sendFrame(frame);
    if (heard.availabilityChanged)
        emit availabilityChanged();
    emit replyHandled(line);

    // A copy: a request may end, and its owner drop it, while it takes the line.
    const QList<QPointer<ScriptedRequest>> serving = requests;
    if (!serving.isEmpty() && serving.constFirst()) {
        ScriptedRequest *request = serving.constFirst();
        if (const ScriptedRequest::Step *step = request->awaitedStep()) {
            const PjlinkProjector::Action awaited = actionOf(*step);
            for (const PjlinkProjector::Completion &done : heard.completed) {
                if (done.action != awaited)
                    continue;
                judgement.verdict = done.verdict;
                judgement.answer = awaited == PjlinkProjector::Action(Query::PowerState)
                        && done.verdict == commands::Verdict::Answered
                    ? powerName(powerState)
                    : done.answer;
                break;
            }
        }
        request->takeJudgedLine(line, judgement);
    }
    for (const PjlinkProjector::Completion &done : heard.completed)
        if (const commands::Command *id = std::get_if<commands::Command>(&done.action))
            emit commandAnswered(*id);
}

void ProjectorSession::servePjlinkStep(ScriptedRequest *request)
{
    // A serial projector does not tell its error status.
    if (!pjlink) {
        request->skipStep(QString());
        return;
    }
    if (access == PortDevice::Access::PasswordRejected) {
        request->abandon(translated(kRejected).arg(name));
        return;
    }
    if (access == PortDevice::Access::PasswordWanted) {
        request->abandon(QString::fromLatin1(kPasswordWanted).arg(name));
        return;
    }
    const QPointer<ScriptedRequest> guard(request);
    QString reason;
    QString sentText;
    const bool written = sendPjlink(actionOf(request->dueStep()), &reason, &sentText);
    if (!guard)
        return;
    if (sentText.isEmpty()) {
        guard->skipStep(reason);
        return;
    }
    guard->requireAnswer();
    guard->stepSent(written, written ? QString() : QLatin1String(kSendFailed), sentText);
}

void ProjectorSession::watchAccess()
{
    if (!pjlink || !device || device->access() == access)
        return;
    access = device->access();
    switch (access) {
    case PortDevice::Access::Granted:
        break;
    case PortDevice::Access::PasswordWanted: {
        // What a script asked waits for no password: it is told so now, and nothing of it
        // goes to the projector later.
        const QList<QPointer<ScriptedRequest>> serving = requests;
        for (const QPointer<ScriptedRequest> &request : serving)
            if (request)
                request->abandon(QString::fromLatin1(kPasswordWanted).arg(name));
        // Not from inside the tick: whoever answers may open a box.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (access == PortDevice::Access::PasswordWanted)
                    emit passwordWanted();
            },
            Qt::QueuedConnection);
        break;
    }
    case PortDevice::Access::PasswordRejected: {
        passwords.remove(device->key());
        const QString said = translated(kRejected).arg(name);
        emit message(said);
        const QList<QPointer<ScriptedRequest>> serving = requests;
        for (const QPointer<ScriptedRequest> &request : serving)
            if (request)
                request->abandon(said);
        break;
    }
    }
}
