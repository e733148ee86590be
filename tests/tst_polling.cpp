// The 100 ms tick against a fake projector: the lamp poll, reply lines and what they
// do, the contact watchdog and the bound on the reply buffer.
//
// Ticks are counted, not timed: each test runs OnTimer() itself and never spins the
// event loop, so the window's own timer cannot add a tick. Bytes from the fake reach
// the port's buffer through waitForReadyRead(), which reads without dispatching timers.

#include "boxanswerer.h"
#include "fakeprojector.h"
#include "link/serialport.h"
#include "link/serialprotocol.h"
#include "probe/portprobe.h"
#include "probe/sessionprobe.h"
#include "probe/windowform.h"
#include "ui/lumivox.h"
#include "windowprobe.h"
#include "wireframes.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>
#include <QtTest>

#include <unistd.h>

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty
// ms after which a pty that sent everything is done; waited once, at the end of a flood
constexpr int kQuietWait = 1000;
constexpr int kPollPeriod = 31; // ticks from one lamp poll to the next
constexpr int kContactTicks = 48; // silent ticks after a line that still show contact
constexpr int kIconSize = 16;
constexpr qsizetype kFlood = 1024 * 1024; // bytes without a carriage return
constexpr qsizetype kLongLine = 1500; // well over the reply bound
constexpr qsizetype kWireChunk = 96; // bytes the line carries in one tick at 9600 baud
constexpr char kTickMark = '#'; // written after each tick, in line with the polls

using testsupport::logText;
using testsupport::pollFrame;

// The colour the panel shows, by name.
QString panel(const Lumivox &window)
{
    return testsupport::statusName(testsupport::panelColour(window));
}

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(kIconSize).toImage().convertToFormat(QImage::Format_ARGB32);
}

bool showsIcon(const Lumivox &window, const char *resource)
{
    return iconImage(testsupport::WindowForm(window).connectionStatus->icon())
        == iconImage(QIcon(QPixmap(QString::fromLatin1(resource))));
}

const char connectIcon[] = ":/Lumivox/Resources/connect.png";
const char disconnectIcon[] = ":/Lumivox/Resources/disconnect.png";

} // namespace

class TestPolling : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pollEvery31stTick();
    void replies_data();
    void replies();
    void twoLinesTwoTicks();
    void partialLineWaits();
    void watchdog();
    void noContactSetAgainEveryTick();
    void pendingHeightAtNextTick();
    void overLongLine();
    void floodWithoutCarriageReturn();

private:
    void tick() { testsupport::tick(*window); }
    // Sends bytes and waits until the port holds them all, without the event loop.
    void deliver(const QByteArray &bytes);

    std::unique_ptr<FakeProjector> fake;
    std::unique_ptr<Lumivox> window;
};

void TestPolling::init()
{
    fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
    window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, fake->slavePath()); // lays the panel out; no event loop
}

void TestPolling::cleanup()
{
    window.reset();
    fake.reset();
}

void TestPolling::deliver(const QByteArray &bytes)
{
    QVERIFY(window->session().port());
    const qint64 target = testsupport::bytesWaiting(*window) + bytes.size();
    fake->send(bytes);
    QVERIFY(testsupport::waitForInput(*window, target, kWireWait));
}

void TestPolling::pollEvery31stTick()
{
    // A mark written through the port's own descriptor after every tick lands behind
    // that tick's poll, so the wire itself tells which tick polled.
    const int fd = int(testsupport::portHandle(window->session().port()));
    constexpr int kTicks = 3 * kPollPeriod + 2;
    for (int n = 1; n <= kTicks; ++n) {
        tick();
        QCOMPARE(::write(fd, &kTickMark, 1), ssize_t(1));
    }
    QVERIFY(fake->waitForBytes(kTicks + 4 * pollFrame().size(), kWireWait));
    const QList<QByteArray> perTick = fake->received().split(kTickMark);
    QList<int> pollTicks;
    for (int n = 1; n <= kTicks; ++n) {
        if (perTick.at(n - 1) == pollFrame())
            pollTicks.append(n);
        else
            QCOMPARE(perTick.at(n - 1), QByteArray());
    }
    QCOMPARE(pollTicks,
             (QList<int> {1, 1 + kPollPeriod, 1 + 2 * kPollPeriod, 1 + 3 * kPollPeriod}));
}

void TestPolling::replies_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<bool>("debug");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<bool>("lampOn");

    const QString notAvailable = QStringLiteral("Command not available at the moment.\n");
    const QByteArray report("Res?\x04\x00\x03\x00\x01", 9);

    QTest::newRow("LAMP 1") << QByteArray("LAMP 1\r") << 1 << false << ""
                            << "green" << true;
    QTest::newRow("LAMP 0") << QByteArray("LAMP 0\r") << 1 << false << ""
                            << "red" << false;
    QTest::newRow("lamp 1") << QByteArray("lamp 1\r") << 1 << false << ""
                            << "green" << true;
    QTest::newRow("lAmP 0") << QByteArray("lAmP 0\r") << 1 << false << ""
                            << "red" << false;
    QTest::newRow("lamp 1 then 0") << QByteArray("LAMP 1\rLAMP 0\r") << 2 << false << ""
                                   << "red" << false;
    QTest::newRow("trailing blank") << QByteArray("LAMP 1 \r") << 1 << false << "LAMP 1 \n"
                                    << "yellow" << false;
    QTest::newRow("*001") << QByteArray("*001\r") << 1 << false << notAvailable << "yellow"
                          << false;
    QTest::newRow("*000") << QByteArray("*000\r") << 1 << false << ""
                          << "yellow" << false;
    QTest::newRow("*0001") << QByteArray("*0001\r") << 1 << false << "*0001\n"
                           << "yellow" << false;
    QTest::newRow("Res") << report + "\r" << 1 << false << "1024 x 768 @ 60 Hz\n"
                         << "yellow" << false;
    QTest::newRow("Res, unknown rate")
        << QByteArray("Res?\x04\x00\x03\x00\x09\r", 10) << 1 << false << "1024 x 768 @ 0 Hz\n"
        << "yellow" << false;
    QTest::newRow("Res, 8 characters")
        << QByteArray("Res?\x04\x00\x03\x00\r", 9) << 1 << false << ""
        << "yellow" << false;
    QTest::newRow("res lower case") << QByteArray("resolution?\r") << 1 << false << "resolution?\n"
                                    << "yellow" << false;
    // The 13 at the height's place ends the report; what would have been the height's
    // low byte and the rate code starts the next line.
    QTest::newRow("13 in a report") << QByteArray("Res?\x04\x00\rxy\r", 10) << 2 << false << "xy\n"
                                    << "yellow" << false;
    QTest::newRow("lone CR") << QByteArray("\r") << 1 << false << "\n"
                             << "yellow" << false;
    QTest::newRow("CR LF") << QByteArray("LAMP 1\r\nLAMP 0\r") << 2 << false << "\nLAMP 0\n"
                           << "green" << true;
    // Only a line end's own line feed breaks the log's line: one inside a line would forge
    // a line of the log.
    QTest::newRow("line feed inside a line")
        << QByteArray("LAMP 1\rX\nCom-port initialized!\r") << 2 << false
        << QStringLiteral("X\uFFFDCom-port initialized!\n") << "green" << true;
    // The tick's poll comes after the line and is echoed too.
    QTest::newRow("echo, lamp") << QByteArray("LAMP 1\r") << 1 << true
                                << "-> LAMP 1\n<- * 0 Lamp ?\n"
                                << "green" << true;
    QTest::newRow("echo, *001") << QByteArray("*001\r") << 1 << true
                                << notAvailable + "-> *001\n<- * 0 Lamp ?\n"
                                << "yellow" << false;
    QTest::newRow("echo, *000") << QByteArray("*000\r") << 1 << true << "-> *000\n<- * 0 Lamp ?\n"
                                << "yellow" << false;
    QTest::newRow("echo, other") << QByteArray("XD1080\r") << 1 << true
                                 << "XD1080\n-> XD1080\n<- * 0 Lamp ?\n"
                                 << "yellow" << false;
}

void TestPolling::replies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, ticks);
    QFETCH(bool, debug);
    QFETCH(QString, log);
    QFETCH(QString, colour);
    QFETCH(bool, lampOn);

    testsupport::WindowForm(*window).debugCheckBox->setChecked(debug);
    deliver(bytes);
    for (int n = 0; n < ticks; ++n)
        tick();
    QCOMPARE(logText(*window), log);
    QCOMPARE(panel(*window), colour);
    QCOMPARE(window->isLampOn(), lampOn);
    QCOMPARE(testsupport::SessionProbe::noContactTicks(window->session()),
             1u); // every row ends with a line in its last tick
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(), QStringLiteral("Contact"));
    QVERIFY(testsupport::SessionProbe::pendingReply(window->session()).isEmpty());
}

void TestPolling::twoLinesTwoTicks()
{
    deliver("*001\rLAMP 1\r");
    tick();
    QCOMPARE(logText(*window), QStringLiteral("Command not available at the moment.\n"));
    QCOMPARE(panel(*window), QStringLiteral("yellow"));
    QCOMPARE(testsupport::bytesWaiting(*window), qint64(7)); // the second line waits
    tick();
    QCOMPARE(panel(*window), QStringLiteral("green"));
    QVERIFY(window->isLampOn());
}

void TestPolling::partialLineWaits()
{
    deliver("LAMP 1\r"); // contact first, so that losing it shows
    tick();
    deliver("LA");
    for (int n = 0; n < kContactTicks + 1; ++n)
        tick();
    deliver("MP");
    tick();
    QCOMPARE(testsupport::SessionProbe::pendingReply(window->session()), QStringLiteral("LAMP"));
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(), QStringLiteral("No Contact"));
    deliver(" 0\r");
    tick();
    QCOMPARE(testsupport::SessionProbe::pendingReply(window->session()), QString());
    QCOMPARE(panel(*window), QStringLiteral("red"));
    QVERIFY(showsIcon(*window, connectIcon));
    QCOMPARE(logText(*window), QString());
}

void TestPolling::watchdog()
{
    tick(); // silent from the start: no contact at once
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("No Contact"));
    QVERIFY(showsIcon(*window, disconnectIcon));
    QCOMPARE(testsupport::SessionProbe::noContactTicks(window->session()), 50u);

    deliver("LAMP 1\r");
    tick();
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("Contact"));
    QVERIFY(showsIcon(*window, connectIcon));
    QCOMPARE(panel(*window), QStringLiteral("green"));

    for (int n = 0; n < kContactTicks; ++n)
        tick();
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("Contact"));
    QVERIFY(showsIcon(*window, connectIcon));
    QCOMPARE(panel(*window), QStringLiteral("green"));

    tick(); // the 49th silent tick
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("No Contact"));
    QVERIFY(showsIcon(*window, disconnectIcon));
    QCOMPARE(panel(*window), QStringLiteral("yellow"));
    QCOMPARE(testsupport::SessionProbe::noContactTicks(window->session()), 50u);
    QVERIFY(window->isLampOn()); // losing contact leaves the lamp flag alone

    // Regaining contact does not bring the green back; the next lamp reply does.
    deliver("*000\r");
    tick();
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("Contact"));
    QCOMPARE(panel(*window), QStringLiteral("yellow"));
}

void TestPolling::noContactSetAgainEveryTick()
{
    tick();
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("No Contact"));
    for (int n = 0; n < 3; ++n) {
        window->handleReply(QStringLiteral("LAMP 1")); // colours without contact
        testsupport::WindowForm(*window).connectionStatus->setToolTip(QStringLiteral("stale"));
        testsupport::WindowForm(*window).connectionStatus->setIcon(QIcon());
        QCOMPARE(panel(*window), QStringLiteral("green"));
        tick();
        QCOMPARE(panel(*window), QStringLiteral("yellow"));
        QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
                 QStringLiteral("No Contact"));
        QVERIFY(showsIcon(*window, disconnectIcon));
    }
}

void TestPolling::pendingHeightAtNextTick()
{
    // The form's height until the first tick, the start height from it on.
    const int before = window->height();
    QVERIFY(before > 200);
    tick();
    QVERIFY(window->height() <= qMax(200, window->minimumSizeHint().height()));
    QVERIFY(window->height() < before);
}

void TestPolling::overLongLine()
{
    // Cut at the bound, the rest dropped up to the carriage return, the cut line
    // handled like any other; the next reply is read cleanly.
    // Paced as the line paces it, so that nothing overflows the input queue.
    const QByteArray line = QByteArray(kLongLine, 'x') + '\r';
    for (qsizetype sent = 0; sent < line.size(); sent += kWireChunk) {
        deliver(line.mid(sent, kWireChunk));
        tick();
        QVERIFY(testsupport::SessionProbe::pendingReply(window->session()).size()
                <= serialprotocol::kMaxReplyLength);
    }
    QCOMPARE(logText(*window), QString(serialprotocol::kMaxReplyLength, QLatin1Char('x')) + "\n");
    QVERIFY(testsupport::SessionProbe::pendingReply(window->session()).isEmpty());
    deliver("LAMP 1\r");
    tick();
    QCOMPARE(panel(*window), QStringLiteral("green"));
}

void TestPolling::floodWithoutCarriageReturn()
{
    // A box here is a fault; rejected at once, it cannot hang the test.
    testsupport::BoxAnswerer boxes(QMessageBox::NoButton);
    fake->send(QByteArray(kFlood, 'x'));
    int ticks = 0;
    for (;;) {
        QVERIFY2(window->session().port(), "the flood closed the port");
        fake->pushOutput();
        if (!testsupport::waitForInput(*window, 1, kQuietWait)) {
            if (fake->pendingOutput() == 0)
                break; // all sent and nothing more arrives
            continue;
        }
        tick();
        QVERIFY(testsupport::SessionProbe::pendingReply(window->session()).size()
                <= serialprotocol::kMaxReplyLength);
        QVERIFY2(++ticks < kFlood, "the flood never ends");
    }
    QCOMPARE(boxes.count(), 0); // the polls went out meanwhile
    QVERIFY(window->session().port());
    QCOMPARE(testsupport::SessionProbe::pendingReply(window->session()).size(),
             serialprotocol::kMaxReplyLength);
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(), QStringLiteral("No Contact"));

    deliver("\rLAMP 1\r");
    tick();
    tick();
    QCOMPARE(panel(*window), QStringLiteral("green"));
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("Contact"));
    qInfo("flood of %lld bytes read in %d ticks", qint64(kFlood), ticks);
}

QTEST_MAIN(TestPolling)

#include "tst_polling.moc"
