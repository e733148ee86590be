// The local channel on POSIX systems: a socket of mode 0600 in the runtime directory.

#include "channelname.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <pwd.h>
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
    // Not through a link, which another user in /tmp could point elsewhere later.
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == getuid() && (status.st_mode & kOthersBits) == 0;
}

QString runtimeDirectory()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // cron and some services start without XDG_RUNTIME_DIR while the user's desktop
    // session has one: the session's own directory is where its window listens.
    const QString session = QStringLiteral("/run/user/%1").arg(getuid());
    if (isPrivateDirectory(session))
        return session;
    // Where the toolkit would go without one, made here so that a run from cron says
    // nothing about it on standard error.
    const passwd *user = getpwuid(getuid());
    if (!user)
        return {};
    const QString fallback
        = QDir::tempPath() + QStringLiteral("/runtime-") + QString::fromLocal8Bit(user->pw_name);
    ::mkdir(QFile::encodeName(fallback).constData(), S_IRWXU);
    // Another user's directory under that name would see every request.
    return isPrivateDirectory(fallback) ? fallback : QString();
}
} // namespace

QString localChannelName()
{
    const QString directory = runtimeDirectory();
    return directory.isEmpty() ? QString() : directory + QStringLiteral("/lumivox.socket");
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
