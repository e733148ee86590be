#include "fakeprojector.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kChunk = 4096; // bytes moved per read or write call
constexpr char kCarriageReturn = '\r';
constexpr char kFillByte = 'F'; // no CR: filler must never look like a frame
constexpr int kSettleTime = 20; // ms for the kernel to move written bytes along
constexpr int kFarEndCheck = 100; // ms between looks whether the program has opened the port

bool setNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}
} // namespace

FakeProjector::FakeProjector(Draining draining, QObject *parent)
    : QObject(parent)
{
    char name[PATH_MAX] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        masterFd = slaveFd = -1;
        return;
    }
    // Raw before the program opens it: no echo, no CR/LF translation, every byte
    // value passes. The program's port restores these settings when it closes.
    termios settings {};
    if (tcgetattr(slaveFd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(slaveFd, TCSANOW, &settings);
    }
    if (!setNonBlocking(masterFd) || !setNonBlocking(slaveFd)) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        closeDescriptors();
        return;
    }
    path = QString::fromLocal8Bit(name);

    readNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, [this] { drain(); });
    readNotifier->setEnabled(draining == Draining::On);
    writeNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Write, this);
    connect(writeNotifier, &QSocketNotifier::activated, this, [this] { pushOutput(); });
    writeNotifier->setEnabled(false);
}

FakeProjector::~FakeProjector()
{
    closeDescriptors();
}

void FakeProjector::send(const QByteArray &data)
{
    if (hungUp)
        return;
    outgoing.append(data);
    pushOutput();
}

qint64 FakeProjector::pushOutput()
{
    while (!outgoing.isEmpty() && masterFd >= 0) {
        const ssize_t written = ::write(masterFd, outgoing.constData(),
                                        size_t(qMin<qint64>(outgoing.size(), kChunk)));
        if (written <= 0)
            break; // the pty is full until the program reads
        outgoing.remove(0, qsizetype(written));
    }
    if (writeNotifier)
        writeNotifier->setEnabled(!outgoing.isEmpty() && masterFd >= 0);
    return outgoing.size();
}

qint64 FakeProjector::drain()
{
    qint64 total = 0;
    char buffer[kChunk];
    while (masterFd >= 0) {
        const ssize_t got = ::read(masterFd, buffer, sizeof buffer);
        if (got < 0 && errno != EAGAIN && farEndTimer && farEndOpen) {
            // EIO: the program closed its end; wait for the next open.
            farEndOpen = false;
            readNotifier->setEnabled(false);
            farEndTimer->start();
            emit farEndClosed();
        }
        if (got <= 0)
            break;
        record(buffer, got);
        total += got;
    }
    return total;
}

bool FakeProjector::waitForFrames(qsizetype count, int msecs)
{
    return waitUntil([this, count] { return completeFrames.size() >= count; }, msecs);
}

bool FakeProjector::waitForBytes(qsizetype count, int msecs)
{
    return waitUntil([this, count] { return bytes.size() >= count; }, msecs);
}

bool FakeProjector::waitUntil(const std::function<bool()> &done, int msecs)
{
    const QDeadlineTimer deadline(msecs);
    for (;;) {
        drain();
        if (done())
            return true;
        if (masterFd < 0 || deadline.hasExpired())
            return false;
        pollfd readable {masterFd, POLLIN, 0};
        ::poll(&readable, 1, int(deadline.remainingTime()));
    }
}

void FakeProjector::setDraining(Draining draining)
{
    if (readNotifier)
        readNotifier->setEnabled(draining == Draining::On);
    if (draining == Draining::On)
        drain();
}

void FakeProjector::clearRecord()
{
    bytes.clear();
    partial.clear();
    completeFrames.clear();
}

qint64 FakeProjector::fillOutputQueue()
{
    if (slaveFd < 0)
        return 0;
    const QByteArray filler(kChunk, kFillByte);
    qint64 total = 0;
    // The kernel moves bytes on to the master's side a moment after a write, which
    // makes room again; the queue is full once a pause frees nothing.
    for (bool paused = false;; paused = true) {
        qint64 round = 0;
        for (;;) {
            const ssize_t written = ::write(slaveFd, filler.constData(), size_t(filler.size()));
            if (written <= 0)
                break;
            round += written;
        }
        while (::write(slaveFd, &kFillByte, 1) == 1)
            ++round;
        total += round;
        if (round == 0 && (total > 0 || paused))
            return total;
        ::poll(nullptr, 0, kSettleTime);
    }
}

void FakeProjector::hangUp()
{
    hungUp = true;
    outgoing.clear();
    closeDescriptors();
}

void FakeProjector::watchFarEnd()
{
    if (masterFd < 0 || farEndTimer)
        return;
    ::close(slaveFd);
    slaveFd = -1;
    readNotifier->setEnabled(false);
    farEndTimer = new QTimer(this);
    farEndTimer->setInterval(kFarEndCheck);
    connect(farEndTimer, &QTimer::timeout, this, &FakeProjector::checkFarEnd);
    farEndTimer->start();
}

void FakeProjector::checkFarEnd()
{
    // The master reports a hang-up for as long as nobody has the slave open.
    pollfd watched {masterFd, POLLIN, 0};
    if (masterFd < 0 || ::poll(&watched, 1, 0) < 0 || (watched.revents & POLLHUP))
        return;
    farEndTimer->stop();
    farEndOpen = true;
    readNotifier->setEnabled(true);
    emit farEndOpened();
    pushOutput();
}

void FakeProjector::record(const char *data, qint64 size)
{
    bytes.append(data, qsizetype(size));
    emit bytesReceived(QByteArray(data, qsizetype(size)));
    for (qint64 i = 0; i < size; ++i) {
        partial.append(data[i]);
        if (data[i] == kCarriageReturn) {
            completeFrames.append(partial);
            const QByteArray frame = partial;
            partial.clear();
            emit frameReceived(frame);
        }
    }
}

void FakeProjector::closeDescriptors()
{
    if (farEndTimer)
        farEndTimer->stop();
    delete readNotifier;
    readNotifier = nullptr;
    delete writeNotifier;
    writeNotifier = nullptr;
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
    masterFd = slaveFd = -1;
}
