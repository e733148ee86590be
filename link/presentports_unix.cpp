// The serial ports of a Linux machine, as the kernel lists them: nothing is opened.

#include "link/presentports_unix.h"
#include "link/portrules.h"
#include "link/presentports.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace {
// Whether the opener takes what a name leads to, and as what.
bool isTaken(const QString &path, const QString &sysRoot, const QString &procRoot,
             portrules::DeviceKind *kind = nullptr)
{
    struct stat node
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &node) != 0)
        return false;
    const portrules::Verdict verdict = portrules::judge(node, sysRoot, procRoot);
    if (kind)
        *kind = verdict.kind;
    return verdict.refusal.isEmpty();
}
} // namespace

QStringList availablePortNamesIn(const QString &sysRoot, const QString &devDirectory,
                                 const QString &procRoot)
{
    // Judged as the opener judges them, so that nothing offered is refused.
    QStringList names;
    // By name, the kernel's terminals that are hardware ports: its tty class also lists
    // virtual consoles and the like, which the opener refuses.
    const QDir ttys(sysRoot + QStringLiteral("/class/tty"));
    const QStringList entries
        = ttys.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    const QDir dev(devDirectory);
    for (const QString &entry : entries) {
        portrules::DeviceKind kind = portrules::DeviceKind::NotTerminal;
        if (isTaken(dev.filePath(entry), sysRoot, procRoot, &kind)
            && kind == portrules::DeviceKind::SerialHardware)
            names.append(entry);
    }
    // Stable names that survive moving a USB adapter to another socket.
    const QDir byId(dev.filePath(QStringLiteral("serial/by-id")));
    const QFileInfoList links = byId.entryInfoList(QDir::System | QDir::Files, QDir::Name);
    for (const QFileInfo &link : links) {
        if (isTaken(link.absoluteFilePath(), sysRoot, procRoot))
            names.append(link.absoluteFilePath());
    }
    return names;
}

QStringList availablePortNames()
{
    return availablePortNamesIn(QStringLiteral("/sys"), QStringLiteral("/dev"),
                                QStringLiteral("/proc"));
}
