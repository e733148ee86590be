// The local channel on POSIX systems: a socket of mode 0600 in the runtime directory.

#include "channelname.h"

#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr mode_t kUserOnly = S_IRUSR | S_IWUSR;
constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;

bool isPrivateDirectory(const QString &path)
{
    struct stat status
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == getuid() && (status.st_mode & kOthersBits) == 0;
}

QString runtimeDirectory()
{
    // cron and some services start without XDG_RUNTIME_DIR while the user's desktop
    // session has one: the session's own directory is where its window listens.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString session = QStringLiteral("/run/user/%1").arg(getuid());
        if (isPrivateDirectory(session))
            return session;
    }
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}
} // namespace

QString localChannelName()
{
    return runtimeDirectory() + QStringLiteral("/lumivox.socket");
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
