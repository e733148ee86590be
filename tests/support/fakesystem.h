#ifndef FAKESYSTEM_H
#define FAKESYSTEM_H

#include <QString>

namespace testsupport {

// A character device in a sysfs of the test's own: sysRoot/dev/char/MAJ:MIN with its
// subsystem link (none when `subsystem` is empty) and, if asked, a "device" entry.
bool addSysfsDevice(const QString &sysRoot, unsigned major, unsigned minor,
                    const QString &subsystem, bool hasDevice);

// A process in a procfs of the test's own whose controlling terminal has these numbers;
// its descriptors cannot be read, so the number alone tells.
bool addSessionProcess(const QString &procRoot, unsigned major, unsigned minor);

} // namespace testsupport

#endif // FAKESYSTEM_H
