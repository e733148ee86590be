// The local channel on Windows: a named pipe that carries the user's name, so that each
// user's window has its own, and that only that user may open (the server's access
// option sets its security).

#include "channelname.h"

#include <windows.h>

namespace {
constexpr DWORD kNameCapacity = 257; // the longest user name and its NUL
} // namespace

QString localChannelName()
{
    wchar_t user[kNameCapacity] = {};
    DWORD length = kNameCapacity;
    const QString name = GetUserNameW(user, &length) ? QString::fromWCharArray(user)
                                                     : qEnvironmentVariable("USERNAME");
    return QStringLiteral("lumivox-") + name;
}

bool makeChannelPrivate(const QString &, QString *)
{
    return true;
}
