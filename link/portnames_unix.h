#ifndef PORTNAMES_UNIX_H
#define PORTNAMES_UNIX_H

#include <QStringList>

// Linux: the serial ports listed from a given /sys/class/tty and /dev/serial/by-id
// (availablePortNames() reads the system's own), for tests with a tree of their own.
QStringList availablePortNamesIn(const QString &sysClassTty, const QString &byIdDirectory);

#endif // PORTNAMES_UNIX_H
