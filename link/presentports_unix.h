#ifndef PORTNAMES_UNIX_H
#define PORTNAMES_UNIX_H

#include <QStringList>

// Linux: the serial ports listed from a given /sys, /dev and /proc (availablePortNames()
// reads the system's own), for tests with trees of their own.
QStringList availablePortNamesIn(const QString &sysRoot, const QString &devDirectory,
                                 const QString &procRoot);

#endif // PORTNAMES_UNIX_H
