// The local channel's name on POSIX systems: a socket in the user's private runtime
// directory.

#include "channel/channelname.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;
constexpr int kKeyDigits = 16; // hex digits of the port key's hash in the name

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

QString localChannelName(const QString &portKey)
{
    const QString directory = runtimeDirectory();
    if (directory.isEmpty())
        return {};
    const QByteArray hash
        = QCryptographicHash::hash(portKey.toUtf8(), QCryptographicHash::Sha256).toHex();
    return directory + QStringLiteral("/lumivox-") + QLatin1String(hash.left(kKeyDigits))
        + QStringLiteral(".socket");
}

QString channelLockPath(const QString &name)
{
    return name + QStringLiteral(".lock");
}
