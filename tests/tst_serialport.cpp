// The termios layer under the link, on pseudo-terminals: which names it refuses and
// why, the line settings it leaves, the bound on its input queue, and that nothing
// outlives a killed holder.

#include "fakeprojector.h"
#include "lumivox.h"
#include "serialport.h"
#include "windowprobe.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty
constexpr qsizetype kInputQueue = 1024; // bytes the link holds for the ticks
constexpr qsizetype kFlood = 50000; // bytes of "*000" lines ahead of the lamp reply
constexpr int kPollPeriod = 31; // ticks from one lamp poll (and its reply) to the next
constexpr int kReplyLength = 5; // "*000\r"
constexpr int kTooLong = 300; // characters: past any file name the system takes
} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void refused_data();
    void refused();
    void lineSettings();
    void floodLeavesBoundedBacklog();
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
                                << "Not a serial port";
    QTest::newRow("FIFO") << "fifo"
                          << "Not a serial port";
    QTest::newRow("not a terminal") << "null"
                                    << "Not a serial port";
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
    if (kind == "missing") {
        name = dir.filePath("no-such-port");
    } else if (kind == "directory") {
        name = dir.path();
    } else if (kind == "file") {
        name = dir.filePath("plain");
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == "fifo") {
        name = dir.filePath("fifo");
        QCOMPARE(mkfifo(QFile::encodeName(name).constData(), S_IRUSR | S_IWUSR), 0);
    } else if (kind == "null") {
        name = QStringLiteral("/dev/null");
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
    } else {
        const QHash<QString, QChar> controls {{"nul", QChar(0)},
                                              {"cr", QLatin1Char('\r')},
                                              {"lf", QLatin1Char('\n')},
                                              {"tab", QLatin1Char('\t')},
                                              {"del", QChar(0x7f)}};
        name = pty + controls.value(kind) + QStringLiteral("x");
    }
    if (kind == "held" || kind == "symlink")
        QVERIFY(holder);

    Lumivox window;
    window.form().textEdit->clear();
    QString why;
    QVERIFY(!window.openPort(name, &why));
    QVERIFY(!window.port());
    qInfo("%s: %s", qPrintable(kind), qPrintable(why));
    QVERIFY2(why.endsWith(reason), qPrintable(why));
    QVERIFY(!why.contains(QChar(0)) && !why.contains(QLatin1Char('\r'))
            && !why.contains(QLatin1Char('\n')));
    // The refused name left the held port and the directory as they were.
    if (holder)
        QVERIFY(holder->writeByte('x') == SerialPort::WriteResult::Written);
    QCOMPARE(
        QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size(),
        int(kind == "file" || kind == "fifo" || kind == "symlink"));
}

void TestSerialPort::lineSettings()
{
    std::unique_ptr<SerialPort> port = SerialPort::open(fake->slavePath());
    QVERIFY(port);
    termios settings {};
    QCOMPARE(tcgetattr(int(port->nativeHandle()), &settings), 0);
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
    QVERIFY(window.port());
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
    QVERIFY(SerialPort::open(fake->slavePath()));
}

QTEST_MAIN(TestSerialPort)

#include "tst_serialport.moc"
