#include "pjlinkface/faceconnection.h"

#include "link/pjlink.h"
#include "pjlinkface/faceanswer.h"

#include <QRandomGenerator>
#include <QTcpSocket>

#include <utility>

namespace {
constexpr char kLineEnd = '\r';
constexpr char kLineFeed = '\n';
constexpr int kRandomDigits = 8;
constexpr int kHex = 16;
} // namespace

FaceConnection::FaceConnection(QTcpSocket *socket, ProjectorSession *session, SetOf setOf,
                               QString name, const QByteArray &password, QObject *parent)
    : QObject(parent)
    , socket(socket)
    , session(session)
    , setOf(std::move(setOf))
    , name(std::move(name))
    , password(password)
{
    socket->setParent(this);
    // What the peer sends beyond this waits in the system's buffers, and then in its own.
    socket->setReadBufferSize(pjlink::kMaxRequestLine + pjlink::kDigestLength);
    idle.setSingleShot(true);
    idle.setInterval(kIdleTimeout);
    connect(&idle, &QTimer::timeout, this, &FaceConnection::idleTimeUp);
    connect(socket, &QTcpSocket::readyRead, this, &FaceConnection::readRequests);
    connect(socket, &QTcpSocket::bytesWritten, this, &FaceConnection::readRequests);
    connect(socket, &QTcpSocket::disconnected, this, &FaceConnection::finish);
    connect(socket, &QTcpSocket::errorOccurred, this, &FaceConnection::dropPeer);
    if (!password.isEmpty())
        random = QByteArray::number(QRandomGenerator::system()->generate(), kHex)
                     .rightJustified(kRandomDigits, '0');
    authenticated = password.isEmpty();
    writeLine(pjlink::greeting(random));
    idle.start();
}

FaceConnection::~FaceConnection()
{
    // The socket goes with this connection: its last signals reach nobody.
    disconnect(socket, nullptr, this, nullptr);
    password.fill('\0');
}

void FaceConnection::readRequests()
{
    // The expected digest goes before the first request only.
    const int limit = pjlink::kMaxRequestLine + (authenticated ? 0 : pjlink::kDigestLength);
    char byte = 0;
    while (!busy && !closing && socket->bytesToWrite() < kMaxUnread && socket->getChar(&byte)) {
        if (byte == kLineEnd) {
            lineRead(std::exchange(line, QByteArray()), std::exchange(tooLong, false));
        } else if (byte == kLineFeed && line.isEmpty()) {
            continue; // the line feed of a controller that ends its lines with both
        } else if (line.size() < limit) {
            line.append(byte);
        } else {
            tooLong = true;
        }
    }
}

void FaceConnection::lineRead(QByteArray request, bool cut)
{
    if (request.isEmpty())
        return;
    idle.start();
    if (!password.isEmpty()) {
        // Some controllers send the digest with every request: one that comes is checked.
        QByteArray rest;
        const pjlink::DigestCheck check = pjlink::checkDigest(request, random, password, &rest);
        if (check == pjlink::DigestCheck::Wrong
            || (check == pjlink::DigestCheck::Missing && !authenticated)) {
            writeLine(pjlink::rejection());
            dropPeer();
            return;
        }
        if (check == pjlink::DigestCheck::Matches) {
            authenticated = true;
            request = rest;
            if (request.isEmpty())
                return;
        }
    }
    pjlink::Request parsed = pjlink::parseRequest(request);
    // A line with no command to answer to is no controller's: the connection ends.
    if (parsed.problem == pjlink::Request::Problem::NoHeader) {
        dropPeer();
        return;
    }
    if (cut)
        parsed.problem = pjlink::Request::Problem::TooLong;
    idle.stop();
    busy = new FaceAnswer(session, setOf(), name, this);
    connect(busy, &FaceAnswer::ready, this, &FaceConnection::answered);
    busy->start(parsed);
}

void FaceConnection::answered(const QByteArray &answer)
{
    if (busy)
        busy->deleteLater();
    busy = nullptr;
    writeLine(answer);
    idle.start();
    // The next request, if one came meanwhile, from the next turn of the event loop.
    QMetaObject::invokeMethod(this, &FaceConnection::readRequests, Qt::QueuedConnection);
}

void FaceConnection::writeLine(const QByteArray &text)
{
    if (!closing)
        socket->write(text + kLineEnd);
}

void FaceConnection::dropPeer()
{
    if (closing)
        return;
    closing = true;
    delete busy;
    // What was written still goes out before the close, unless the peer takes nothing.
    idle.start();
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        finish();
}

void FaceConnection::idleTimeUp()
{
    if (!closing) {
        dropPeer();
        return;
    }
    socket->abort();
    finish();
}

void FaceConnection::finish()
{
    if (finished)
        return;
    finished = true;
    closing = true;
    idle.stop();
    delete busy;
    emit closed();
}
