// The termios layer under the link, on pseudo-terminals: which names it refuses and
// why, the line settings it leaves, the bound on its input queue, and that nothing
// outlives a killed holder.

#include "fakeprojector.h"
#include "fakesysfs.h"
#include "link/commandset.h"
#include "link/portrules.h"
#include "link/serialport.h"
#include "loadfreeclock.h"
#include "loadfreetickwatch.h"
#include "probe/tickwatch.h"
#include "probe/windowform.h"
#include "session/projectorsession.h"
#include "ui/lumivox.h"
#include "windowprobe.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QThread>
#include <QtTest>

#include <QCheckBox>
#include <QPushButton>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty
constexpr qsizetype kInputQueue = 1024; // bytes the link holds for the ticks
constexpr qsizetype kFlood = 50000; // bytes of "*000" lines ahead of the lamp reply
constexpr int kPollPeriod = 31; // ticks from one lamp poll (and its reply) to the next
constexpr int kReplyLength = 5; // "*000\r"
constexpr int kTooLong = 300; // characters: past any file name the system takes
constexpr int kFloodTime = 2000; // ms of a far end sending as fast as a pty takes bytes
constexpr int kWriterWait = 50; // ms the flooding thread waits for room at most
constexpr int kFreezeBound = 1000; // ms between two ticks that a user would call a freeze
constexpr int kTickInterval = 100; // ms of the window's timer
constexpr int kLineFeedBlock = 4096; // bytes of line feeds per write
constexpr int kLongLineBytes = 10 * 1024;
constexpr int kEvents = 8; // inotify events taken per look
constexpr unsigned kMemMajor = 1; // /dev/null's numbers
constexpr unsigned kNullMinor = 3;

// A process 4242 in a procfs of the test's own whose controlling terminal has these
// numbers; its descriptors are for the caller to add.
bool addSessionProcess(const QString &procRoot, unsigned major, unsigned minor)
{
    // tty_nr: minor in bits 31-20 and 7-0, major in bits 19-8.
    const unsigned ttyNr = (minor & 0xffU) | (major << 8) | ((minor & ~0xffU) << 12);
    QFile stat(procRoot + QStringLiteral("/4242/stat"));
    return QDir(procRoot).mkpath(QStringLiteral("4242")) && stat.open(QIODevice::WriteOnly)
        && stat.write("4242 (sh) S 1 4242 4242 " + QByteArray::number(ttyNr) + " 4242 0\n") > 0;
}

// The opens an IN_OPEN watch on one node saw since the last look.
int opensSeen(int watch)
{
    inotify_event events[kEvents];
    const ssize_t size = ::read(watch, events, sizeof events);
    return size > 0 ? int(size / ssize_t(sizeof(inotify_event))) : 0;
}
} // namespace

Q_DECLARE_METATYPE(CommandSet::LineSettings)

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void refused_data();
    void refused();
    void deviceKinds_data();
    void deviceKinds();
    void sessionOnOtherInstance_data();
    void sessionOnOtherInstance();
    void lineSettings();
    void lineOfTheProtocol_data();
    void lineOfTheProtocol();
    void floodLeavesBoundedBacklog();
    void floodKeepsTicksShort_data();
    void floodKeepsTicksShort();
    void killedHolderLeavesNothing();

private:
    std::unique_ptr<FakeProjector> fake;
};

void TestSerialPort::init()
{
    fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
}

void TestSerialPort::cleanup()
{
    fake.reset();
}

void TestSerialPort::refused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << "missing"
                             << "No such file or directory";
    QTest::newRow("directory") << "directory"
                               << "Is a directory";
    QTest::newRow("plain file") << "file"
                                << "A plain file, not a serial port";
    QTest::newRow("FIFO") << "fifo"
                          << "A FIFO, not a serial port";
    QTest::newRow("not a terminal") << "null"
                                    << "Not a terminal, not a serial port";
    QTest::newRow("a node with /dev/null's numbers") << "null node"
                                                     << "Not a terminal, not a serial port";
    QTest::newRow("name too long") << "long"
                                   << "File name too long";
    QTest::newRow("held by this program") << "held"
                                          << "Device or resource busy";
    QTest::newRow("held through a symlink") << "symlink"
                                            << "Device or resource busy";
    // The pty's own path in front: handed to the system, the name would open it.
    QTest::newRow("NUL") << "nul"
                         << "control character";
    QTest::newRow("CR") << "cr"
                        << "control character";
    QTest::newRow("LF") << "lf"
                        << "control character";
    QTest::newRow("TAB") << "tab"
                         << "control character";
    QTest::newRow("DEL") << "del"
                         << "control character";
    QTest::newRow("C1") << "c1"
                        << "control character";
    // Opening it would make a new pseudo-terminal and hold that as the port.
    QTest::newRow("ptmx") << "ptmx"
                          << "Makes a new pseudo-terminal at each open, not a serial port";
    QTest::newRow("a session's terminal") << "session"
                                          << "The terminal of a running session (a shell), not "
                                             "a serial port";
    // Its Latin-1 form "/…/????????" leads to a free pseudo-terminal, which must stay shut.
    QTest::newRow("Cyrillic link") << "cyrillic"
                                   << "Device or resource busy";
}

void TestSerialPort::refused()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);

    const QString pty = fake->slavePath();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString name;
    std::unique_ptr<SerialPort> holder;
    std::unique_ptr<FakeProjector> heldPty;
    int created = 0; // entries the test itself makes in the directory
    pid_t sessionLeader = -1;
    int session[2] = {-1, -1}; // the master and terminal side of the session's terminal
    // Whichever way the test ends, the session's leader and terminal go with it.
    const auto endSession = qScopeGuard([&] {
        if (sessionLeader > 0) {
            ::kill(sessionLeader, SIGKILL);
            waitpid(sessionLeader, nullptr, 0);
        }
        for (const int fd : session) {
            if (fd >= 0)
                ::close(fd);
        }
    });
    if (kind == "missing") {
        name = dir.filePath("no-such-port");
    } else if (kind == "directory") {
        name = dir.path();
    } else if (kind == "file") {
        name = dir.filePath("plain");
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        created = 1;
    } else if (kind == "fifo") {
        name = dir.filePath("fifo");
        QCOMPARE(mkfifo(QFile::encodeName(name).constData(), S_IRUSR | S_IWUSR), 0);
        created = 1;
    } else if (kind == "null") {
        name = QStringLiteral("/dev/null");
    } else if (kind == "null node") {
        name = dir.filePath("null");
        if (::mknod(QFile::encodeName(name).constData(), S_IFCHR | S_IRUSR | S_IWUSR,
                    makedev(kMemMajor, kNullMinor))
            != 0)
            QSKIP("No permission to make a device node here");
        created = 1;
    } else if (kind == "long") {
        name = QLatin1Char('/') + QString(kTooLong, QLatin1Char('a'));
    } else if (kind == "held") {
        name = pty;
        holder = SerialPort::open(pty);
    } else if (kind == "symlink") {
        name = pty;
        const QString link = dir.filePath("by-id-link");
        QVERIFY(QFile::link(pty, link));
        holder = SerialPort::open(link);
        created = 1;
    } else if (kind == "ptmx") {
        name = QStringLiteral("/dev/ptmx");
    } else if (kind == "session") {
        // A shell's terminal: a child makes it the controlling terminal of a new session.
        QCOMPARE(openpty(&session[0], &session[1], nullptr, nullptr, nullptr), 0);
        int ready[2];
        QCOMPARE(pipe(ready), 0);
        sessionLeader = fork();
        if (sessionLeader == 0) {
            const char done = setsid() > 0 && ioctl(session[1], TIOCSCTTY, 0) == 0 ? 'y' : 'n';
            (void)::write(ready[1], &done, 1);
            for (;;)
                pause();
        }
        char done = 0;
        QCOMPARE(::read(ready[0], &done, 1), ssize_t(1));
        ::close(ready[0]);
        ::close(ready[1]);
        QCOMPARE(done, 'y');
        name = QString::fromLocal8Bit(ttyname(session[1]));
    } else if (kind == "cyrillic") {
        heldPty = std::make_unique<FakeProjector>();
        QVERIFY(heldPty->isValid());
        holder = SerialPort::open(heldPty->slavePath());
        const QString cyrillic = QStringLiteral("проектор");
        name = dir.filePath(cyrillic);
        QVERIFY(QFile::link(heldPty->slavePath(), name));
        QVERIFY(QFile::link(pty, dir.filePath(QString(cyrillic.size(), QLatin1Char('?')))));
        created = 2;
    } else {
        const QHash<QString, QChar> controls {{"nul", QChar(0)},         {"cr", QLatin1Char('\r')},
                                              {"lf", QLatin1Char('\n')}, {"tab", QLatin1Char('\t')},
                                              {"del", QChar(0x7f)},      {"c1", QChar(0x85)}};
        name = pty + controls.value(kind) + QStringLiteral("x");
    }
    if (kind == "held" || kind == "symlink" || kind == "cyrillic")
        QVERIFY(holder);

    // Nodes of the test's own are watched for any open (a FIFO's would not even block).
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const auto closeWatch = qScopeGuard([watch] { ::close(watch); });
    const bool watched = kind == "file" || kind == "fifo" || kind == "null node";
    const QByteArray own = watched ? QFile::encodeName(name) : QByteArray();
    QVERIFY(own.isEmpty() || inotify_add_watch(watch, own.constData(), IN_OPEN) >= 0);

    Lumivox window;
    testsupport::WindowForm(window).textEdit->clear();
    QString why;
    QVERIFY(!window.openPort(name, &why));
    QVERIFY(!window.session().port());
    if (!own.isEmpty()) {
        QCOMPARE(opensSeen(watch), 0);
        // The watch does see an open made as the opener makes it.
        ::close(::open(own.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        QCOMPARE(opensSeen(watch), 1);
    }
    qInfo("%s: %s", qPrintable(kind), qPrintable(why));
    QVERIFY2(why.endsWith(reason), qPrintable(why));
    QVERIFY(!why.contains(QChar(0)) && !why.contains(QLatin1Char('\r'))
            && !why.contains(QLatin1Char('\n')));
    // The refused name left the held port, the terminals and the directory as they were.
    if (holder)
        QVERIFY(holder->writeByte('x') == SerialPort::WriteResult::Written);
    if (sessionLeader > 0) {
        termios settings {};
        QCOMPARE(tcgetattr(session[1], &settings), 0);
        QVERIFY(settings.c_lflag & ICANON); // still the shell's cooked mode
    }
    if (kind != "held" && kind != "symlink")
        QVERIFY(SerialPort::open(pty)); // nothing was left holding the fake's own line
    QCOMPARE(
        QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size(),
        created);
}

void TestSerialPort::deviceKinds_data()
{
    // Decided from the node's type and numbers, a sysfs and a procfs of the test's own:
    // nothing is opened to find out what it is.
    QTest::addColumn<bool>("block"); // a block device's node, else a character device's
    QTest::addColumn<uint>("major");
    QTest::addColumn<uint>("minor");
    QTest::addColumn<QString>("sysfs"); // its subsystem, and "device" when backed by one
    QTest::addColumn<bool>("session"); // some session's controlling terminal
    QTest::addColumn<QString>("refusal"); // the start of the reason; empty: allowed

    const QString tty = QStringLiteral("tty");
    const QString port = QStringLiteral("tty device");
    QTest::newRow("/dev/tty") << false << 5U << 0U << tty << false << "The terminal of whoever";
    QTest::newRow("/dev/console") << false << 5U << 1U << tty << false << "The system console";
    QTest::newRow("/dev/ptmx") << false << 5U << 2U << tty << false << "Makes a new";
    QTest::newRow("/dev/ttyprintk") << false << 5U << 3U << tty << false << "The kernel's log";
    QTest::newRow("/dev/tty0") << false << 4U << 0U << tty << false << "A virtual console";
    QTest::newRow("/dev/tty1") << false << 4U << 1U << tty << false << "A virtual console";
    QTest::newRow("/dev/tty63") << false << 4U << 63U << tty << false << "A virtual console";
    QTest::newRow("/dev/ttyS0") << false << 4U << 64U << port << false << "";
    QTest::newRow("/dev/ttyUSB0") << false << 188U << 0U << port << false << "";
    QTest::newRow("getty on /dev/ttyS0")
        << false << 4U << 64U << port << true << "The terminal of a";
    // devpts lists its terminals nowhere in sysfs.
    QTest::newRow("simulator's pty") << false << 136U << 3U << "" << false << "";
    QTest::newRow("shell's pty") << false << 136U << 3U << "" << true << "The terminal of a";
    QTest::newRow("pty far side") << false << 128U << 3U << "" << false << "The far side";
    QTest::newRow("legacy pty far side") << false << 2U << 0U << tty << false << "The far side";
    QTest::newRow("null-modem emulator") << false << 240U << 0U << tty << false << "";
    QTest::newRow("/dev/null") << false << 1U << 3U << "mem" << false << "Not a terminal";
    QTest::newRow("/dev/zero") << false << 1U << 5U << "mem" << false << "Not a terminal";
    QTest::newRow("/dev/random") << false << 1U << 8U << "mem" << false << "Not a terminal";
    QTest::newRow("/dev/watchdog") << false << 10U << 130U << "misc" << false << "Not a terminal";
    QTest::newRow("/dev/watchdog0")
        << false << 248U << 0U << "watchdog device" << false << "Not a terminal";
    QTest::newRow("no driver") << false << 240U << 1U << "" << false << "Not a terminal";
    // Its numbers dressed as a serial port: the node's type decides.
    QTest::newRow("/dev/sda") << true << 8U << 0U << port << false << "A block device";
}

void TestSerialPort::deviceKinds()
{
    QFETCH(bool, block);
    QFETCH(uint, major);
    QFETCH(uint, minor);
    QFETCH(QString, sysfs);
    QFETCH(bool, session);
    QFETCH(QString, refusal);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString sys = root.filePath(QStringLiteral("sys"));
    const QString proc = root.filePath(QStringLiteral("proc"));
    QVERIFY(QDir().mkpath(proc));
    if (!sysfs.isEmpty())
        QVERIFY(testsupport::addSysfsDevice(sys, major, minor,
                                            sysfs.section(QLatin1Char(' '), 0, 0),
                                            sysfs.endsWith(QLatin1String("device"))));
    if (session)
        QVERIFY(addSessionProcess(proc, major, minor));
    struct stat node
    {
    };
    node.st_mode = block ? S_IFBLK : S_IFCHR;
    node.st_rdev = makedev(major, minor);
    const QString why = portrules::judge(node, sys, proc).refusal;
    QVERIFY2(refusal.isEmpty() ? why.isEmpty() : why.startsWith(refusal), qPrintable(why));
}

void TestSerialPort::sessionOnOtherInstance_data()
{
    // A process whose tty_nr is the fake projector's pseudo-terminal number, holding as
    // its descriptor 0: the very node, a node of the same number on another filesystem
    // (another devpts instance, as in a container), or nothing that can be read.
    QTest::addColumn<QString>("holds");
    QTest::addColumn<bool>("sameNumber");
    QTest::addColumn<bool>("session");

    QTest::newRow("this instance's terminal") << "node" << true << true;
    QTest::newRow("another instance's terminal") << "other" << true << false;
    QTest::newRow("descriptors not readable") << "" << true << true;
    QTest::newRow("another terminal number") << "node" << false << false;
}

void TestSerialPort::sessionOnOtherInstance()
{
    QFETCH(QString, holds);
    QFETCH(bool, sameNumber);
    QFETCH(bool, session);

    struct stat node
    {
    };
    QCOMPARE(::stat(QFile::encodeName(fake->slavePath()).constData(), &node), 0);
    const unsigned major = ::major(node.st_rdev);
    const unsigned minor = ::minor(node.st_rdev) + (sameNumber ? 0 : 1);
    QTemporaryDir proc;
    QVERIFY(proc.isValid());
    QVERIFY(addSessionProcess(proc.path(), major, minor));
    const QString process = proc.filePath(QStringLiteral("4242"));
    if (!holds.isEmpty()) {
        QVERIFY(QDir().mkpath(process + QStringLiteral("/fd")));
        QString target = fake->slavePath();
        if (holds == QLatin1String("other")) {
            // A node only: nothing is opened through it.
            target = proc.filePath(QStringLiteral("pts-elsewhere"));
            if (::mknod(QFile::encodeName(target).constData(), S_IFCHR | 0600, node.st_rdev) != 0)
                QSKIP("No permission to make a device node here");
        }
        QVERIFY(QFile::link(target, process + QStringLiteral("/fd/0")));
    }
    QCOMPARE(portrules::isSessionTerminal(::major(node.st_rdev), ::minor(node.st_rdev),
                                          quint64(node.st_dev), proc.path()),
             session);
}

void TestSerialPort::lineSettings()
{
    std::unique_ptr<SerialPort> port = SerialPort::open(fake->slavePath());
    QVERIFY(port);
    termios settings {};
    QCOMPARE(tcgetattr(int(port->handle()), &settings), 0);
    QCOMPARE(cfgetispeed(&settings), speed_t(B9600));
    QCOMPARE(cfgetospeed(&settings), speed_t(B9600));
    QCOMPARE(settings.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(settings.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    QCOMPARE(settings.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP),
             tcflag_t(0));
    QCOMPARE(settings.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));

    // Every byte value passes both ways untouched.
    QByteArray all;
    for (int value = 0; value < 256; ++value)
        all.append(char(value));
    for (char byte : std::as_const(all))
        QVERIFY(port->writeByte(byte) == SerialPort::WriteResult::Written);
    QVERIFY(fake->waitForBytes(all.size(), kWireWait));
    QCOMPARE(fake->received(), all);
    fake->send(all);
    QByteArray back;
    const QDeadlineTimer deadline(kWireWait);
    while (back.size() < all.size() && !deadline.hasExpired()) {
        char buffer[64];
        back.append(buffer, port->read(buffer, sizeof buffer));
        QThread::msleep(1);
    }
    QCOMPARE(back, all);
}

void TestSerialPort::lineOfTheProtocol_data()
{
    using Parity = CommandSet::Parity;
    using Flow = CommandSet::FlowControl;
    QTest::addColumn<CommandSet::LineSettings>("alternatives"); // none: the built-in protocol
    QTest::addColumn<int>("baud"); // chosen in place of the usual one; 0 for that one
    QTest::addColumn<uint>("speed");
    // What sticks on a pseudo-terminal: it keeps CS8 and clears PARENB whatever it is
    // given, so that even parity and 7 bits are not seen here; odd, mark and space are.
    QTest::addColumn<uint>("control");
    QTest::addColumn<uint>("input"); // the flow control's IXON and IXOFF
    QTest::addColumn<QString>("refusal"); // after the port's path and ": "

    const uint none = 0;
    const CommandSet::LineSettings builtIn;
    QTest::newRow("built-in") << builtIn << 0 << uint(B9600) << none << none << "";
    QTest::newRow("the set's first of each")
        << CommandSet::LineSettings {{19200, 9600},
                                     {7, 8},
                                     {Parity::Odd, Parity::None},
                                     {2, 1},
                                     {Flow::None, Flow::Hardware}}
        << 0 << uint(B19200) << uint(PARODD | CSTOPB) << none << "";
    QTest::newRow("mark, hardware")
        << CommandSet::LineSettings {{38400}, {8}, {Parity::Mark}, {1}, {Flow::Hardware}} << 0
        << uint(B38400) << uint(PARODD | CMSPAR | CRTSCTS) << none << "";
    QTest::newRow("space, software")
        << CommandSet::LineSettings {{4800}, {8}, {Parity::Space}, {1}, {Flow::Software}} << 0
        << uint(B4800) << uint(CMSPAR) << uint(IXON | IXOFF) << "";
    QTest::newRow("a rate chosen over the set's")
        << CommandSet::LineSettings {{19200}, {8}, {Parity::Even}, {2}, {Flow::None}} << 115200
        << uint(B115200) << uint(CSTOPB) << none << "";
    QTest::newRow("a rate chosen over the built-in")
        << builtIn << 57600 << uint(B57600) << none << none << "";
    QTest::newRow("a rate termios has not") << builtIn << 12345 << uint(B0) << none << none
                                            << "12345 baud is not a rate this system can set";
}

void TestSerialPort::lineOfTheProtocol()
{
    QFETCH(CommandSet::LineSettings, alternatives);
    QFETCH(int, baud);
    QFETCH(uint, speed);
    QFETCH(uint, control);
    QFETCH(uint, input);
    QFETCH(QString, refusal);

    ProjectorSession session;
    if (!alternatives.bauds.isEmpty()) {
        CommandSet set;
        set.line = alternatives;
        session.setCommandSet(set);
    }
    session.setBaudRate(baud);
    termios found {};
    QCOMPARE(tcgetattr(fake->slaveDescriptor(), &found), 0);
    QString reason;
    const ProjectorSession::OpenResult result = session.openPort(fake->slavePath(), &reason);
    termios line {};
    QCOMPARE(tcgetattr(fake->slaveDescriptor(), &line), 0);
    if (!refusal.isEmpty()) {
        QCOMPARE(result, ProjectorSession::OpenResult::Failed);
        QCOMPARE(reason, fake->slavePath() + QStringLiteral(": ") + refusal);
        // Never some other rate instead: the line is left as it was.
        QCOMPARE(cfgetospeed(&line), cfgetospeed(&found));
        return;
    }
    QCOMPARE(result, ProjectorSession::OpenResult::Open);
    QCOMPARE(uint(cfgetispeed(&line)), speed);
    QCOMPARE(uint(cfgetospeed(&line)), speed);
    QCOMPARE(uint(line.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS)), control);
    QCOMPARE(uint(line.c_iflag & (IXON | IXOFF)), input);
    if (input != 0) {
        QCOMPARE(line.c_cc[VSTART], cc_t(0x11));
        QCOMPARE(line.c_cc[VSTOP], cc_t(0x13));
    }
}

void TestSerialPort::floodLeavesBoundedBacklog()
{
    // A projector that answered "*000" 10,000 times: only what a 1024-byte queue holds
    // stays behind it, so the lamp reply after it is acted on within that many lines.
    Lumivox window;
    testsupport::openOn(window, fake->slavePath());
    QByteArray flood;
    while (flood.size() < kFlood)
        flood.append("*000\r");
    fake->send(flood);
    int ticks = 0;
    while (fake->pushOutput() > 0) {
        QVERIFY(testsupport::waitForInput(window, 1, kWireWait));
        testsupport::tick(window);
        QVERIFY2(++ticks < kFlood, "the flood never ends");
    }
    QVERIFY(testsupport::waitForInput(window, 1, kWireWait)); // its tail has arrived

    int after = 0;
    while (!window.isLampOn()) {
        if (after % kPollPeriod == 0) {
            fake->send("LAMP 1\r"); // the answer to each poll
            testsupport::waitForInput(window, testsupport::bytesWaiting(window) + 1, kWireWait);
        }
        testsupport::tick(window);
        QVERIFY2(++after <= kInputQueue / kReplyLength + kPollPeriod,
                 qPrintable(QString::number(after)));
    }
    qInfo("flood of %lld bytes sent during %d ticks; lamp reply acted on %d ticks after its end",
          qint64(kFlood), ticks, after);
    QVERIFY(window.session().port());
}

void TestSerialPort::floodKeepsTicksShort_data()
{
    QTest::addColumn<QByteArray>("stream"); // sent again and again
    QTest::newRow("line feeds") << QByteArray(kLineFeedBlock, '\n');
    QTest::newRow("10 KB lines") << QByteArray(kLongLineBytes, 'x') + '\r';
}

void TestSerialPort::floodKeepsTicksShort()
{
    // A far end on its own thread, never waiting for the window: the window's own timer
    // must go on ticking with "Debug" ticked and the log shown.
    QFETCH(QByteArray, stream);
    int master = -1;
    int slave = -1;
    QCOMPARE(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    QCOMPARE(fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK), 0);
    auto window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, QString::fromLocal8Bit(ttyname(slave)));
    testsupport::WindowForm(*window).debugCheckBox->setChecked(true);
    testsupport::WindowForm(*window).info->click();

    std::atomic<bool> stop {false};
    std::atomic<qint64> sent {0};
    std::thread farEnd([&] {
        while (!stop) {
            pollfd writable {master, POLLOUT, 0};
            if (::poll(&writable, 1, kWriterWait) <= 0)
                continue;
            const ssize_t written = ::write(master, stream.constData(), size_t(stream.size()));
            if (written > 0)
                sent += written;
        }
    });
    // Ticks and time as the program saw them, less the test's waits for a CPU.
    const testsupport::LoadFreeTickWatch watch(window.get());
    const testsupport::LoadFreeClock clock;
    QTest::qWait(kFloodTime);
    const qint64 ownTime = clock.elapsed();
    stop = true;
    farEnd.join();
    window.reset();
    ::close(master);
    ::close(slave);

    qInfo("%lld bytes in %lld ms: %lld ticks, the longest gap between two %.1f ms", qint64(sent),
          ownTime, qint64(watch.gapsMs().size()), watch.longestGapMs());
    QVERIFY(watch.gapsMs().size() >= ownTime / kTickInterval / 2);
    QVERIFY2(watch.longestGapMs() < kFreezeBound,
             qPrintable(QString::number(watch.longestGapMs())));
}

void TestSerialPort::killedHolderLeavesNothing()
{
    int ready[2];
    QCOMPARE(pipe(ready), 0);
    const QByteArray path = QFile::encodeName(fake->slavePath());
    const pid_t child = fork();
    if (child == 0) {
        // Holds the port until killed; reports whether it got it.
        const std::unique_ptr<SerialPort> port = SerialPort::open(QFile::decodeName(path));
        const char held = port ? 'y' : 'n';
        (void)::write(ready[1], &held, 1);
        for (;;)
            pause();
    }
    QVERIFY(child > 0);
    char held = 0;
    QCOMPARE(::read(ready[0], &held, 1), ssize_t(1));
    ::close(ready[0]);
    ::close(ready[1]);
    const bool refusedWhileHeld = !SerialPort::open(fake->slavePath());
    ::kill(child, SIGKILL);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QCOMPARE(held, 'y');
    QVERIFY(refusedWhileHeld);
    // The fake still holds its side, so an exclusive mode would have outlived the killed
    // holder and refused everyone but root.
    const int look = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(look >= 0);
    int exclusive = -1;
    QCOMPARE(ioctl(look, TIOCGEXCL, &exclusive), 0);
    ::close(look);
    QCOMPARE(exclusive, 0);
    QVERIFY(SerialPort::open(fake->slavePath()));
}

QTEST_MAIN(TestSerialPort)

#include "tst_serialport.moc"
