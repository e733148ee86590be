// The serial ports of a Linux machine, as the kernel lists them: nothing is opened.

#include "portnames_unix.h"
#include "portnames.h"

#include <QDir>

QStringList availablePortNamesIn(const QString &sysClassTty, const QString &byIdDirectory)
{
    QStringList names;
    // Only terminals backed by a device are ports; virtual consoles and
    // pseudo-terminals have no "device" link.
    const QDir ttys(sysClassTty);
    const QStringList entries
        = ttys.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString &entry : entries) {
        if (QFileInfo::exists(ttys.filePath(entry) + QStringLiteral("/device")))
            names.append(entry);
    }
    // Stable names that survive moving a USB adapter to another socket.
    const QDir byId(byIdDirectory);
    const QFileInfoList links = byId.entryInfoList(QDir::System | QDir::Files, QDir::Name);
    for (const QFileInfo &link : links)
        names.append(link.absoluteFilePath());
    return names;
}

QStringList availablePortNames()
{
    return availablePortNamesIn(QStringLiteral("/sys/class/tty"),
                                QStringLiteral("/dev/serial/by-id"));
}
