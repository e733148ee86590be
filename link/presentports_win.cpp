// The serial ports of a Windows machine, as the system's device map lists them: the
// drivers enter a port there while its device is present. Nothing is opened.

#include "link/presentports.h"

#include <windows.h>

#include <algorithm>

QStringList availablePortNames()
{
    QStringList names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key)
        != ERROR_SUCCESS)
        return names;
    constexpr DWORD kMaxChars = 256; // port names are short; a longer value is skipped
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[kMaxChars];
        DWORD valueNameChars = kMaxChars;
        wchar_t data[kMaxChars] = {};
        DWORD dataBytes = sizeof data - sizeof(wchar_t); // room for a closing NUL
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, valueName, &valueNameChars, nullptr, &type,
                                          reinterpret_cast<LPBYTE>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS && type == REG_SZ && data[0] != L'\0')
            names.append(QString::fromWCharArray(data));
    }
    RegCloseKey(key);
    names.removeDuplicates();
    // COM2 before COM10: the same prefix, so the shorter name first.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}
