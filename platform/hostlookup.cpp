// The resolver runs on a detached thread that touches nothing but the C library and
// the state it shares with its owner: it may outlive the owner and even the toolkit's
// teardown at the program's exit.

#include "platform/hostlookup.h"

#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>
#endif

struct HostLookup::Shared
{
    std::mutex mutex;
    bool finished = false;
    bool noThread = false; // the resolver could not even be started
    int code = 0; // the resolver's result, 0 when it found addresses
    std::vector<sockaddr_storage> found;
};

namespace {
int resolve(const std::string &host, std::vector<sockaddr_storage> *found);
} // namespace

HostLookup::HostLookup(const QString &host)
    : shared(std::make_shared<Shared>())
{
    // Host names are ASCII by now (the name parser refuses anything else).
    const std::string name = host.toLatin1().toStdString();
    try {
        std::thread([state = shared, name] {
            std::vector<sockaddr_storage> found;
            const int code = resolve(name, &found);
            const std::lock_guard<std::mutex> lock(state->mutex);
            state->code = code;
            state->found = std::move(found);
            state->finished = true;
        }).detach();
    } catch (const std::system_error &) {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        shared->noThread = true;
        shared->finished = true;
    }
}

HostLookup::~HostLookup() = default;

bool HostLookup::isFinished() const
{
    const std::lock_guard<std::mutex> lock(shared->mutex);
    return shared->finished;
}

QList<QHostAddress> HostLookup::addresses() const
{
    const std::lock_guard<std::mutex> lock(shared->mutex);
    QList<QHostAddress> list;
    for (const sockaddr_storage &address : shared->found)
        list.append(QHostAddress(reinterpret_cast<const sockaddr *>(&address)));
    return list;
}

QString HostLookup::errorString() const
{
    const std::lock_guard<std::mutex> lock(shared->mutex);
    if (!shared->finished)
        return QString();
    if (shared->noThread)
        return QStringLiteral("Could not start looking up the host");
    if (shared->code == EAI_NONAME || (shared->code == 0 && shared->found.empty()))
        return QStringLiteral("Host not found");
#ifdef Q_OS_WIN
    return QStringLiteral("Looking up the host failed (error %1)").arg(shared->code);
#else
    return QString::fromLocal8Bit(gai_strerror(shared->code));
#endif
}

namespace {
int resolve(const std::string &host, std::vector<sockaddr_storage> *found)
{
#ifdef Q_OS_WIN
    WSADATA data;
    const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
#endif
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo *list = nullptr;
    const int code = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    for (const addrinfo *entry = list; code == 0 && entry; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
            || size_t(entry->ai_addrlen) > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage address {};
        std::memcpy(&address, entry->ai_addr, size_t(entry->ai_addrlen));
        found->push_back(address);
    }
    if (list)
        freeaddrinfo(list);
#ifdef Q_OS_WIN
    if (started)
        WSACleanup();
#endif
    return code;
}
} // namespace
