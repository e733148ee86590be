#ifndef PRESENTPORTS_H
#define PRESENTPORTS_H

#include <QStringList>

#include <functional>

// Lists the serial ports present on this machine by name, for completion in the
// settings dialog. Nothing is opened: the names come from the system's device list.
QStringList availablePortNames();

// Where the settings dialog takes its list of names from (tests give their own).
using PortLister = std::function<QStringList()>;

#endif // PRESENTPORTS_H
