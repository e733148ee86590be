// A bridge's port, or a PJLink projector's connection, over Qt Network, the same on
// every platform. The input queue is the serial port's (InputQueue): what does not fit
// is lost, so a flood leaves no backlog behind it.

#include "link/networkport.h"

#include "link/rfc2217session.h"
#include "platform/hostlookup.h"

#include <QTcpSocket>

namespace {
constexpr qsizetype kOutputQueue = 1024; // bytes that may wait to go out, answers included
constexpr qint64 kChunk = 64 * 1024; // bytes the socket buffers and one read takes
// Bytes one look at an opening takes: what the socket buffers between two ticks, so that
// no peer can make a look long.
constexpr qint64 kLookLimit = kChunk;
// Bytes one look at an open port takes at most: enough to clear a flood's backlog within
// a few ticks, little enough that a look stays short whatever the peer sends.
constexpr qint64 kPullLimit = 1024 * 1024;
// Bytes asked of the system for each direction's buffer (Linux reserves twice as much).
constexpr qint64 kSystemBuffer = kChunk;
constexpr int kBufferedOnly = -1; // a pull that takes what the event loop buffered

} // namespace

std::unique_ptr<NetworkPort> NetworkPort::start(const QString &text, const SerialLine &line,
                                                QString *why)
{
    const std::optional<portname::NetworkPortName> address
        = portname::parseNetworkPortName(text, why);
    if (!address)
        return nullptr;
    return open(*address, portname::canonicalName(*address), line);
}

std::unique_ptr<NetworkPort> NetworkPort::connectTo(const portname::NetworkPortName &address,
                                                    const QString &location)
{
    std::unique_ptr<NetworkPort> port = open(address, location, SerialLine());
    port->loopReads = true;
    return port;
}

std::unique_ptr<NetworkPort> NetworkPort::open(const portname::NetworkPortName &address,
                                               const QString &location, const SerialLine &line)
{
    std::unique_ptr<NetworkPort> port(new NetworkPort(address, location, line));
    QHostAddress literal;
    if (literal.setAddress(address.host)) {
        port->addresses = {literal};
        port->stage = Stage::Connecting;
        port->connectNext();
    } else {
        port->lookup = std::make_unique<HostLookup>(address.host);
    }
    return port;
}

NetworkPort::NetworkPort(const portname::NetworkPortName &bridgeAddress, const QString &location,
                         const SerialLine &line)
    : address(bridgeAddress)
    , name(location)
    , socket(std::make_unique<QTcpSocket>())
    , deadline(kOpenWait)
{
    // Bounds what the socket holds for the link between two looks.
    socket->setReadBufferSize(kChunk);
    if (address.bridge == portname::Bridge::Rfc2217)
        session = std::make_unique<Rfc2217Session>(line);
}

NetworkPort::~NetworkPort()
{
    // A lookup still running is left to end by itself.
    socket->abort();
}

void NetworkPort::connectNext()
{
    socket->abort();
    socket->connectToHost(addresses.takeFirst(), address.port);
    // The system's buffers of the connection are bounded too: what a peer floods us with
    // or does not read waits there, beyond the link's own queues.
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, int(kSystemBuffer));
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(kSystemBuffer));
}

void NetworkPort::fail(const QString &why)
{
    reason = name + QStringLiteral(": ") + why;
    if (stage == Stage::Open)
        gone = true; // what arrived before stays readable
    else
        stage = Stage::Failed;
    socket->abort();
}

NetworkPort::Progress NetworkPort::advance()
{
    if (stage == Stage::Resolving)
        stepResolving();
    if (stage == Stage::Connecting)
        stepConnecting();
    if (stage == Stage::Negotiating)
        stepNegotiating();
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

void NetworkPort::stepResolving()
{
    if (!lookup->isFinished())
        return;
    addresses = lookup->addresses();
    const QString error = lookup->errorString();
    lookup.reset();
    if (addresses.isEmpty()) {
        fail(error);
        return;
    }
    stage = Stage::Connecting;
    connectNext();
}

void NetworkPort::stepConnecting()
{
    // The event loop makes the connection; this only looks at how far it is.
    switch (socket->state()) {
    case QAbstractSocket::ConnectedState:
        if (session) {
            stage = Stage::Negotiating;
            send(session->start());
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

void NetworkPort::stepNegotiating()
{
    // One look, bounded in bytes: a bridge that keeps sending never keeps the opening
    // from its deadline.
    pull(kLookLimit, kBufferedOnly);
    if (stage != Stage::Negotiating)
        return;
    if (gone)
        fail(socket->errorString());
    else if (session->isConfigured())
        stage = Stage::Open;
}

bool NetworkPort::pull(qint64 limit, int waitMs)
{
    qint64 taken = 0;
    while (taken < limit && stage != Stage::Failed && !gone) {
        // What came before the connection ended is still read.
        if (socket->bytesAvailable() == 0
            && (waitMs == kBufferedOnly || socket->state() != QAbstractSocket::ConnectedState
                || !socket->waitForReadyRead(taken ? 0 : waitMs)))
            break;
        const QByteArray raw = socket->read(qMin(kChunk, limit - taken));
        if (raw.isEmpty())
            break;
        taken += raw.size();
        QByteArray data = raw;
        if (session) {
            QByteArray answer;
            data = session->receive(raw, &answer);
            if (!session->refusal().isEmpty())
                fail(session->refusal());
            else if (!answer.isEmpty() && !send(answer))
                fail(QStringLiteral("The bridge sends requests faster than it reads the answers"));
        }
        // Nothing follows a loss until the reader has got there.
        if (!lossAhead && input.append(data.constData(), data.size()) < data.size())
            lossAhead = true;
    }
    if (socket->state() != QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0)
        gone = true;
    return taken > 0;
}

bool NetworkPort::send(const QByteArray &bytes)
{
    // Telnet answers share the data's bound: they go while the queue has room, and a peer
    // that asks faster than it reads the answers fills it.
    for (qsizetype sent = 0; sent < bytes.size();) {
        if (socket->state() != QAbstractSocket::ConnectedState)
            return true; // nobody to answer: the end of the connection is noticed anyway
        qint64 room = kOutputQueue - socket->bytesToWrite();
        if (room <= 0) {
            socket->flush();
            room = kOutputQueue - socket->bytesToWrite();
        }
        if (room <= 0)
            return false;
        const qsizetype piece = qsizetype(qMin<qint64>(room, bytes.size() - sent));
        socket->write(bytes.constData() + sent, piece);
        sent += piece;
    }
    socket->flush();
    return true;
}

quint32 NetworkPort::read(char *buffer, quint32 count)
{
    // The socket is looked at only once the queue is empty: a look costs a system call,
    // and the tick asks for one byte at a time. One whose reader runs the event loop
    // between its reads needs none (and a look that finds nothing costs Qt a timed-out
    // error, its text and its signal).
    if (input.isEmpty() && stage == Stage::Open)
        pull(kPullLimit, loopReads ? kBufferedOnly : 0);
    const quint32 taken = input.read(buffer, count);
    if (taken > 0 && input.isEmpty() && lossAhead) {
        lossAhead = false;
        lossReached = true;
    }
    return taken;
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

qintptr NetworkPort::handle() const
{
    return socket->socketDescriptor();
}

qsizetype NetworkPort::heldBytes() const
{
    return input.size() + qsizetype(socket->bytesAvailable());
}
