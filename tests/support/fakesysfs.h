#ifndef FAKESYSFS_H
#define FAKESYSFS_H

#include <QDir>
#include <QFile>

namespace testsupport {

// A character device in a sysfs of the test's own: sysRoot/dev/char/MAJ:MIN linked to its
// subsystem, with a "device" entry when it is backed by one.
inline bool addSysfsDevice(const QString &sysRoot, unsigned major, unsigned minor,
                           const QString &subsystem, bool hasDevice)
{
    const QDir sys(sysRoot);
    const QString entry = QStringLiteral("dev/char/%1:%2").arg(major).arg(minor);
    const QString classDirectory = QStringLiteral("class/") + subsystem;
    return sys.mkpath(entry) && sys.mkpath(classDirectory)
        && QFile::link(sys.filePath(classDirectory),
                       sys.filePath(entry + QStringLiteral("/subsystem")))
        && (!hasDevice || sys.mkpath(entry + QStringLiteral("/device")));
}

} // namespace testsupport

#endif // FAKESYSFS_H
