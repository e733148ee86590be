#include "link/portrules.h"

#include "link/characters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace portrules {

namespace {
// Device numbers of the kernel's own terminals (Documentation/admin-guide/devices.txt).
constexpr unsigned kLegacyPtyMaster = 2;
constexpr unsigned kLegacyPtySlave = 3;
constexpr unsigned kConsoleMajor = 4; // virtual consoles below kFirstSerialMinor, ttyS above
constexpr unsigned kFirstSerialMinor = 64;
constexpr unsigned kAlternateMajor = 5;
constexpr unsigned kTtyMinor = 0;
constexpr unsigned kConsoleMinor = 1;
constexpr unsigned kPtmxMinor = 2;
constexpr unsigned kPrintkMinor = 3;
constexpr unsigned kPtyMasterFirst = 128;
constexpr unsigned kPtyMasterLast = 135;
constexpr unsigned kPtySlaveFirst = 136;
constexpr unsigned kPtySlaveLast = 143;

// tty_nr in /proc/<pid>/stat: minor in bits 31-20 and 7-0, major in bits 19-8.
constexpr unsigned kLowMinorMask = 0xff;
constexpr unsigned kMajorShift = 8;
constexpr unsigned kMajorMask = 0xfff;
constexpr unsigned kHighMinorShift = 12;
constexpr int kTtyNrField = 4; // counted after the command name: state ppid pgrp session tty_nr
constexpr int kStatBytes = 512; // the fields up to tty_nr fit easily after a 16-byte name

const char kTtySubsystem[] = "tty";

QString charDirectory(unsigned major, unsigned minor, const QString &sysRoot)
{
    return sysRoot + QStringLiteral("/dev/char/%1:%2").arg(major).arg(minor);
}

QString deviceDirectory(unsigned major, unsigned minor, const QString &sysRoot)
{
    return charDirectory(major, minor, sysRoot) + QStringLiteral("/device");
}

// sysfs links each device to its subsystem's directory (../../../class/tty); a number no
// driver has taken has no entry at all.
bool inTtySubsystem(unsigned major, unsigned minor, const QString &sysRoot)
{
    const QString subsystem
        = QFile::symLinkTarget(charDirectory(major, minor, sysRoot) + QStringLiteral("/subsystem"));
    return !subsystem.isEmpty() && QFileInfo(subsystem).fileName() == QLatin1String(kTtySubsystem);
}

QString readTrimmed(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// The controlling terminal in a /proc/<pid>/stat line, or -1.
long long terminalNumber(const char *stat, ssize_t size)
{
    // The command name is in parentheses and may hold anything, spaces and ')' too.
    const char *field = nullptr;
    for (ssize_t i = size - 1; i >= 0; --i) {
        if (stat[i] == ')') {
            field = stat + i + 1;
            break;
        }
    }
    if (!field)
        return -1;
    const char *end = stat + size;
    for (int n = 0; n <= kTtyNrField; ++n) {
        while (field < end && *field == ' ')
            ++field;
        if (n == kTtyNrField)
            break;
        while (field < end && *field != ' ')
            ++field;
    }
    long long value = 0;
    bool digits = false;
    bool negative = field < end && *field == '-';
    if (negative)
        ++field;
    for (; field < end && characters::isDigit(*field); ++field) {
        value = value * 10 + (*field - '0');
        digits = true;
    }
    return digits && !negative ? value : -1;
}
} // namespace

DeviceKind classify(unsigned major, unsigned minor, const QString &sysRoot)
{
    // The kernel's fixed numbers first: these are refused whatever sysfs says.
    if (major == kAlternateMajor) {
        switch (minor) {
        case kTtyMinor:
            return DeviceKind::ProcessTerminal;
        case kConsoleMinor:
            return DeviceKind::Console;
        case kPtmxMinor:
            return DeviceKind::TerminalFactory;
        case kPrintkMinor:
            return DeviceKind::KernelLog;
        default:
            break;
        }
    }
    if (major == kConsoleMajor && minor < kFirstSerialMinor)
        return DeviceKind::VirtualConsole;
    if (major == kLegacyPtyMaster || (major >= kPtyMasterFirst && major <= kPtyMasterLast))
        return DeviceKind::PseudoTerminalMaster;
    // devpts does not list its terminals in sysfs: their numbers tell them.
    if (major == kLegacyPtySlave || (major >= kPtySlaveFirst && major <= kPtySlaveLast))
        return DeviceKind::PseudoTerminal;
    if (!inTtySubsystem(major, minor, sysRoot))
        return DeviceKind::NotTerminal;
    if (QFileInfo::exists(deviceDirectory(major, minor, sysRoot)))
        return DeviceKind::SerialHardware;
    return DeviceKind::Other;
}

QString refusal(DeviceKind kind, bool sessionTerminal)
{
    switch (kind) {
    case DeviceKind::ProcessTerminal:
        return QStringLiteral("The terminal of whoever opens it, not a serial port");
    case DeviceKind::Console:
        return QStringLiteral("The system console, not a serial port");
    case DeviceKind::TerminalFactory:
        return QStringLiteral("Makes a new pseudo-terminal at each open, not a serial port");
    case DeviceKind::KernelLog:
        return QStringLiteral("The kernel's log, not a serial port");
    case DeviceKind::VirtualConsole:
        return QStringLiteral("A virtual console, not a serial port");
    case DeviceKind::PseudoTerminalMaster:
        return QStringLiteral("The far side of a pseudo-terminal, not a serial port");
    case DeviceKind::NotTerminal:
        return QStringLiteral("Not a terminal, not a serial port");
    case DeviceKind::SerialHardware:
    case DeviceKind::PseudoTerminal:
    case DeviceKind::Other:
        break;
    }
    if (sessionTerminal)
        return QStringLiteral("The terminal of a running session (a shell), not a serial port");
    return QString();
}

// Where a process holds a device of these numbers open: on the node's own filesystem,
// only on another one (another devpts instance), or nowhere that can be seen.
enum class Holding { Here, Elsewhere, Unknown };

Holding holding(const QByteArray &processDir, dev_t device, quint64 nodeFilesystem)
{
    const QByteArray fdDir = processDir + "/fd";
    DIR *descriptors = ::opendir(fdDir.constData());
    if (!descriptors)
        return Holding::Unknown;
    Holding result = Holding::Unknown;
    while (const dirent *entry = ::readdir(descriptors)) {
        if (entry->d_name[0] == '.')
            continue;
        // stat() follows the descriptor to the node it was opened on.
        struct stat node
        {
        };
        const QByteArray path = fdDir + '/' + entry->d_name;
        if (::stat(path.constData(), &node) != 0 || !S_ISCHR(node.st_mode)
            || node.st_rdev != device)
            continue;
        if (quint64(node.st_dev) == nodeFilesystem) {
            result = Holding::Here;
            break;
        }
        result = Holding::Elsewhere;
    }
    ::closedir(descriptors);
    return result;
}

bool isSessionTerminal(unsigned major, unsigned minor, quint64 nodeFilesystem,
                       const QString &procRoot)
{
    const QByteArray root = QFile::encodeName(procRoot);
    DIR *processes = ::opendir(root.constData());
    if (!processes)
        return false;
    bool found = false;
    while (!found) {
        const dirent *entry = ::readdir(processes);
        if (!entry)
            break;
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue; // not a process
        const QByteArray path = root + '/' + entry->d_name + "/stat";
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue; // ended meanwhile
        char stat[kStatBytes];
        const ssize_t size = ::read(fd, stat, sizeof stat);
        ::close(fd);
        const long long number = size > 0 ? terminalNumber(stat, size) : -1;
        if (number <= 0)
            continue; // no controlling terminal
        const auto code = static_cast<unsigned long long>(number);
        const unsigned ttyMajor = unsigned(code >> kMajorShift) & kMajorMask;
        const unsigned ttyMinor
            = unsigned(code & kLowMinorMask) | unsigned((code >> kHighMinorShift) & ~kLowMinorMask);
        if (ttyMajor != major || ttyMinor != minor)
            continue;
        found = holding(root + '/' + entry->d_name, makedev(major, minor), nodeFilesystem)
            != Holding::Elsewhere;
    }
    ::closedir(processes);
    return found;
}

Verdict judge(const struct stat &node, const QString &sysRoot, const QString &procRoot)
{
    Verdict verdict;
    if (S_ISDIR(node.st_mode)) {
        verdict.refusal = QString::fromLocal8Bit(std::strerror(EISDIR));
    } else if (S_ISBLK(node.st_mode)) {
        verdict.refusal = QStringLiteral("A block device, not a serial port");
    } else if (S_ISFIFO(node.st_mode)) {
        verdict.refusal = QStringLiteral("A FIFO, not a serial port");
    } else if (S_ISREG(node.st_mode)) {
        verdict.refusal = QStringLiteral("A plain file, not a serial port");
    } else if (!S_ISCHR(node.st_mode)) {
        verdict.refusal = QStringLiteral("Not a serial port");
    } else {
        const unsigned major = ::major(node.st_rdev);
        const unsigned minor = ::minor(node.st_rdev);
        verdict.kind = classify(major, minor, sysRoot);
        // Reading every process's terminal is the costly part: only for what would pass.
        const bool allowed = refusal(verdict.kind, false).isEmpty();
        verdict.refusal
            = refusal(verdict.kind,
                      allowed && isSessionTerminal(major, minor, quint64(node.st_dev), procRoot));
    }
    return verdict;
}

Identity identify(const QString &link, unsigned major, unsigned minor, const QString &sysRoot)
{
    Identity identity;
    identity.link = link;
    if (classify(major, minor, sysRoot) != DeviceKind::SerialHardware)
        return identity; // the number goes to whatever comes next
    identity.kind = Identity::Kind::Device;
    const QString device = QFileInfo(deviceDirectory(major, minor, sysRoot)).canonicalFilePath();
    const QString devices = QFileInfo(sysRoot + QStringLiteral("/devices")).canonicalFilePath();
    // The USB device the port belongs to, if any: the nearest parent with a vendor id. The
    // directory below it is the port's interface ("1-1:1.0"), which tells the ports of
    // a multi-port adapter apart wherever it is plugged in.
    QString below;
    for (QString directory = device;
         !devices.isEmpty() && directory.startsWith(devices + QLatin1Char('/'));
         below = QFileInfo(directory).fileName(), directory = QFileInfo(directory).path()) {
        const QString vendor = readTrimmed(directory + QStringLiteral("/idVendor"));
        if (vendor.isEmpty())
            continue;
        const QString product = readTrimmed(directory + QStringLiteral("/idProduct"));
        const QString serial = readTrimmed(directory + QStringLiteral("/serial"));
        if (!serial.isEmpty()) {
            identity.key = QStringLiteral("usb %1:%2 %3 interface %4")
                               .arg(vendor, product, serial, below.section(QLatin1Char(':'), 1));
            return identity;
        }
        break; // without a serial number, only its place tells two adapters apart
    }
    identity.key = device.isEmpty() || devices.isEmpty() ? device : device.mid(devices.size());
    return identity;
}

PortWatch::Presence compare(const Identity &was, const Identity &now)
{
    // A link made anew leads to the line by its keeper's word, wherever it points now.
    if (!was.link.isEmpty() && !now.link.isEmpty() && now.link != was.link)
        return PortWatch::Presence::Same;
    return was.kind == Identity::Kind::Device && now.kind == Identity::Kind::Device
            && now.key == was.key
        ? PortWatch::Presence::Same
        : PortWatch::Presence::Other;
}

} // namespace portrules
