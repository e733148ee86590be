#include "fakesystem.h"

#include <QDir>
#include <QFile>

namespace testsupport {

namespace {
// tty_nr in /proc/<pid>/stat: minor in bits 31-20 and 7-0, major in bits 19-8.
constexpr unsigned kLowMinorMask = 0xff;
constexpr unsigned kMajorShift = 8;
constexpr unsigned kHighMinorShift = 12;
const char kProcess[] = "4242";
} // namespace

bool addSysfsDevice(const QString &sysRoot, unsigned major, unsigned minor,
                    const QString &subsystem, bool hasDevice)
{
    const QDir sys(sysRoot);
    const QString entry = QStringLiteral("dev/char/%1:%2").arg(major).arg(minor);
    if (!sys.mkpath(entry))
        return false;
    if (!subsystem.isEmpty()) {
        const QString classDirectory = QStringLiteral("class/") + subsystem;
        if (!sys.mkpath(classDirectory)
            || !QFile::link(sys.filePath(classDirectory),
                            sys.filePath(entry + QStringLiteral("/subsystem"))))
            return false;
    }
    return !hasDevice || sys.mkpath(entry + QStringLiteral("/device"));
}

bool addSessionProcess(const QString &procRoot, unsigned major, unsigned minor)
{
    const QDir proc(procRoot);
    if (!proc.mkpath(QLatin1String(kProcess)))
        return false;
    const unsigned ttyNr = (minor & kLowMinorMask) | (major << kMajorShift)
        | ((minor & ~kLowMinorMask) << kHighMinorShift);
    QFile stat(proc.filePath(QLatin1String(kProcess) + QStringLiteral("/stat")));
    return stat.open(QIODevice::WriteOnly)
        && stat.write(QByteArray(kProcess) + " (sh) S 1 " + kProcess + ' ' + kProcess + ' '
                      + QByteArray::number(ttyNr) + ' ' + kProcess + " 0\n")
        > 0;
}

} // namespace testsupport
