// Lumivox beside bare Qt baselines, in one run and with the same Qt: start-up to the
// first painted frame, resident memory after start-up, the cost of a tick and of a
// command, and CPU time while idle. Prints medians and ratios; judges nothing.

#include "link/serialport.h"
#include "probe/portprobe.h"
#include "probe/tickwatch.h"
#include "probe/windowform.h"
#include "ui/lumivox.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kDefaultRuns = 15; // start-ups of each program
constexpr int kDefaultIdleSeconds = 30;
constexpr int kCpuWindowSeconds = 5; // idle CPU time is taken per window of this length
constexpr int kIdleSettle = 2000; // ms after the start before idle CPU counts
constexpr int kTickSamples = 500;
constexpr int kCommandSamples = 200;
constexpr int kSettle = 300; // ms of event processing after showing a window
constexpr int kStartTimeout = 20000; // ms a program may take to show its first frame
constexpr int kWireTimeout = 1000; // ms for bytes to cross the pty
constexpr int kReadWait = 1; // ms between looks whether the reply has reached the port
constexpr qint64 kNanosPerMilli = 1000000;
constexpr int kMillisPerSecond = 1000;
constexpr double kNanosPerMicro = 1000.0;
constexpr double kPercent = 100.0;
constexpr int kFrameLength = 11; // a 10-byte command and its carriage return
constexpr char kCommand[] = "* 0 IR 025";
constexpr int kTickInterval = 100; // ms between two ticks of the program
constexpr double kStartTarget = 1.3; // ratio to the bare window
constexpr double kMemoryTarget = 1.3;
constexpr double kIdleTarget = 0.5; // % of one core
constexpr double kWireTarget = 1.0; // ms from the click to the bytes on the wire
constexpr int kDefaultGapSeconds = 10; // reply stream over which the tick gaps are taken
constexpr int kLogCap = 10000; // lines the log view keeps
constexpr int kLogSamples = 1500; // lines logged at each fill level
constexpr int kReplyInterval = 25; // ms between two replies of the stream
constexpr int kGapTarget = 150; // ms: the longest gap between two ticks
constexpr double kLogTarget = 2.0; // ratio of a line at the cap to a line in an empty log

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

void printRow(const char *what, double value, double baseline, const char *unit,
              const QString &target = {})
{
    std::printf("%-44s %10.3f %-4s %10.3f %-4s %8.2fx  %s\n", what, value, unit, baseline, unit,
                baseline > 0 ? value / baseline : 0.0, qPrintable(target));
}

QString verdict(bool met, const QString &target)
{
    return target + (met ? QStringLiteral(": met") : QStringLiteral(": MISSED"));
}

void settle(int msecs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < msecs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, msecs);
}

struct StartUp
{
    double ms = 0;
    double residentKiB = 0;
};

// From starting the process to its report of the first frame.
bool startUp(const QString &program, const QStringList &arguments, const QString &directory,
             StartUp *result)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    QByteArray output;
    while (!output.contains('\n') && clock.elapsed() < kStartTimeout) {
        if (!process.waitForReadyRead(kStartTimeout) && process.state() == QProcess::NotRunning)
            break;
        output += process.readAllStandardOutput();
    }
    result->ms = double(clock.nsecsElapsed()) / kNanosPerMilli;
    process.waitForFinished(kStartTimeout);
    const QList<QByteArray> words = output.trimmed().split(' ');
    if (words.value(0) != "painted") {
        std::fprintf(stderr, "%s gave no first frame: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        return false;
    }
    result->residentKiB = words.value(1).toDouble();
    return true;
}

double timeNs(const std::function<void()> &work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed());
}

// CPU time of all threads of a process, in ns.
qint64 cpuNs(qint64 pid)
{
    qint64 total = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly))
            total += schedstat.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

struct Pty
{
    int master = -1;
    int slave = -1;
    QString path;

    bool open()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return false;
        termios settings {};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        path = QString::fromLocal8Bit(name);
        return true;
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    }
    // Reads what arrived at the master until count bytes came; false on time-out.
    bool receive(int count)
    {
        QElapsedTimer clock;
        clock.start();
        char buffer[256];
        int got = 0;
        while (got < count) {
            const ssize_t read = ::read(master, buffer, sizeof buffer);
            if (read > 0)
                got += int(read);
            else if (clock.elapsed() > kWireTimeout)
                return false;
        }
        return true;
    }
    void discard()
    {
        char buffer[256];
        while (::read(master, buffer, sizeof buffer) > 0) { }
    }
};
// Until the port holds that many bytes: the kernel moves them across the pty a moment
// after the write.
void waitForInput(const Lumivox &window, qsizetype count)
{
    for (;;) {
        int inDevice = 0;
        const PortDevice *port = window.session().port();
        if (ioctl(int(testsupport::portHandle(port)), FIONREAD, &inDevice) == 0
            && inDevice + testsupport::portHeldBytes(port) >= count)
            return;
        ::poll(nullptr, 0, kReadWait);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Measures Lumivox beside bare Qt baselines and prints medians and ratios."));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"),
                                        QStringLiteral("Start-ups of each program (default 15)."),
                                        QStringLiteral("n"), QString::number(kDefaultRuns));
    const QCommandLineOption gapOption(
        QStringLiteral("gap-seconds"),
        QStringLiteral("Reply stream over which the tick gaps are taken (default 10)."),
        QStringLiteral("s"), QString::number(kDefaultGapSeconds));
    const QCommandLineOption idleOption(
        QStringLiteral("idle-seconds"),
        QStringLiteral("Idle time over which CPU time is taken (default 30)."), QStringLiteral("s"),
        QString::number(kDefaultIdleSeconds));
    parser.addOption(runsOption);
    parser.addOption(idleOption);
    parser.addOption(gapOption);
    parser.process(application);
    const int runs = std::max(1, parser.value(runsOption).toInt());
    const int idleSeconds = std::max(kCpuWindowSeconds, parser.value(idleOption).toInt());
    const int gapSeconds = std::max(1, parser.value(gapOption).toInt());

    std::printf("Qt %s, platform %s\n", qVersion(), qPrintable(QGuiApplication::platformName()));
    std::printf("%-44s %15s %15s %9s  %s\n", "figure (median)", "Lumivox", "baseline", "ratio",
                "target");

    // An empty working directory: no translation catalogue is found.
    QTemporaryDir directory;
    const QString subject = QStringLiteral(LUMIVOX_BENCH_SUBJECT);
    const QString bare = QStringLiteral(LUMIVOX_BENCH_BARE);

    // Start-up and memory, the two programs alternating so that both see the same
    // state of the file cache.
    QList<double> startMs, bareStartMs, resident, bareResident;
    for (int run = 0; run < runs; ++run) {
        StartUp own, baseline;
        if (!startUp(subject, {}, directory.path(), &own)
            || !startUp(bare, {QStringLiteral("window")}, directory.path(), &baseline))
            return 1;
        startMs.append(own.ms);
        bareStartMs.append(baseline.ms);
        resident.append(own.residentKiB);
        bareResident.append(baseline.residentKiB);
    }
    const double start = median(startMs), bareStart = median(bareStartMs);
    const double memory = median(resident) / 1024, bareMemory = median(bareResident) / 1024;
    printRow("start-up to first frame (bare window)", start, bareStart, "ms",
             verdict(start <= bareStart * kStartTarget, QStringLiteral("<= 1.3x")));
    printRow("resident memory after start-up (bare window)", memory, bareMemory, "MiB",
             verdict(memory <= bareMemory * kMemoryTarget, QStringLiteral("<= 1.3x")));

    // Ticks, in this process: the tick itself and the repaint it causes.
    Lumivox window; // no port: COM1 does not exist here
    window.show();
    settle(kSettle);
    QMainWindow bareWindow;
    bareWindow.setCentralWidget(new QPushButton(QStringLiteral("Button"), &bareWindow));
    bareWindow.show();
    settle(kSettle);
    const auto tick = [&window] {
        QMetaObject::invokeMethod(&window, "OnTimer", Qt::DirectConnection);
        QCoreApplication::processEvents();
    };
    const auto bareTick = [] {
        QCoreApplication::processEvents();
    };
    QList<double> idleTicks, bareTicks;
    for (int i = 0; i < kTickSamples; ++i) {
        idleTicks.append(timeNs(tick) / kNanosPerMicro);
        bareTicks.append(timeNs(bareTick) / kNanosPerMicro);
    }
    const double idleTick = median(idleTicks), bareTickCost = median(bareTicks);
    printRow("idle tick, no contact (event loop pass)", idleTick, bareTickCost, "us",
             QStringLiteral("%1 % of the 100 ms interval")
                 .arg(idleTick / (kTickInterval * kNanosPerMicro) * kPercent, 0, 'f', 3));

    Pty line;
    QString reason;
    if (!line.open() || !window.openPort(line.path, &reason)) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(reason));
        return 1;
    }
    QList<double> replyTicks;
    for (int i = 0; i < kTickSamples; ++i) {
        const QByteArray reply = i % 2 ? "LAMP 1\r" : "LAMP 0\r";
        (void)::write(line.master, reply.constData(), size_t(reply.size()));
        waitForInput(window, reply.size());
        replyTicks.append(timeNs(tick) / kNanosPerMicro);
        line.discard(); // the lamp polls
    }
    const double replyTick = median(replyTicks);
    printRow("tick completing a reply line (event loop pass)", replyTick, bareTickCost, "us",
             QStringLiteral("%1 % of the 100 ms interval")
                 .arg(replyTick / (kTickInterval * kNanosPerMicro) * kPercent, 0, 'f', 3));

    // A command: the call itself, and from the click until all its bytes have come
    // out at the far end, against one plain write of the same frame.
    Pty rawLine;
    if (!rawLine.open())
        return 1;
    const QByteArray frame = QByteArray(kCommand) + '\r';
    QList<double> sends, wires, rawWires;
    bool arrived = true;
    for (int i = 0; i < kCommandSamples && arrived; ++i) {
        sends.append(timeNs([&] { window.sendCommand(kCommand, unsigned(qstrlen(kCommand))); })
                     / kNanosPerMicro);
        arrived = line.receive(kFrameLength);
        wires.append(timeNs([&] {
                         testsupport::WindowForm(window).brightness->click();
                         arrived = arrived && line.receive(kFrameLength);
                     })
                     / kNanosPerMicro);
        rawWires.append(timeNs([&] {
                            (void)::write(rawLine.slave, frame.constData(), size_t(frame.size()));
                            arrived = arrived && rawLine.receive(kFrameLength);
                        })
                        / kNanosPerMicro);
    }
    if (!arrived) {
        std::fprintf(stderr, "a command did not reach the far end\n");
        return 1;
    }
    const double send = median(sends), wire = median(wires), rawWire = median(rawWires);
    printRow("sendCommand, 10-byte command (one write)", send, rawWire, "us");
    printRow("click to all bytes at the far end (one write)", wire, rawWire, "us",
             verdict(wire / kNanosPerMicro <= kWireTarget, QStringLiteral("<= 1 ms")));

    // A logged line with the log view shown, the line and the repaint it causes: in an
    // empty log, and with the log at its cap, where the oldest lines must go.
    testsupport::WindowForm(window).info->click();
    QTextDocument *log = testsupport::WindowForm(window).textEdit->document();
    const auto logLines = [&window](int first, int count, double *worstMs) {
        QElapsedTimer clock;
        clock.start();
        for (int i = first; i < first + count; ++i) {
            const qint64 before = clock.nsecsElapsed();
            window.handleReply(QStringLiteral("logged line %1").arg(i));
            QCoreApplication::processEvents();
            if (worstMs)
                *worstMs
                    = std::max(*worstMs, double(clock.nsecsElapsed() - before) / kNanosPerMilli);
        }
        return double(clock.nsecsElapsed()) / count / kNanosPerMicro;
    };
    testsupport::WindowForm(window).clearLog->click();
    settle(kSettle);
    const double emptyLine = logLines(0, kLogSamples, nullptr);
    logLines(kLogSamples, kLogCap, nullptr);
    settle(kSettle);
    double worstAtCap = 0;
    const double capLine = logLines(kLogSamples + kLogCap, kLogSamples, &worstAtCap);
    printRow("logged line, log shown: at the cap (empty log)", capLine, emptyLine, "us",
             verdict(capLine <= emptyLine * kLogTarget, QStringLiteral("<= 2x")));
    std::printf("  at the cap: %d lines kept, slowest single line %.1f ms\n", log->blockCount(),
                worstAtCap);

    // The gaps between ticks under a stream of replies, "Debug" ticked and the log
    // (shown) at its cap, as a room PC left logging for hours has it.
    testsupport::WindowForm(window).debugCheckBox->setChecked(true);
    QTimer replies;
    int replyNumber = 0;
    QObject::connect(&replies, &QTimer::timeout, &window, [&line, &replyNumber] {
        const QByteArray reply = ++replyNumber % 2 ? "LAMP 1\r" : "reply line\r";
        (void)::write(line.master, reply.constData(), size_t(reply.size()));
        line.discard(); // the lamp polls
    });
    replies.start(kReplyInterval);
    QList<double> gaps;
    {
        testsupport::TickWatch watch(&window);
        settle(gapSeconds * kMillisPerSecond);
        gaps = watch.gapsMs();
    }
    replies.stop();
    const double longestGap = gaps.isEmpty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
    printRow("tick gap under a reply stream, median", median(gaps), kTickInterval, "ms");
    printRow("tick gap under a reply stream, longest", longestGap, kTickInterval, "ms",
             verdict(longestGap <= kGapTarget, QStringLiteral("<= 150 ms")));

    window.closePort();
    window.hide();
    bareWindow.hide();

    // Idle CPU time: the real program without a projector, and a bare 100 ms timer.
    QProcess program, timer;
    for (QProcess *process : {&program, &timer})
        process->setWorkingDirectory(directory.path());
    program.start(QStringLiteral(LUMIVOX_EXECUTABLE), {});
    timer.start(bare, {QStringLiteral("timer")});
    if (!program.waitForStarted() || !timer.waitForStarted())
        return 1;
    QThread::msleep(kIdleSettle);
    QList<double> usage, bareUsage;
    qint64 own = cpuNs(program.processId()), baseline = cpuNs(timer.processId());
    const qint64 ownStart = own, baselineStart = baseline;
    constexpr qint64 kWindowNs = qint64(kCpuWindowSeconds) * kMillisPerSecond * kNanosPerMilli;
    for (int elapsed = 0; elapsed < idleSeconds; elapsed += kCpuWindowSeconds) {
        QThread::sleep(kCpuWindowSeconds);
        const qint64 ownNow = cpuNs(program.processId());
        const qint64 baselineNow = cpuNs(timer.processId());
        usage.append(double(ownNow - own) / double(kWindowNs) * kPercent);
        bareUsage.append(double(baselineNow - baseline) / double(kWindowNs) * kPercent);
        own = ownNow;
        baseline = baselineNow;
    }
    const double idle = median(usage), bareIdle = median(bareUsage);
    const double totalSeconds = double(usage.size() * kCpuWindowSeconds);
    printRow("idle CPU, no contact (100 ms timer), % core", idle, bareIdle, "%",
             verdict(idle < kIdleTarget, QStringLiteral("< 0.5 %")));
    std::printf("  over %.0f s: Lumivox %.1f ms CPU, bare timer %.1f ms CPU\n", totalSeconds,
                double(own - ownStart) / kNanosPerMilli,
                double(baseline - baselineStart) / kNanosPerMilli);
    for (QProcess *process : {&program, &timer}) {
        process->kill();
        process->waitForFinished();
    }
    return 0;
}
