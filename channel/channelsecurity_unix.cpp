// The local channel's security on POSIX systems: a socket of mode 0600 of this user's.

#include "channel/channelsecurity.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
constexpr mode_t kUserOnly = S_IRUSR | S_IWUSR;
constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;

// Whether a program listens at the socket now; the kernel answers a local connect at once.
bool answers(const QByteArray &path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const int result = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    // A full backlog (EAGAIN) is a program that is there but busy.
    const bool there = result == 0 || errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return there;
}
} // namespace

bool claimChannelName(const QString &name, QString *reason)
{
    const QByteArray path = QFile::encodeName(name);
    struct stat status
    {
    };
    if (::lstat(path.constData(), &status) != 0) {
        if (errno == ENOENT)
            return true;
        *reason = name + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISSOCK(status.st_mode)) {
        *reason = name + QStringLiteral(": not a socket, left as it is");
        return false;
    }
    if (answers(path)) {
        *reason = name + QStringLiteral(": another Lumivox answers there");
        return false;
    }
    // Nobody answers: a program that ended without removing it left it.
    if (::unlink(path.constData()) != 0 && errno != ENOENT) {
        *reason = name + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

bool makeChannelPrivate(const QString &fullServerName, QString *reason)
{
    const QByteArray path = QFile::encodeName(fullServerName);
    struct stat status
    {
    };
    if (::chmod(path.constData(), kUserOnly) != 0 || ::lstat(path.constData(), &status) != 0
        || !S_ISSOCK(status.st_mode) || status.st_uid != getuid()
        || (status.st_mode & (S_IRWXU | kOthersBits)) != kUserOnly) {
        if (reason)
            *reason = fullServerName + QStringLiteral(": not the user's alone");
        return false;
    }
    return true;
}

bool isServedByThisUser(qintptr descriptor, QString *reason)
{
    ucred peer {};
    socklen_t length = sizeof peer;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0
        || peer.uid != getuid()) {
        if (reason)
            *reason = QStringLiteral("the channel is served by another user");
        return false;
    }
    return true;
}
