#include "session/projectorsession.h"
#include "link/characters.h"
#include "link/commands.h"

#include "link/pjlinkport.h"
#include "link/portdevice.h"
#include "link/portname.h"
#include "link/portopener.h"
#include "link/replytexts.h"
#include "session/commandsetprojector.h"
#include "session/pjlinkprojector.h"
#include "session/scriptedrequest.h"
#include "session/serialprojector.h"

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

using Query = ProjectorProtocol::Query;
using Action = ProjectorProtocol::Action;

ProjectorSession::Power powerOf(ProjectorProtocol::Power power)
{
    switch (power) {
    case ProjectorProtocol::Power::Off:
        return ProjectorSession::Power::Off;
    case ProjectorProtocol::Power::On:
        return ProjectorSession::Power::On;
    case ProjectorProtocol::Power::Cooling:
        return ProjectorSession::Power::Cooling;
    case ProjectorProtocol::Power::Warming:
        return ProjectorSession::Power::Warming;
    }
    return ProjectorSession::Power::Unknown;
}

// What a script's step asks of the projector.
Action actionOf(const ScriptedRequest::Step &step)
{
    if (step.command)
        return *step.command;
    return step.awaited == commands::Answer::ErrorStatus ? Query::ErrorStatus : Query::PowerState;
}

// The protocol the projector under a port name speaks: PJLink on the network, else the
// command set chosen, else the built-in one.
std::unique_ptr<ProjectorProtocol> protocolFor(const QString &portName,
                                               const std::optional<CommandSet> &set)
{
    if (portname::isPjlinkName(portName))
        return std::make_unique<PjlinkProjector>();
    if (set)
        return std::make_unique<CommandSetProjector>(*set);
    return std::make_unique<SerialProjector>();
}

bool isPowerCommand(commands::Command id)
{
    return id == commands::Command::PowerOn || id == commands::Command::PowerOff;
}

constexpr ProjectorProtocol::Topic kTopics[]
    = {ProjectorProtocol::Topic::Power, ProjectorProtocol::Topic::Error,
       ProjectorProtocol::Topic::Input};

unsigned bitOf(ProjectorProtocol::Topic topic)
{
    return 1u << unsigned(topic);
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
    , protocol(std::make_unique<SerialProjector>())
{ }

ProjectorSession::~ProjectorSession()
{
    stopped = true;
    closePort();
}

SerialLine ProjectorSession::serialLine() const
{
    SerialLine line = commandSet ? SerialLine::usualOf(commandSet->line) : SerialLine();
    if (baudRate > 0)
        line.baud = baudRate;
    return line;
}

ProjectorSession::OpenResult ProjectorSession::openPort(const QString &portName, QString *reason)
{
    name = portName;
    auto opener = std::make_unique<PortOpener>(portName, serialLine());
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
    // A PJLink projector that is backed off and not open yet waits between tries as an
    // open one waits between connections (in ticks here).
    const RetryPolicy tries = backoff && portname::isPjlinkName(portName)
        ? RetryPolicy::doubling(pollThreshold + 1, kMaxBackoff / kTickInterval)
        : retry;
    watch.want(
        portName, [this](const QString &wanted) { return lookFor(wanted); }, tries);
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
    // A step whose frames waited for the line is not sent whole.
    if (stepSending)
        finishStepSending(false);
    ++generation;
    emit portChanged();
    resetProtocol();
}

void ProjectorSession::resetProtocol()
{
    const bool tookEverything = protocol->takesEveryCommand();
    protocol = std::make_unique<SerialProjector>();
    // The projector's quirks end with its port; a partial reply line stays (see LineAssembler).
    pacing = {};
    wakeUpDue = false;
    lineHold = QDeadlineTimer();
    echoes = 0;
    awaitedEchoes.clear();
    access = PortDevice::Access::Granted;
    powerAnswerAwaited = false;
    if (!tookEverything)
        emit availabilityChanged();
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
    startProtocol(portName);
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
    QString reason;
    QString sentText;
    const bool all = sendAction(id, &reason, &sentText);
    if (sentText.isEmpty() && !reason.isEmpty())
        emit message(reason);
    return all;
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
    return queueFrame({frameText});
}

bool ProjectorSession::queueFrame(const Outgoing &frame)
{
    if (stopped)
        return false;
    wakeUpIfDue();
    if (isLineBusy() || !waitingFrames.isEmpty()) {
        // One frame at a time on the line: this one follows the frame being written, and
        // those waiting for the line to be free.
        if (device && waitingFrames.size() < kMaxWaitingFrames)
            waitingFrames.append(frame);
        sendWaitingFrames();
        return device != nullptr;
    }
    const bool all = writeFrame(frame) == Written::All;
    sendWaitingFrames();
    return all;
}

void ProjectorSession::wakeUpIfDue()
{
    if (!wakeUpDue || !device || device->isGone() || isLineBusy())
        return;
    wakeUpDue = false;
    // Written as it is: no end, no echo, and no frame of the log.
    for (const char byte : std::as_const(pacing.wakeUp)) {
        if (device->writeByte(byte) == PortDevice::WriteResult::Gone) {
            scheduleDeviceGone();
            return;
        }
    }
    device->flush();
    if (pacing.wakeUpWaitMs > 0)
        lineHold.setRemainingTime(pacing.wakeUpWaitMs);
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

ProjectorSession::Written ProjectorSession::writeFrame(const Outgoing &frame)
{
    const QByteArray &frameText = frame.text;
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
    const bool script = scriptFrame || frame.script;
    const bool asking = askOnWriteFailure && !script;
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
        if (!script) {
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
        // The frame end's own failure is not reported.
        PortDevice::WriteResult ended = PortDevice::WriteResult::Written;
        for (const char byte : protocol->frameEnd())
            if (ended != PortDevice::WriteResult::Gone)
                ended = device->writeByte(byte);
        if (ended == PortDevice::WriteResult::Gone)
            scheduleDeviceGone();
        else
            device->flush();
        if (device->isGone())
            scheduleDeviceGone();
        if (!failed)
            for (int n = 0; n < echoes; ++n)
                awaitedEchoes.append(frameText);
        if (awaitedEchoes.size() > kMaxAwaitedEchoes)
            awaitedEchoes.remove(0, awaitedEchoes.size() - kMaxAwaitedEchoes);
        if (frame.holdAfterMs > 0)
            lineHold.setRemainingTime(frame.holdAfterMs);
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
    if (!waitingFrames.isEmpty())
        wakeUpIfDue();
    bool written = true;
    while (!waitingFrames.isEmpty() && !isLineBusy())
        written = writeFrame(waitingFrames.takeFirst()) == Written::All && written;
    if (waitingFrames.isEmpty() && stepSending)
        finishStepSending(written && stepSending->written);
}

void ProjectorSession::finishStepSending(bool written)
{
    const StepSending sending = *std::exchange(stepSending, std::nullopt);
    if (sending.request)
        sending.request->stepSent(written, written ? QString() : QLatin1String(kSendFailed),
                                  sending.text);
    if (!isLineBusy())
        QMetaObject::invokeMethod(this, &ProjectorSession::serveRequests, Qt::QueuedConnection);
}

void ProjectorSession::tick()
{
    advanceOpening();

    // At most one line per tick; what follows its end waits for the next. A port that
    // frames its lines hands one over whole.
    if (device && device->handsLines()) {
        QByteArray whole;
        if (device->takeLine(&whole))
            lineReceived(QString::fromLatin1(whole));
    } else {
        bool complete = false;
        char byte = 0;
        for (int taken = 0; !complete && taken < kTickReadLimit && readBytes(&byte, 1) == 1;
             ++taken)
            complete = replyLine.feed(byte);
        if (complete)
            lineReceived(replyLine.take());
    }
    watchAccess();

    // Frames held back while the projector was busy go once it is not.
    sendWaitingFrames();
    if (confirmAgainDue != 0)
        confirmAgain();
    pollLamp();

    // A projector that takes nothing for a while is not asked: its silence tells nothing.
    if (lineHold.hasExpired())
        ++noContactCount;
    if (noContactCount >= noContactLimit) {
        noContactCount = noContactLimit;
        if (!contactLostSaid) {
            contactLostSaid = true;
            emit contactLost();
        }
    }

    keepPortOpen();
    serveRequests();
}

void ProjectorSession::setPollInterval(int ms)
{
    pollThreshold = std::max(1, (ms + kTickInterval / 2) / kTickInterval) - 1;
    const bool lost = noContactCount >= noContactLimit;
    noContactLimit = quint32(std::max(0, pollThreshold - kPollThreshold)) + kNoContact;
    if (lost)
        noContactCount = noContactLimit;
    // The first wait of a backoff is one period.
    if (backoff)
        applyBackoff();
}

void ProjectorSession::setPollPhase(int ms)
{
    pollPhase = std::max(0, ms / kTickInterval);
    pollCount = pollThreshold - pollPhaseTicks();
}

void ProjectorSession::setBackoff(bool on)
{
    backoff = on;
    applyBackoff();
}

void ProjectorSession::applyBackoff()
{
    if (!device)
        return;
    device->setRetryPolicy(backoff ? RetryPolicy::doubling(pollInterval(), kMaxBackoff)
                                   : RetryPolicy::flat(PjlinkPort::kRetryWait));
}

void ProjectorSession::hint(Hint kind)
{
    if (stopped)
        return;
    switch (kind) {
    case Hint::LinkUp:
        // It is there: no wait for the next connection or open holds it back.
        if (device)
            device->retryNow();
        watch.tryNow();
        pollBroughtForward = true;
        return;
    case Hint::Power:
        confirm(ProjectorProtocol::Topic::Power);
        return;
    case Hint::Error:
        confirm(ProjectorProtocol::Topic::Error);
        return;
    case Hint::Input:
        confirm(ProjectorProtocol::Topic::Input);
        return;
    }
}

void ProjectorSession::confirm(ProjectorProtocol::Topic topic)
{
    // Nothing is asked of a projector that is not there or waits for a password.
    if (!device || access != PortDevice::Access::Granted)
        return;
    // One question of a kind at a time: a flood of notifications costs two at most.
    if (protocol->isConfirming(topic)) {
        confirmAgainDue |= bitOf(topic);
        return;
    }
    confirmAgainDue &= ~bitOf(topic);
    const QList<QByteArray> frames = protocol->confirm(topic);
    if (frames.isEmpty())
        pollBroughtForward = true;
    for (const QByteArray &frame : frames)
        sendFrame(frame);
}

void ProjectorSession::confirmAgain()
{
    for (const ProjectorProtocol::Topic topic : kTopics)
        if ((confirmAgainDue & bitOf(topic)) && !protocol->isConfirming(topic))
            confirm(topic);
}

void ProjectorSession::pollLamp()
{
    // Held back while a frame is being written or a failure is being asked about; it
    // goes out at the first tick after.
    ++pollCount;
    const bool due
        = pollCount > pollThreshold || (pollBroughtForward && pollCount >= kHintPollSpacing);
    if (!polling || !due || isLineBusy())
        return;
    pollCount = 0;
    pollBroughtForward = false;
    // Nothing is asked of a projector that waits for a password or refused it.
    if (access != PortDevice::Access::Granted)
        return;
    for (const QByteArray &frame : protocol->poll())
        sendFrame(frame);
}

void ProjectorSession::lineReceived(QString line)
{
    // What the projector sends back of a frame is not its answer, and no sign of it.
    if (!awaitedEchoes.isEmpty() && takeEchoes(line))
        return;
    if (noContactCount >= noContactLimit)
        emit contactGained();
    noContactCount = 0;
    contactLostSaid = false;
    handleReply(line);
}

bool ProjectorSession::takeEchoes(QString &line)
{
    // Echoes come in the order of the frames: one matched passes over those before it,
    // which never came. Only the frame itself counts as its echo, so an echo that does not
    // come costs no answer.
    QByteArray bytes = line.toLatin1();
    // A frame that holds the reply end (one that starts with a CR, under a CR end) comes
    // back as more than one line: those before its last are the echo's, not an answer.
    QByteArray &next = awaitedEchoes.first();
    const QByteArray piece = bytes + replyLine.end();
    if (next.size() > piece.size() && next.startsWith(piece)) {
        next.remove(0, piece.size());
        return true;
    }
    bool took = false;
    for (qsizetype i = 0; i < awaitedEchoes.size() && (!took || !bytes.isEmpty());) {
        const std::optional<QByteArray> rest = afterEcho(bytes, awaitedEchoes.at(i));
        if (!rest) {
            ++i;
            continue;
        }
        awaitedEchoes.remove(0, i + 1);
        bytes = *rest;
        took = true;
        i = 0;
    }
    if (!took)
        return false;
    line = QString::fromLatin1(bytes);
    return bytes.isEmpty();
}

std::optional<QByteArray> ProjectorSession::afterEcho(const QByteArray &line,
                                                      const QByteArray &text) const
{
    // The echo is the frame as written; the reply end may split its end off, or it may
    // run on into the answer when the reply end is another.
    const QByteArray frameEnd = protocol->frameEnd();
    const QByteArray written = text + frameEnd;
    const QByteArray &replyEnd = replyLine.end();
    const auto tidied = [this](const QByteArray &bytes) {
        return replyLine.tidied(QString::fromLatin1(bytes)).toLatin1();
    };
    if (line == text
        || (written.endsWith(replyEnd) && line == tidied(written.chopped(replyEnd.size()))))
        return QByteArray();
    if (!frameEnd.isEmpty() && line.startsWith(written))
        return tidied(line.mid(written.size()));
    return std::nullopt;
}

void ProjectorSession::handleReply(const QString &line)
{
    // The line's characters are its bytes (see LineAssembler).
    const ProjectorProtocol::Heard heard = protocol->hear(line.toLatin1());
    ScriptedRequest::Judgement judgement;
    for (const ProjectorProtocol::Completion &done : heard.completed)
        if (const commands::Command *id = std::get_if<commands::Command>(&done.action))
            if (isPowerCommand(*id))
                powerAnswerAwaited = false;
    if (heard.lamp) {
        lampOn = *heard.lamp;
        emit lampReported(lampOn);
        // While the lamp warms up the projector reports it off.
        if (lampOn || powerState != Power::Warming || powerCommandSent.hasExpired(kWarmUpLimit))
            setPower(lampOn ? Power::On : Power::Off);
        judgement.lamp = powerName(lampOn ? Power::On : Power::Off);
    }
    // A poll answered before a power command shows what the command is changing.
    const bool stale
        = powerAnswerAwaited && !powerCommandSent.hasExpired(ProjectorProtocol::kForgetAfter);
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
    // A command's answer is one of the log's lines.
    for (const ProjectorProtocol::LogLine &said : heard.log) {
        if (said.error == ProjectorProtocol::Error::Unavailable)
            emit message(translated(replytexts::kNotAvailable));
        else if (answersLogged || !said.answer)
            emit message(said.text);
    }
    for (const QByteArray &frame : heard.next)
        sendFrame(frame);
    if (heard.availabilityChanged)
        emit availabilityChanged();
    if (heard.factsChanged)
        emit factsChanged();
    emit replyHandled(line);

    // A copy: a request may end, and its owner drop it, while it takes the line.
    const QList<QPointer<ScriptedRequest>> serving = requests;
    if (!serving.isEmpty() && serving.constFirst()) {
        ScriptedRequest *request = serving.constFirst();
        if (const ScriptedRequest::Step *step = request->awaitedStep()) {
            const Action awaited = actionOf(*step);
            for (const ProjectorProtocol::Completion &done : heard.completed) {
                if (done.action != awaited)
                    continue;
                judgement.verdict = done.verdict;
                judgement.answer = awaited == Action(Query::PowerState)
                        && done.verdict == commands::Verdict::Answered
                    ? powerName(powerState)
                    : done.answer;
                break;
            }
            // A reply that names no request answers the step that awaits its kind.
            const bool judged = judgement.verdict != commands::Verdict::Pending;
            if (!judged && heard.unmatched && heard.unmatched->notAvailable) {
                judgement.verdict = commands::Verdict::NotAvailable;
            } else if (!judged && heard.unmatched && heard.unmatched->kind == step->awaited) {
                judgement.verdict = commands::Verdict::Answered;
                judgement.answer = heard.unmatched->text;
            }
        }
        request->takeLine(line, judgement);
    }
    for (const ProjectorProtocol::Completion &done : heard.completed)
        if (const commands::Command *id = std::get_if<commands::Command>(&done.action))
            emit commandAnswered(*id);
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
        if (!request->isDue() || isLineBusy() || stepSending || opening
            || (look && watch.isWanting()))
            return;
        if (!device || device->isGone()) {
            request->abandon(QString::fromLatin1(kNotPossible));
            continue;
        }
        // What some commands become depends on what is still being learned of the
        // projector: they wait for it.
        if (protocol->holdsBack(actionOf(request->dueStep())))
            return;
        serveStep(request);
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
    QByteArray whole;
    while (device && device->takeLine(&whole))
        lineReceived(QString::fromLatin1(whole));
    while (device && device->read(&byte, 1) == 1) {
        if (replyLine.feed(byte))
            lineReceived(replyLine.take());
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
        opener = std::make_unique<PortOpener>(portName, serialLine());
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
        look = std::make_unique<PortOpener>(portName, serialLine());
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

ProjectorProtocol::Availability ProjectorSession::availability(commands::Command id) const
{
    return protocol->availability(id);
}

void ProjectorSession::setPassword(const QString &portName, const QString &password)
{
    const QString key = PortOpener::keyOf(portName);
    passwords.insert(key, password);
    if (protocol->wantsPassword() && device && device->key() == key) {
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

void ProjectorSession::startProtocol(const QString &portName)
{
    protocol = protocolFor(portName, commandSet);
    confirmAgainDue = 0;
    if (backoff)
        applyBackoff();
    replyLine.setEnd(protocol->replyEnd());
    pacing = protocol->pacing();
    wakeUpDue = !pacing.wakeUp.isEmpty();
    lineHold = QDeadlineTimer();
    echoes = protocol->echoes();
    awaitedEchoes.clear();
    access = PortDevice::Access::Granted;
    powerAnswerAwaited = false;
    if (protocol->wantsPassword()) {
        const auto known = passwords.constFind(device->key());
        if (known != passwords.cend())
            device->setPassword(known->toUtf8());
    }
    const QList<QByteArray> frames = protocol->opened();
    // An opening that asks the projector's state: the first poll follows a period (and
    // the session's phase) later.
    if (!frames.isEmpty())
        pollCount = -pollPhaseTicks();
    for (const QByteArray &frame : frames)
        sendFrame(frame);
    if (!protocol->takesEveryCommand())
        emit availabilityChanged();
}

bool ProjectorSession::sendAction(const Action &action, QString *reason, QString *sentText)
{
    if (access == PortDevice::Access::PasswordRejected)
        return false;
    const QList<QByteArray> frames = protocol->frames(action, reason);
    if (frames.isEmpty())
        return false;
    const commands::Command *id = std::get_if<commands::Command>(&action);
    if (id) {
        announcePowerCommand(*id);
        if (isPowerCommand(*id) && protocol->answersEveryRequest())
            powerAnswerAwaited = true;
    }
    // A command the projector confirms by a second frame goes again after a pause, and
    // after a power command it takes nothing for a while: the line is held meanwhile.
    const bool twice = id && pacing.sentTwice[int(*id)];
    const int busy = id && isPowerCommand(*id) ? pacing.busyAfterPowerMs : 0;
    bool all = true;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const int holdAfter = i + 1 == frames.size() ? busy : 0;
        if (twice)
            all = queueFrame({frames.at(i), kRepeatPause, scriptFrame}) && all;
        all = queueFrame({frames.at(i), holdAfter, scriptFrame}) && all;
    }
    if (sentText)
        *sentText = characters::escapedBytes(frames.join(QByteArrayLiteral(", ")));
    return all;
}

void ProjectorSession::serveStep(ScriptedRequest *request)
{
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
    // A script's frame ends at a failed byte: nobody is asked (see writeFrame()).
    scriptFrame = true;
    const bool written = sendAction(actionOf(request->dueStep()), &reason, &sentText);
    scriptFrame = false;
    if (!guard)
        return;
    // A step the projector cannot take (the error status of a serial projector) is not sent.
    if (sentText.isEmpty()) {
        guard->skipStep(reason);
        return;
    }
    if (protocol->answersEveryRequest())
        guard->requireAnswer();
    // Frames that wait for the line (a wake-up's wait, a command sent twice): the answer
    // is awaited from the last one on.
    if (!waitingFrames.isEmpty()) {
        stepSending = StepSending {guard, written, sentText};
        return;
    }
    guard->stepSent(written, written ? QString() : QLatin1String(kSendFailed), sentText);
}

void ProjectorSession::watchAccess()
{
    if (!protocol->wantsPassword() || !device || device->access() == access)
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
