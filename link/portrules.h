#ifndef PORTRULES_H
#define PORTRULES_H

#include "portwatch.h"

#include <QString>

// Linux: which character devices may be opened as the projector's line, and what a port
// is, so that a device coming back under a vanished port's name can be told apart from
// another one. Everything is decided from device numbers, /sys and /proc: the machine's
// own terminals are never opened to find out what they are.
namespace portrules {

enum class DeviceKind {
    SerialHardware, // a terminal backed by a device (it has a "device" entry in sysfs)
    PseudoTerminal, // the terminal side of a pseudo-terminal
    ProcessTerminal, // /dev/tty: whichever terminal controls the process that opens it
    Console, // /dev/console
    TerminalFactory, // /dev/ptmx: each open makes a new pseudo-terminal
    KernelLog, // /dev/ttyprintk: what is written goes to the kernel's log
    VirtualConsole, // /dev/tty0 to /dev/tty63
    PseudoTerminalMaster, // the far side of a pseudo-terminal
    Other, // a terminal driver without a device of its own, such as a null-modem emulator
};

// The kind of the character device with these numbers; sysRoot stands for /sys.
DeviceKind classify(unsigned major, unsigned minor, const QString &sysRoot);

// Why such a device is never opened as the projector's line; empty when it may be.
// `sessionTerminal`: some session has it as its controlling terminal (a person's shell).
QString refusal(DeviceKind kind, bool sessionTerminal);

// Whether any process (this one included) has the device as its controlling terminal,
// read from the tty_nr field of procRoot/<pid>/stat. Processes hidden from this user
// (hidepid) are not seen; their terminals are not this user's to open either.
// `nodeFilesystem` is the st_dev of the device's node: every devpts instance (a
// container's, a sandbox's) numbers its pseudo-terminals from 0, so a process whose
// open descriptors show it on another instance's terminal of the same number does not
// count. Where its descriptors cannot be read, the number alone decides.
bool isSessionTerminal(unsigned major, unsigned minor, quint64 nodeFilesystem,
                       const QString &procRoot);

// What a port was opened as, to tell whether what comes back under its name is it.
struct Identity
{
    enum class Kind {
        Fixed, // a name the system hands to the next comer (/dev/pts/3): never reopened
        Link, // a link kept pointing at the line (by-id, udev, a bridge): reopened as it leads
        Device, // a hardware port: reopened when its key matches
    };
    Kind kind = Kind::Fixed;
    // For Device: USB vendor, product, serial number and interface, else the sysfs path.
    QString key;
};

// The identity of a device reached by a name; isLink: the name itself is a symbolic link.
Identity identify(bool isLink, unsigned major, unsigned minor, const QString &sysRoot);

// Whether `now` (under the name, present) is the device that `was` opened.
PortWatch::Presence compare(const Identity &was, const Identity &now);

} // namespace portrules

#endif // PORTRULES_H
