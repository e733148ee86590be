#include "platform/console.h"

#include <cstdio>
#include <windows.h>

namespace {
bool hasStream(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}
} // namespace

void attachParentConsole()
{
    // Redirected streams (a file, a pipe of the Task Scheduler) are kept as they are.
    const bool out = hasStream(STD_OUTPUT_HANDLE);
    const bool err = hasStream(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!out)
        (void)freopen("CONOUT$", "w", stdout);
    if (!err)
        (void)freopen("CONOUT$", "w", stderr);
}
