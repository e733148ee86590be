#ifndef PORTRULES_H
#define PORTRULES_H

#include "link/portwatch.h"

#include <QString>

#include <sys/stat.h>

// Linux: which character devices may be opened as the projector's line, and what a port
// is, so that a device coming back under a vanished port's name can be told apart from
// another one. Everything is decided from device numbers, /sys and /proc: nothing is
// opened to find out what it is, since opening and closing is not harmless for every
// driver (a watchdog closed without its magic byte may reboot the machine).
namespace portrules {

enum class DeviceKind {
    SerialHardware, // a terminal of the tty subsystem backed by a device ("device" in sysfs)
    PseudoTerminal, // the terminal side of a pseudo-terminal
    ProcessTerminal, // /dev/tty: whichever terminal controls the process that opens it
    Console, // /dev/console
    TerminalFactory, // /dev/ptmx: each open makes a new pseudo-terminal
    KernelLog, // /dev/ttyprintk: what is written goes to the kernel's log
    VirtualConsole, // /dev/tty0 to /dev/tty63
    PseudoTerminalMaster, // the far side of a pseudo-terminal
    Other, // a terminal of the tty subsystem without a device, such as a null-modem emulator
    NotTerminal, // anything else: memory devices, a watchdog, a disk, a FIFO, a plain file
};

// The kind of the character device with these numbers; sysRoot stands for /sys. Only
// pseudo-terminal slaves and devices that sysfs puts in the tty subsystem are terminals.
DeviceKind classify(unsigned major, unsigned minor, const QString &sysRoot);

// Why such a device is never opened as the projector's line; empty when it may be.
// `sessionTerminal`: some session has it as its controlling terminal (a person's shell).
QString refusal(DeviceKind kind, bool sessionTerminal);

// What the opener makes of the node a name leads to.
struct Verdict
{
    DeviceKind kind = DeviceKind::NotTerminal;
    QString refusal; // why it is never opened as the projector's line; empty when it may be
};

// The one rule of what may be opened as the projector's line, for the opener and for the
// list of ports alike: the node as stat() found it, judged by its type, its numbers, sysfs
// under sysRoot and the sessions under procRoot, before anything is opened.
Verdict judge(const struct stat &node, const QString &sysRoot, const QString &procRoot);

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
        Device, // a hardware port: reopened when its key matches
    };
    Kind kind = Kind::Fixed;
    // For Device: USB vendor, product, serial number and interface, else the sysfs path.
    QString key;
    // When the name is a symbolic link: the link itself (its inode and change time). Whoever
    // keeps such a link (udev, a bridge) makes it anew when the line is back; a link left
    // as it was leads only to what its device would be reopened as.
    QString link;
};

// The identity of the device `major`:`minor` reached by a name; `link` stamps the name
// when it is a symbolic link, empty when it is not.
Identity identify(const QString &link, unsigned major, unsigned minor, const QString &sysRoot);

// Whether `now` (under the name, present) is the device that `was` opened.
PortWatch::Presence compare(const Identity &was, const Identity &now);

} // namespace portrules

#endif // PORTRULES_H
