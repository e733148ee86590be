// The local channel's security on Windows: a named pipe that only this user may open (the
// server's access option sets its security), and whose server the command line checks
// before it sends anything.

#include "channel/channelsecurity.h"

#include <memory>
#include <windows.h>

namespace {
const wchar_t kPipePrefix[] = L"\\\\.\\pipe\\";

struct HandleCloser
{
    void operator()(HANDLE handle) const
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The user SID of a process's token; empty on failure.
QByteArray userOf(HANDLE process)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    const Handle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray buffer(int(size), '\0');
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return {};
    const auto *user = reinterpret_cast<const TOKEN_USER *>(buffer.constData());
    const DWORD length = GetLengthSid(user->User.Sid);
    return QByteArray(static_cast<const char *>(user->User.Sid), int(length));
}
} // namespace

bool claimChannelName(const QString &name, QString *reason)
{
    // The first instance of a pipe sets its security: one made by somebody else first
    // (another user's, to read the requests) would refuse this one.
    const std::wstring path = std::wstring(kPipePrefix) + name.toStdWString();
    const HANDLE first
        = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                           PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
    if (first == INVALID_HANDLE_VALUE) {
        *reason = name + QStringLiteral(": another program holds the channel");
        return false;
    }
    CloseHandle(first);
    return true;
}

bool makeChannelPrivate(const QString &, QString *)
{
    return true;
}

bool isServedByThisUser(qintptr descriptor, QString *reason)
{
    ULONG serverId = 0;
    const HANDLE pipe = reinterpret_cast<HANDLE>(descriptor);
    const Handle server(GetNamedPipeServerProcessId(pipe, &serverId)
                            ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverId)
                            : nullptr);
    const QByteArray theirs = server ? userOf(server.get()) : QByteArray();
    const QByteArray ours = userOf(GetCurrentProcess());
    if (theirs.isEmpty() || ours.isEmpty() || theirs != ours) {
        if (reason)
            *reason = QStringLiteral("the channel is served by another user");
        return false;
    }
    return true;
}
