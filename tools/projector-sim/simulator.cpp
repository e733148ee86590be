#include "simulator.h"

#include <QTextStream>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kFarEndCheckMs = 100; // how often to look whether the program opened the port
constexpr int kMillisPerSecond = 1000;
constexpr int kReadChunk = 512;
constexpr char kCarriageReturn = '\r';
constexpr int kPrintableFirst = 0x20;
constexpr int kPrintableLast = 0x7e;

QString visible(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        const int value = uchar(c);
        if (c == '\r')
            text += QStringLiteral("\\r");
        else if (c == '\n')
            text += QStringLiteral("\\n");
        else if (value < kPrintableFirst || value > kPrintableLast)
            text += QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0'));
        else
            text += QChar(value);
    }
    return text;
}
} // namespace

Simulator::Simulator(const Options &options, QObject *parent)
    : QObject(parent)
    , options(options)
    , projector(options.projector)
    , random(options.seed)
{
    farEndTimer.setInterval(kFarEndCheckMs);
    connect(&farEndTimer, &QTimer::timeout, this, &Simulator::watchForFarEnd);
    connect(&garbageTimer, &QTimer::timeout, this, &Simulator::sendGarbage);
    hangUpTimer.setSingleShot(true);
    connect(&hangUpTimer, &QTimer::timeout, this, &Simulator::hangUp);
}

Simulator::~Simulator()
{
    readNotifier.reset();
    if (master >= 0)
        ::close(master);
}

bool Simulator::start(QString *error)
{
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    // Raw before the program opens it; the program sets its own line settings then.
    termios settings {};
    ::tcgetattr(slave, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
    // Not held open here, so that the program's close shows as a hang-up on the master.
    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    slavePath = QString::fromLocal8Bit(name);
    clock.start();
    farEndTimer.start();
    return true;
}

void Simulator::watchForFarEnd()
{
    // The master reports a hang-up for as long as nobody has the slave open.
    pollfd watched {master, POLLIN, 0};
    if (::poll(&watched, 1, 0) < 0 || (watched.revents & POLLHUP))
        return;
    farEndTimer.stop();
    connected = true;
    if (options.log)
        QTextStream(stdout) << QStringLiteral("[%1] port opened by the program\n")
                                   .arg(clock.elapsed() / double(kMillisPerSecond), 0, 'f', 3)
                            << Qt::flush;
    readNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    connect(readNotifier.get(), &QSocketNotifier::activated, this, &Simulator::readFromProgram);
    if (options.garbagePerSecond > 0)
        garbageTimer.start(kMillisPerSecond / options.garbagePerSecond);
    if (options.hangUpAfterMs >= 0 && !hangUpTimer.isActive())
        hangUpTimer.start(int(options.hangUpAfterMs));
}

void Simulator::readFromProgram()
{
    char chunk[kReadChunk];
    const ssize_t count = ::read(master, chunk, sizeof chunk);
    if (count < 0 && errno == EAGAIN)
        return;
    if (count <= 0) {
        // The program closed the port: wait for the next open.
        readNotifier.reset();
        garbageTimer.stop();
        connected = false;
        received.clear();
        if (options.log)
            QTextStream(stdout) << QStringLiteral("[%1] port closed by the program\n")
                                       .arg(clock.elapsed() / double(kMillisPerSecond), 0, 'f', 3)
                                << Qt::flush;
        emit farEndClosed();
        farEndTimer.start();
        return;
    }
    received.append(chunk, int(count));
    int end;
    while ((end = received.indexOf(kCarriageReturn)) >= 0) {
        const QByteArray frame = received.left(end + 1);
        received.remove(0, end + 1);
        logFrame("<-", frame);
        handleCommand(frame.chopped(1));
    }
}

void Simulator::handleCommand(const QByteArray &command)
{
    const QByteArray reply = projector.answer(command, clock.elapsed());
    if (!options.mute && !reply.isEmpty())
        sendToProgram(reply);
}

void Simulator::sendToProgram(const QByteArray &bytes)
{
    logFrame("->", bytes);
    (void)::write(master, bytes.constData(), size_t(bytes.size()));
}

void Simulator::sendGarbage()
{
    if (connected && !options.mute)
        sendToProgram(QByteArray(1, char(random.bounded(kPrintableLast + 1))));
}

void Simulator::hangUp()
{
    if (options.log)
        QTextStream(stdout) << QStringLiteral("[%1] hanging up\n")
                                   .arg(clock.elapsed() / double(kMillisPerSecond), 0, 'f', 3)
                            << Qt::flush;
    readNotifier.reset();
    farEndTimer.stop();
    garbageTimer.stop();
    ::close(master);
    master = -1;
    connected = false;
    emit hungUp();
}

void Simulator::logFrame(const char *direction, const QByteArray &bytes) const
{
    if (!options.log)
        return;
    QTextStream(stdout) << QStringLiteral("[%1] %2 %3\n")
                               .arg(clock.elapsed() / double(kMillisPerSecond), 0, 'f', 3)
                               .arg(QLatin1String(direction), visible(bytes))
                        << Qt::flush;
}
