// PJLink's connections over the bridges' raw TCP transport (NetworkPort): its lookup,
// its deadline and its bounded queues are the same here.

#include "link/pjlinkport.h"

#include "link/pjlink.h"

#include <utility>

namespace {
constexpr quint32 kChunk = 1024; // bytes taken from the connection at once
// Bytes one step takes at most: a projector that floods cannot make a step long.
constexpr qsizetype kLookLimit = 64 * 1024;
constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
} // namespace

std::unique_ptr<PjlinkPort> PjlinkPort::start(const QString &text, QString *why)
{
    const std::optional<portname::NetworkPortName> address = portname::parsePjlinkName(text, why);
    if (!address)
        return nullptr;
    std::unique_ptr<PjlinkPort> port(
        new PjlinkPort(*address, portname::canonicalPjlinkName(*address)));
    port->connectWhenFree();
    return port;
}

PjlinkPort::PjlinkPort(const portname::NetworkPortName &projectorAddress, const QString &location)
    : address(projectorAddress)
    , name(location)
{ }

PjlinkPort::~PjlinkPort()
{
    budget.cancel(this);
    endConnection();
}

NetworkPort::Progress PjlinkPort::advance()
{
    if (opening == NetworkPort::Progress::Pending)
        step();
    return opening;
}

void PjlinkPort::connectWhenFree()
{
    if (slotAsked)
        return;
    if (!holdsSlot && !budget.take(this, [this] { slotGranted(); })) {
        // Its frames wait in their queue meanwhile; no deadline runs before the connection.
        slotAsked = true;
        return;
    }
    holdsSlot = true;
    connectNow();
}

void PjlinkPort::slotGranted()
{
    slotAsked = false;
    holdsSlot = true;
    connectNow();
}

void PjlinkPort::endConnection()
{
    connection.reset();
    if (std::exchange(holdsSlot, false))
        budget.release();
}

void PjlinkPort::connectNow()
{
    connection = NetworkPort::connectTo(address, name);
    stage = Stage::Connecting;
    random.clear();
    authenticated = false;
    line.clear();
    skipping = false;
}

void PjlinkPort::step()
{
    // Nothing more to ask (or nothing that may be asked without a password) while others
    // wait for a slot: this one is theirs. Looked at before what arrived, so that a
    // connection greeted or answered in this step stays for the frames its reader sends
    // in return.
    if (stage == Stage::Ready && (waiting.isEmpty() || accessState != Access::Granted)
        && budget.othersWait()) {
        endConnection();
        stage = Stage::Idle;
    }
    if (stage == Stage::Connecting) {
        switch (connection->advance()) {
        case NetworkPort::Progress::Pending:
            break;
        case NetworkPort::Progress::Open:
            stage = Stage::Greeting;
            deadline.setRemainingTime(kGreetingWait);
            break;
        case NetworkPort::Progress::Failed:
            giveUp(connection->failure());
            break;
        }
    }
    if (stage == Stage::Greeting || stage == Stage::Ready || stage == Stage::Awaiting)
        takeInput();
    if (stage == Stage::Greeting && deadline.hasExpired())
        giveUp(name + QStringLiteral(": The projector did not greet as a PJLink projector"));
    else if (stage == Stage::Awaiting && deadline.hasExpired())
        giveUp(name + QStringLiteral(": The projector did not answer in time"));
    if (stage == Stage::Ready)
        sendNext();
    if (stage == Stage::Idle && !waiting.isEmpty() && accessState == Access::Granted
        && retryAfter.hasExpired() && opening != NetworkPort::Progress::Failed)
        connectWhenFree();
}

void PjlinkPort::takeInput()
{
    char buffer[kChunk];
    for (qsizetype taken = 0; connection && taken < kLookLimit;) {
        const quint32 count = connection->read(buffer, kChunk);
        if (count == 0)
            break;
        taken += count;
        for (quint32 i = 0; i < count && connection; ++i) {
            const char byte = buffer[i];
            // Projectors end their lines with CR, some with LF or CR LF: an empty line
            // between two line ends is no line.
            if (byte == kCarriageReturn || byte == kLineFeed) {
                if (!line.isEmpty() && !skipping)
                    lineArrived(line);
                line.clear();
                skipping = false;
            } else if (line.size() < pjlink::kMaxLine) {
                line.append(byte);
            } else {
                skipping = true;
            }
        }
        // The bytes that follow are not those that came next: the line under way lost
        // its end, and what comes up to the next line end lost its start.
        if (connection && connection->takeLoss()) {
            line.clear();
            skipping = true;
        }
    }
    if (connection && connection->isGone())
        connectionEnded();
}

void PjlinkPort::lineArrived(const QByteArray &text)
{
    if (stage == Stage::Greeting) {
        greeted(text);
        return;
    }
    // Only the answer to the frame awaited is handed on and ends the wait; only it, or the
    // projector's refusal of the digest that went with that frame, says that the password
    // is wrong. A line sent unasked (a notification, a hostile peer) would be taken by
    // the session as the answer to a request of its own still queued here: it is dropped.
    if (stage != Stage::Awaiting)
        return;
    const bool answer = pjlink::isAnswerTo(text, waiting.constFirst());
    if ((answer && pjlink::refusesPassword(text))
        || (digestSent && pjlink::parseGreeting(text).kind == pjlink::Greeting::Kind::Rejected)) {
        rejected();
        return;
    }
    if (!answer)
        return;
    // It answers: a projector that was backed off is waited for the first wait again.
    retry.reset();
    deliver(text);
    waiting.removeFirst();
    resent = false;
    stage = Stage::Ready;
}

void PjlinkPort::greeted(const QByteArray &text)
{
    const pjlink::Greeting greeting = pjlink::parseGreeting(text);
    if (greeting.kind != pjlink::Greeting::Kind::Open
        && greeting.kind != pjlink::Greeting::Kind::Challenge) {
        giveUp(name + QStringLiteral(": The projector did not greet as a PJLink projector"));
        return;
    }
    random = greeting.random;
    stage = Stage::Ready;
    if (opening == NetworkPort::Progress::Pending)
        opening = NetworkPort::Progress::Open;
}

void PjlinkPort::sendNext()
{
    if (waiting.isEmpty() || accessState == Access::PasswordRejected)
        return;
    QByteArray bytes;
    digestSent = !random.isEmpty() && !authenticated;
    if (digestSent) {
        if (password.isEmpty()) {
            accessState = Access::PasswordWanted;
            return;
        }
        // Directly before the connection's first request, with nothing in between.
        bytes = pjlink::digest(random, password);
    }
    bytes += waiting.constFirst();
    bytes += kCarriageReturn;
    stage = Stage::Awaiting;
    for (const char byte : bytes) {
        if (connection->writeByte(byte) != WriteResult::Written) {
            connectionEnded();
            return;
        }
    }
    connection->flush();
    authenticated = true;
    deadline.setRemainingTime(kAnswerWait);
}

void PjlinkPort::connectionEnded()
{
    const Stage was = stage;
    endConnection();
    stage = Stage::Idle;
    if (opening == NetworkPort::Progress::Pending || was == Stage::Greeting) {
        giveUp(name + QStringLiteral(": The projector closed the connection"));
    } else if (was == Stage::Awaiting) {
        // Closed just as the request went out (an idle close, one request per
        // connection): it goes once more, on the next connection.
        if (resent)
            giveUp(name + QStringLiteral(": The projector closed the connection unanswered"));
        else
            resent = true;
    }
}

void PjlinkPort::giveUp(const QString &why)
{
    if (opening == NetworkPort::Progress::Pending) {
        reason = why;
        opening = NetworkPort::Progress::Failed;
    }
    endConnection();
    stage = Stage::Idle;
    waiting.clear();
    resent = false;
    retryAfter.setRemainingTime(retry.next());
}

void PjlinkPort::rejected()
{
    // Never tried again with this password: not by the next frame, nor the next poll.
    accessState = Access::PasswordRejected;
    refused = password;
    password.clear();
    endConnection();
    stage = Stage::Idle;
    waiting.clear();
}

void PjlinkPort::setPassword(const QByteArray &given)
{
    if (given.isEmpty() || (accessState == Access::PasswordRejected && given == refused))
        return;
    password = given;
    accessState = Access::Granted;
    step();
}

void PjlinkPort::setRetryPolicy(const RetryPolicy &policy)
{
    retry = policy;
    backingOff = policy.doubles();
}

void PjlinkPort::retryNow()
{
    retryAfter = QDeadlineTimer();
    retry.reset();
    step();
}

void PjlinkPort::deliver(const QByteArray &text)
{
    // A line that does not fit is lost whole, as a full serial queue loses it; the reader
    // takes a line per tick and each request brings one.
    if (lines.size() < kMaxLines)
        lines.append(text);
}

bool PjlinkPort::takeLine(QByteArray *line)
{
    if (lines.isEmpty())
        step();
    if (lines.isEmpty())
        return false;
    *line = lines.takeFirst();
    return true;
}

qsizetype PjlinkPort::heldBytes() const
{
    qsizetype held = 0;
    for (const QByteArray &each : lines)
        held += each.size() + 1; // and its end
    return held;
}

PortDevice::WriteResult PjlinkPort::writeByte(char byte)
{
    if (byte == kCarriageReturn) {
        // A projector that refused the password is sent nothing more. While one backed
        // off waits, the polls that come meanwhile ask what one of them asks.
        const bool backedOff = backingOff && stage == Stage::Idle && !retryAfter.hasExpired();
        if (!frame.isEmpty() && !discarding && accessState != Access::PasswordRejected
            && !(backedOff && waiting.contains(frame)))
            waiting.append(frame);
        frame.clear();
        discarding = false;
        return WriteResult::Written;
    }
    // No room: the frame is dropped whole, as one a projector out of reach never gets.
    if (frame.isEmpty() && waiting.size() >= kMaxWaiting)
        discarding = true;
    if (frame.size() >= pjlink::kMaxLine)
        discarding = true;
    if (!discarding)
        frame.append(byte);
    return WriteResult::Written;
}

void PjlinkPort::flush()
{
    step();
}

qintptr PjlinkPort::handle() const
{
    return connection ? connection->handle() : -1;
}
