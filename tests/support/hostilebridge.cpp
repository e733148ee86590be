#include "hostilebridge.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {
constexpr int kPollPause = 20; // ms: how soon the thread sees that it should end
constexpr size_t kScratch = 4096; // bytes one read of a reading bridge takes
} // namespace

HostileBridge::HostileBridge(const QByteArray &greeting, const QByteArray &repeated, bool reads)
{
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(listener, 1) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return;
    listenPort = ntohs(address.sin_port);
    server = std::thread([this, greeting, repeated, reads] { serve(greeting, repeated, reads); });
}

HostileBridge::~HostileBridge()
{
    stopping = true;
    if (listener >= 0)
        ::shutdown(listener, SHUT_RDWR); // ends a wait in accept()
    if (server.joinable())
        server.join();
    if (peer >= 0)
        ::close(peer);
    if (listener >= 0)
        ::close(listener);
}

QString HostileBridge::rfc2217Name() const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(listenPort);
}

void HostileBridge::serve(const QByteArray &greeting, const QByteArray &repeated, bool reads)
{
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
        return;
    peer = connection;
    if (::send(connection, greeting.constData(), size_t(greeting.size()), MSG_NOSIGNAL)
        != greeting.size())
        return;
    char scratch[kScratch];
    while (!stopping) {
        pollfd look {connection, 0, 0};
        if (reads)
            look.events |= POLLIN;
        if (!repeated.isEmpty())
            look.events |= POLLOUT;
        if (::poll(&look, 1, kPollPause) <= 0)
            continue;
        if ((look.revents & POLLIN) && ::recv(connection, scratch, sizeof scratch, 0) <= 0)
            return;
        if ((look.revents & POLLOUT)
            && ::send(connection, repeated.constData(), size_t(repeated.size()),
                      MSG_NOSIGNAL | MSG_DONTWAIT)
                < 0
            && errno != EAGAIN)
            return; // the other side has dropped the connection
        if (look.revents & (POLLHUP | POLLERR))
            return;
    }
}

} // namespace testsupport
