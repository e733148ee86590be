// A bridge's port over Qt Network, the same on every platform. The input queue has
// the serial port's 1024 bytes and its overflow rule: what does not fit is lost, so a
// flood leaves no backlog behind it.

#include "networkport.h"

#include "rfc2217session.h"

#include <QEventLoop>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>

#include <cstring>

namespace {
constexpr qsizetype kInputQueue = 1024; // bytes the link holds for the reader
constexpr qsizetype kOutputQueue = 1024; // bytes that may wait to go out
constexpr qint64 kChunk = 64 * 1024; // bytes the socket buffers and one read takes
// Bytes one look at the socket takes at most: enough to clear a flood's backlog within
// a few ticks, little enough that a look stays short whatever the peer sends.
constexpr qint64 kPullLimit = 1024 * 1024;

} // namespace

std::unique_ptr<NetworkPort> NetworkPort::connect(const QString &text, QString *why)
{
    const std::optional<portname::NetworkPortName> address
        = portname::parseNetworkPortName(text, why);
    if (!address)
        return nullptr;
    std::unique_ptr<NetworkPort> port(new NetworkPort(*address, portname::canonicalName(*address)));
    QHostAddress literal;
    if (literal.setAddress(address->host)) {
        port->resolved({literal}, QString());
    } else {
        // In the background: a slow resolver must not hold the window.
        NetworkPort *self = port.get();
        QHostInfo::lookupHost(address->host, port->socket.get(), [self](const QHostInfo &info) {
            self->resolved(info.addresses(),
                           info.error() == QHostInfo::NoError ? QString() : info.errorString());
        });
    }
    return port;
}

std::unique_ptr<NetworkPort> NetworkPort::open(const QString &text, QString *why)
{
    std::unique_ptr<NetworkPort> port = connect(text, why);
    if (!port)
        return nullptr;
    Progress progress = Progress::Pending;
    while ((progress = port->advance(true)) == Progress::Pending) { }
    if (progress == Progress::Failed) {
        if (why)
            *why = port->failure();
        return nullptr;
    }
    return port;
}

NetworkPort::NetworkPort(const portname::NetworkPortName &bridgeAddress, const QString &location)
    : address(bridgeAddress)
    , name(location)
    , socket(std::make_unique<QTcpSocket>())
    , deadline(kOpenWait)
{
    // Bounds what the socket holds for the link between two looks.
    socket->setReadBufferSize(kChunk);
    if (address.bridge == portname::Bridge::Rfc2217)
        session = std::make_unique<Rfc2217Session>();
}

NetworkPort::~NetworkPort()
{
    if (lookupWait)
        lookupWait->quit();
    socket->abort();
}

void NetworkPort::resolved(const QList<QHostAddress> &found, const QString &error)
{
    if (stage != Stage::Resolving)
        return;
    addresses = found;
    if (lookupWait)
        lookupWait->quit();
    if (addresses.isEmpty()) {
        fail(error.isEmpty() ? QStringLiteral("Host not found") : error);
        return;
    }
    stage = Stage::Connecting;
    connectNext();
}

void NetworkPort::connectNext()
{
    socket->abort();
    socket->connectToHost(addresses.takeFirst(), address.port);
}

void NetworkPort::fail(const QString &why)
{
    stage = Stage::Failed;
    reason = name + QStringLiteral(": ") + why;
    socket->abort();
}

int NetworkPort::remainingWait(bool wait) const
{
    return wait ? int(qMax<qint64>(0, deadline.remainingTime())) : 0;
}

NetworkPort::Progress NetworkPort::advance(bool wait)
{
    if (stage == Stage::Resolving && wait && !deadline.hasExpired()) {
        // Only an explicit open waits for the resolver, and never past its deadline.
        QEventLoop loop;
        QTimer::singleShot(remainingWait(true), &loop, &QEventLoop::quit);
        lookupWait = &loop;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        lookupWait = nullptr;
    }
    if (stage == Stage::Connecting)
        stepConnecting(wait);
    if (stage == Stage::Negotiating)
        stepNegotiating(wait);
    if (stage != Stage::Open && stage != Stage::Failed && deadline.hasExpired()) {
        if (stage == Stage::Resolving)
            fail(QStringLiteral("Looking up the host timed out"));
        else if (stage == Stage::Connecting)
            fail(QStringLiteral("Connection timed out"));
        else
            fail(QStringLiteral("The bridge did not answer the line settings in time"));
    }
    switch (stage) {
    case Stage::Open:
        return Progress::Open;
    case Stage::Failed:
        return Progress::Failed;
    default:
        return Progress::Pending;
    }
}

void NetworkPort::stepConnecting(bool wait)
{
    // Without a wait the event loop makes the connection: a zero wait here would give
    // the attempt up.
    if (wait && socket->state() != QAbstractSocket::ConnectedState
        && socket->state() != QAbstractSocket::UnconnectedState)
        socket->waitForConnected(remainingWait(true));
    switch (socket->state()) {
    case QAbstractSocket::ConnectedState:
        if (session) {
            socket->write(session->start());
            socket->flush();
            stage = Stage::Negotiating;
        } else {
            stage = Stage::Open;
        }
        break;
    case QAbstractSocket::UnconnectedState:
        if (socket->error() == QAbstractSocket::SocketTimeoutError)
            fail(QStringLiteral("Connection timed out"));
        else if (!addresses.isEmpty())
            connectNext();
        else
            fail(socket->errorString());
        break;
    default:
        break;
    }
}

void NetworkPort::stepNegotiating(bool wait)
{
    while (!session->isConfigured() && !session->isRefused() && !gone) {
        if (!pull(remainingWait(wait)))
            break;
    }
    if (session->isRefused())
        fail(QStringLiteral("The bridge does not offer serial port control"));
    else if (gone)
        fail(socket->errorString());
    else if (session->isConfigured())
        stage = Stage::Open;
}

bool NetworkPort::pull(int waitMs)
{
    qint64 taken = 0;
    while (taken < kPullLimit) {
        // What came before the connection ended is still read.
        if (socket->bytesAvailable() == 0
            && (socket->state() != QAbstractSocket::ConnectedState
                || !socket->waitForReadyRead(taken ? 0 : waitMs)))
            break;
        const QByteArray raw = socket->read(kChunk);
        if (raw.isEmpty())
            break;
        taken += raw.size();
        QByteArray data = raw;
        if (session) {
            QByteArray answer;
            data = session->receive(raw, &answer);
            if (!answer.isEmpty() && socket->state() == QAbstractSocket::ConnectedState) {
                socket->write(answer);
                socket->flush();
            }
        }
        // What does not fit is lost, as a full driver queue loses it.
        input.append(data.constData(), qMin(data.size(), kInputQueue - input.size()));
    }
    if (socket->state() != QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0)
        gone = true;
    return taken > 0;
}

quint32 NetworkPort::read(char *buffer, quint32 count)
{
    // The socket is looked at only once the queue is empty: a look costs a system call,
    // and the tick asks for one byte at a time.
    if (input.isEmpty() && stage == Stage::Open)
        pull(0);
    const qsizetype taken = qMin(qsizetype(count), input.size());
    if (!buffer || taken <= 0)
        return 0;
    std::memcpy(buffer, input.constData(), size_t(taken));
    input.remove(0, taken);
    return quint32(taken);
}

PortDevice::WriteResult NetworkPort::writeByte(char byte)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        gone = true;
    if (gone)
        return WriteResult::Gone;
    if (socket->bytesToWrite() >= kOutputQueue)
        flush();
    if (gone)
        return WriteResult::Gone;
    // A bridge that takes nothing any more: refused like a full serial queue.
    if (socket->bytesToWrite() >= kOutputQueue)
        return WriteResult::Failed;
    const QByteArray one(1, byte);
    socket->write(session ? session->encode(one) : one);
    return WriteResult::Written;
}

void NetworkPort::flush()
{
    if (gone)
        return;
    socket->flush();
    if (socket->state() != QAbstractSocket::ConnectedState)
        gone = true;
}

qintptr NetworkPort::nativeHandle() const
{
    return socket->socketDescriptor();
}

qsizetype NetworkPort::queued() const
{
    return input.size() + qsizetype(socket->bytesAvailable());
}
