// The serial port on Linux with termios. The kernel keeps no 1024-byte queue of its
// own, so the input queue is the link's: what does not fit is dropped, as a full driver
// drops it, and a flood cannot leave more than 1024 bytes behind it.

#include "link/inputqueue.h"
#include "link/portname.h"
#include "link/portrules.h"
#include "link/serialport.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {
constexpr int kByteWriteWait = 500; // ms a byte may wait for room in the driver
constexpr size_t kReadChunk = 4096; // bytes taken from the device per read call
const char kNotSerial[] = "Not a serial port";
const char kChanged[] = "The device changed while it was being opened";
const QString kSysRoot = QStringLiteral("/sys");
const QString kProcRoot = QStringLiteral("/proc");

QString systemMessage(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

std::unique_ptr<SerialPort> fail(QString *reason, const QString &path, const QString &message)
{
    if (reason)
        *reason = path + QStringLiteral(": ") + message;
    return nullptr;
}

// While it lives, a terminal operation on a line that is some process group's terminal
// goes ahead or fails instead of stopping the whole program with SIGTTOU: the kernel
// sends no SIGTTOU to a thread that blocks it.
class NoTerminalStop
{
public:
    NoTerminalStop()
    {
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGTTOU);
        pthread_sigmask(SIG_BLOCK, &stop, &previous);
    }
    ~NoTerminalStop() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    NoTerminalStop(const NoTerminalStop &) = delete;
    NoTerminalStop &operator=(const NoTerminalStop &) = delete;

private:
    sigset_t previous {};
};

// The termios speeds, by the rate they stand for: a rate not here is one this system
// cannot set.
constexpr std::pair<int, speed_t> kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B4000000
    {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};
constexpr tcflag_t kDataSizes[] = {CS5, CS6, CS7, CS8}; // from 5 data bits
constexpr int kFewestDataBits = 5;
constexpr cc_t kXon = 0x11;
constexpr cc_t kXoff = 0x13;

std::optional<speed_t> speedOf(int baud)
{
    for (const auto &[rate, speed] : kSpeeds)
        if (rate == baud)
            return speed;
    return std::nullopt;
}

// Why this system cannot give a port the line; empty when it can.
QString lineRefusal(const SerialLine &line)
{
    if (!speedOf(line.baud))
        return QStringLiteral("%1 baud is not a rate this system can set").arg(line.baud);
    if (line.dataBits < kFewestDataBits
        || line.dataBits >= kFewestDataBits + int(std::size(kDataSizes)))
        return QStringLiteral("a serial line has no %1 data bits").arg(line.dataBits);
    if (line.stopBits != 1 && line.stopBits != 2)
        return QStringLiteral("a serial line has no %1 stop bits").arg(line.stopBits);
#ifndef CMSPAR
    if (line.parity == CommandSet::Parity::Mark || line.parity == CommandSet::Parity::Space)
        return QStringLiteral("this system has no mark or space parity");
#endif
    return QString();
}

// Raw, with the line's settings: no character treated specially beyond the flow
// control's own, the receiver on and the modem lines ignored. The line has passed
// lineRefusal().
termios projectorSettings(termios settings, const SerialLine &line)
{
    using Parity = CommandSet::Parity;
    settings.c_iflag = 0;
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    settings.c_cflag = kDataSizes[line.dataBits - kFewestDataBits] | CLOCAL | CREAD;
    if (line.parity != Parity::None)
        settings.c_cflag |= PARENB;
    if (line.parity == Parity::Odd || line.parity == Parity::Mark)
        settings.c_cflag |= PARODD;
#ifdef CMSPAR
    // The parity bit stands still: set for mark (with PARODD), clear for space.
    if (line.parity == Parity::Mark || line.parity == Parity::Space)
        settings.c_cflag |= CMSPAR;
#endif
    if (line.stopBits == 2)
        settings.c_cflag |= CSTOPB;
    std::fill(std::begin(settings.c_cc), std::end(settings.c_cc), cc_t(0));
    switch (line.flowControl) {
    case CommandSet::FlowControl::Hardware:
        settings.c_cflag |= CRTSCTS;
        break;
    case CommandSet::FlowControl::Software:
        settings.c_iflag = IXON | IXOFF;
        // Not the NUL the cleared characters would make them.
        settings.c_cc[VSTART] = kXon;
        settings.c_cc[VSTOP] = kXoff;
        break;
    case CommandSet::FlowControl::None:
        break;
    }
    const speed_t speed = speedOf(line.baud).value_or(B9600);
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    return settings;
}

// Configures an open descriptor; on failure the errno of the failing call, with the
// device given back as it was found.
int configure(int fd, bool pseudoTerminal, const SerialLine &line, termios *saved)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    // Also keeps out programs that do not take the lock (root is let through). Not on a
    // pseudo-terminal: its other side keeps it alive, so the mode would outlive a
    // killed Lumivox and refuse the next one; the lock ends with its holder.
    const bool exclusive = !pseudoTerminal && ioctl(fd, TIOCEXCL) == 0;
    int error = 0;
    bool set = false;
    if (tcgetattr(fd, saved) != 0) {
        error = errno;
    } else {
        const termios settings = projectorSettings(*saved, line);
        set = tcsetattr(fd, TCSANOW, &settings) == 0;
        // A pseudo-terminal has no modem lines and says so; that is no failure. Under
        // hardware flow control RTS is the driver's: off, the projector would never send.
        const int lines = line.flowControl == CommandSet::FlowControl::Hardware
            ? TIOCM_DTR
            : TIOCM_DTR | TIOCM_RTS;
        if (!set)
            error = errno;
        else if (ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
            error = errno;
        else if (tcflush(fd, TCIOFLUSH) != 0)
            error = errno;
    }
    if (error != 0) {
        if (set)
            tcsetattr(fd, TCSANOW, saved);
        if (exclusive)
            ioctl(fd, TIOCNXCL);
    }
    return error;
}

bool isHangUp(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

// The device numbers, and the filesystem of the node: every devpts instance (a
// container's, a sandbox's) numbers its pseudo-terminals from 0.
QString deviceKey(const struct stat &node)
{
    return QStringLiteral("device %1:%2 on %3")
        .arg(::major(node.st_rdev))
        .arg(::minor(node.st_rdev))
        .arg(quint64(node.st_dev));
}

QString devicePath(const QString &name)
{
    // As typed: a name reaches the system encoded as file names are.
    return portname::portLocation(name);
}

// The name's own stamp when it is a symbolic link (its inode and change time: a link
// made anew differs), else empty.
QString linkStamp(const QByteArray &encoded)
{
    struct stat link
    {
    };
    if (::lstat(encoded.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
        return {};
    return QStringLiteral("%1:%2 %3.%4")
        .arg(link.st_dev)
        .arg(link.st_ino)
        .arg(link.st_ctim.tv_sec)
        .arg(link.st_ctim.tv_nsec);
}

// The device under a name now: false when there is none.
bool lookUp(const QString &path, struct stat *status, QString *link)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (::stat(encoded.constData(), status) != 0 || !S_ISCHR(status->st_mode))
        return false;
    *link = linkStamp(encoded);
    return true;
}
} // namespace

struct SerialPort::Private
{
    int fd = -1;
    QString path;
    InputQueue input; // the link's own
    termios saved {}; // the line settings found at open, given back at close
    portrules::Identity identity;
    bool hungUp = false; // the device has gone; what is queued is still handed out

    void takeFromDevice();
};

QString SerialPort::locationOf(const QString &name)
{
    return devicePath(name);
}

QString SerialPort::keyOf(const QString &name)
{
    const QString path = devicePath(name);
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return path;
    return deviceKey(status);
}

std::unique_ptr<SerialPort> SerialPort::open(const QString &name, const SerialLine &line,
                                             QString *reason)
{
    const QString path = devicePath(name);
    // Nothing is done to a device for a line it could not have.
    const QString unsettable = lineRefusal(line);
    if (!unsettable.isEmpty())
        return fail(reason, path, unsettable);
    const QByteArray encoded = QFile::encodeName(path);
    // Judged before opening: only terminals are opened, and of those not somebody's.
    struct stat status
    {
    };
    if (::stat(encoded.constData(), &status) != 0)
        return fail(reason, path, systemMessage(errno));
    const portrules::Verdict verdict = portrules::judge(status, kSysRoot, kProcRoot);
    if (!verdict.refusal.isEmpty())
        return fail(reason, path, verdict.refusal);
    const unsigned major = ::major(status.st_rdev);
    const unsigned minor = ::minor(status.st_rdev);
    const QString link = linkStamp(encoded);

    const NoTerminalStop noStop;
    const int fd = ::open(encoded.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(reason, path, systemMessage(errno));
    // The name may have been pointed elsewhere since the look: nothing done to that one.
    struct stat opened
    {
    };
    if (::fstat(fd, &opened) != 0 || opened.st_rdev != status.st_rdev) {
        ::close(fd);
        return fail(reason, path, QLatin1String(kChanged));
    }
    auto state = std::make_unique<Private>();
    const bool pseudoTerminal = verdict.kind == portrules::DeviceKind::PseudoTerminal;
    const int error = isatty(fd) ? configure(fd, pseudoTerminal, line, &state->saved) : ENOTTY;
    if (error != 0) {
        ::close(fd);
        return fail(reason, path,
                    error == ENOTTY ? QLatin1String(kNotSerial) : systemMessage(error));
    }
    state->fd = fd;
    state->path = path;
    state->identity = portrules::identify(link, major, minor, kSysRoot);
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(state)));
}

SerialPort::SerialPort(std::unique_ptr<Private> state)
    : d(std::move(state))
{ }

SerialPort::~SerialPort()
{
    const NoTerminalStop noStop;
    tcflush(d->fd, TCIOFLUSH);
    tcsetattr(d->fd, TCSANOW, &d->saved);
    // The exclusive mode outlives this descriptor while anyone else has the device open.
    ioctl(d->fd, TIOCNXCL);
    ::close(d->fd);
}

bool SerialPort::isGone() const
{
    return d->hungUp;
}

QString SerialPort::location() const
{
    return d->path;
}

QString SerialPort::key() const
{
    struct stat status
    {
    };
    return ::fstat(d->fd, &status) == 0 ? deviceKey(status) : d->path;
}

PortWatch::Probe SerialPort::sameDeviceProbe() const
{
    return [was = d->identity](const QString &name) {
        struct stat status
        {
        };
        QString link;
        if (!lookUp(devicePath(name), &status, &link))
            return PortWatch::Presence::Absent;
        return portrules::compare(
            was,
            portrules::identify(link, ::major(status.st_rdev), ::minor(status.st_rdev), kSysRoot));
    };
}

qintptr SerialPort::handle() const
{
    return d->fd;
}

qsizetype SerialPort::heldBytes() const
{
    return d->input.size();
}

void SerialPort::Private::takeFromDevice()
{
    // One look and at most one read per call: however fast the far end sends (a
    // pseudo-terminal takes bytes as fast as they come), a call ends.
    pollfd readable {fd, POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&readable, 1, 0);
    while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return;
    // Bytes that arrived before a hang-up are read before it counts.
    if (readable.revents & POLLIN) {
        char chunk[kReadChunk];
        ssize_t got = 0;
        do
            got = ::read(fd, chunk, sizeof chunk);
        while (got < 0 && errno == EINTR);
        if (got > 0) {
            input.append(chunk, qsizetype(got));
            return;
        }
        if (got == 0 || isHangUp(errno))
            hungUp = true; // readable, yet nothing to read: the line has hung up
        return;
    }
    if (readable.revents & (POLLHUP | POLLERR | POLLNVAL))
        hungUp = true;
}

quint32 SerialPort::read(char *buffer, quint32 count)
{
    if (!d->hungUp)
        d->takeFromDevice();
    return d->input.read(buffer, count);
}

SerialPort::WriteResult SerialPort::writeByte(char byte)
{
    if (d->hungUp)
        return WriteResult::Gone;
    const int fd = d->fd;
    const QDeadlineTimer deadline(kByteWriteWait);
    for (;;) {
        if (::write(fd, &byte, 1) == 1)
            return WriteResult::Written;
        if (isHangUp(errno)) {
            d->hungUp = true;
            return WriteResult::Gone;
        }
        if (errno != EAGAIN && errno != EINTR)
            return WriteResult::Failed;
        // The driver queue is full: wait for room, but not for ever.
        if (deadline.hasExpired())
            return WriteResult::Failed;
        pollfd writable {fd, POLLOUT, 0};
        if (::poll(&writable, 1, int(deadline.remainingTime())) < 0 && errno != EINTR)
            return WriteResult::Failed;
        if (writable.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            d->hungUp = true;
            return WriteResult::Gone;
        }
    }
}

void SerialPort::clearError()
{
    // A terminal keeps no error condition that would stop later writes, and a byte
    // that was refused was never queued: there is nothing to clear.
}
