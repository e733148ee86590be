// The serial port on POSIX systems with termios. The kernel keeps no 1024-byte queue
// of its own, so the input queue is the link's: what does not fit is dropped, as a
// full driver drops it, and a flood cannot leave more than 1024 bytes behind it.

#include "protocol.h"
#include "serialport.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr qsizetype kInputQueue = 1024; // bytes the link holds for the reader
constexpr int kByteWriteWait = 500; // ms a byte may wait for room in the driver
constexpr size_t kReadChunk = 4096; // bytes taken from the device per read call
const char kNotSerial[] = "Not a serial port";

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

// Raw 9600 8N1: no flow control of either kind, no character treated specially,
// the receiver on and the modem lines ignored.
termios projectorSettings(termios settings)
{
    settings.c_iflag = 0;
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    settings.c_cflag = CS8 | CLOCAL | CREAD;
    std::fill(std::begin(settings.c_cc), std::end(settings.c_cc), cc_t(0));
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    return settings;
}

// Configures an open descriptor; on failure the errno of the failing call.
int configure(int fd, termios *saved)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    // Also keeps out programs that do not take the lock (root is let through).
    ioctl(fd, TIOCEXCL);
    if (tcgetattr(fd, saved) != 0)
        return errno;
    const termios settings = projectorSettings(*saved);
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        return errno;
    // A pseudo-terminal has no modem lines and says so; that is no failure.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
        return errno;
    if (tcflush(fd, TCIOFLUSH) != 0)
        return errno;
    return 0;
}

bool isHangUp(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}
} // namespace

struct SerialPort::Private
{
    int fd = -1;
    QString path;
    QByteArray input; // the link's own input queue: the kernel keeps none of 1024 bytes
    termios saved {}; // the line settings found at open, given back at close
    bool gone = false;
};

std::unique_ptr<SerialPort> SerialPort::open(const QString &name, QString *reason)
{
    const QString path = protocol::portLocation(protocol::latin1PortName(name));
    const QByteArray encoded = QFile::encodeName(path);
    // Looked at before opening: a FIFO or a plain file is never opened at all.
    struct stat status
    {
    };
    if (::stat(encoded.constData(), &status) != 0)
        return fail(reason, path, systemMessage(errno));
    if (S_ISDIR(status.st_mode))
        return fail(reason, path, systemMessage(EISDIR));
    if (!S_ISCHR(status.st_mode))
        return fail(reason, path, QLatin1String(kNotSerial));

    const int fd = ::open(encoded.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(reason, path, systemMessage(errno));
    auto state = std::make_unique<Private>();
    const int error = isatty(fd) ? configure(fd, &state->saved) : ENOTTY;
    if (error != 0) {
        ::close(fd);
        return fail(reason, path,
                    error == ENOTTY ? QLatin1String(kNotSerial) : systemMessage(error));
    }
    state->fd = fd;
    state->path = path;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(state)));
}

bool SerialPort::exists(const QString &name)
{
    const QString path = protocol::portLocation(protocol::latin1PortName(name));
    struct stat status
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISCHR(status.st_mode);
}

SerialPort::SerialPort(std::unique_ptr<Private> state)
    : d(std::move(state))
{ }

SerialPort::~SerialPort()
{
    const int fd = d->fd;
    tcflush(fd, TCIOFLUSH);
    tcsetattr(fd, TCSANOW, &d->saved);
    // The exclusive mode outlives this descriptor while anyone else has the device open.
    ioctl(fd, TIOCNXCL);
    ::close(fd);
}

bool SerialPort::isGone() const
{
    return d->gone;
}

QString SerialPort::location() const
{
    return d->path;
}

PortWatch::Probe SerialPort::sameDeviceProbe() const
{
    return [](const QString &name) {
        return exists(name) ? PortWatch::Presence::Same : PortWatch::Presence::Absent;
    };
}

qintptr SerialPort::nativeHandle() const
{
    return d->fd;
}

qsizetype SerialPort::queued() const
{
    return d->input.size();
}

quint32 SerialPort::read(char *buffer, quint32 count)
{
    const int fd = d->fd;
    QByteArray &input = d->input;
    bool &gone = d->gone;
    while (!gone) {
        pollfd readable {fd, POLLIN, 0};
        if (::poll(&readable, 1, 0) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (readable.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            gone = true;
            break;
        }
        if (!(readable.revents & POLLIN))
            break;
        char chunk[kReadChunk];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            // What does not fit is lost, as a full driver queue loses it.
            input.append(chunk, qMin(qsizetype(got), kInputQueue - input.size()));
            continue;
        }
        if (got == 0 || isHangUp(errno))
            gone = true; // readable, yet nothing to read: the line has hung up
        else if (errno == EINTR)
            continue;
        break;
    }
    const qsizetype taken = qMin(qsizetype(count), input.size());
    if (!buffer || taken <= 0)
        return 0;
    std::memcpy(buffer, input.constData(), size_t(taken));
    input.remove(0, taken);
    return quint32(taken);
}

SerialPort::WriteResult SerialPort::writeByte(char byte)
{
    bool &gone = d->gone;
    if (gone)
        return WriteResult::Gone;
    const int fd = d->fd;
    const QDeadlineTimer deadline(kByteWriteWait);
    for (;;) {
        if (::write(fd, &byte, 1) == 1)
            return WriteResult::Written;
        if (isHangUp(errno)) {
            gone = true;
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
            gone = true;
            return WriteResult::Gone;
        }
    }
}

void SerialPort::clearError()
{
    // A terminal keeps no error condition that would stop later writes, and a byte
    // that was refused was never queued: there is nothing to clear.
}
