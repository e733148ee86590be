// The local channel's name on Windows: a named pipe that carries the user's name and the
// port's.

#include "channel/channelname.h"

#include <QCryptographicHash>
#include <QDir>

#include <windows.h>

namespace {
constexpr DWORD kNameCapacity = 257; // the longest user name and its NUL
constexpr int kKeyDigits = 16; // hex digits of the port key's hash in the name
} // namespace

QString localChannelName(const QString &portKey)
{
    wchar_t user[kNameCapacity] = {};
    DWORD length = kNameCapacity;
    const QString name = GetUserNameW(user, &length) ? QString::fromWCharArray(user)
                                                     : qEnvironmentVariable("USERNAME");
    const QByteArray hash
        = QCryptographicHash::hash(portKey.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("lumivox-") + name + QLatin1Char('-')
        + QLatin1String(hash.left(kKeyDigits));
}

QString channelLockPath(const QString &name)
{
    return QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral(".lock");
}
