#ifndef PRESENTPORTS_UNIX_H
#define PRESENTPORTS_UNIX_H

#include <QStringList>

// Linux: the serial ports listed from a given /sys, /dev and /proc (availablePortNames()
// reads the system's own), for tests with trees of their own.
QStringList availablePortNamesIn(const QString &sysRoot, const QString &devDirectory,
                                 const QString &procRoot);

#endif // PRESENTPORTS_UNIX_H
