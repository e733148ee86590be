// What goes wrong on a real cable, played on a fake projector: the device vanishing,
// the projector no longer reading, a backlog of replies, and a whole user session
// with the cable pulled and the port reopened.

#include "boxanswerer.h"
#include "fakeprojector.h"
#include "link/serialprotocol.h"
#include "probe/windowform.h"
#include "settingsdriver.h"
#include "ui/lumivox.h"
#include "ui/settings.h"
#include "windowprobe.h"
#include "wireframes.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <functional>
#include <sys/resource.h>

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty
constexpr int kSilenceWait = 100; // ms in which nothing may arrive
constexpr int kCloseWait = 5000; // ms for the port to be closed after a hang-up
constexpr int kCpuTicks = 10; // ticks over which CPU time is measured after a hang-up
constexpr int kTickMs = 100; // as the window ticks: the most one pass of the event loop runs
constexpr double kCpuBound = 0.3; // s of CPU time allowed in that window
constexpr qsizetype kInputQueue = 1024; // bytes the link holds for the ticks
constexpr int kByteWriteWait = 500; // ms the link waits for a byte to leave
constexpr int kTimeSlack = 100; // ms a measured wait may appear shorter
constexpr int kPollPeriod = 31; // ticks from one lamp poll to the next
constexpr int kNoContactTicks = 49; // silent ticks after a line until no contact
const QString gone = QStringLiteral("Communication with projector not possible.");

using testsupport::BoxAnswerer;
using testsupport::logText;
using testsupport::pollFrame;
using testsupport::withoutPolls;

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void hangUp();
    void repliesBeforeHangUp();
    void commandAfterHangUp();
    void fullOutputQueue();
    void failureBoxHoldsPoll();
    void replyBacklogDoesNotBlockWrites();
    void wholeSession();

private:
    void openOn(FakeProjector &projector);
    void tick() { testsupport::tick(*window); }
    void deliver(FakeProjector &projector, const QByteArray &bytes);
    bool runSettings(const testsupport::DialogAction &action)
    {
        return testsupport::runSettings(*window, action);
    }

    std::unique_ptr<Lumivox> window;
};

void TestFaults::cleanup()
{
    window.reset();
}

void TestFaults::openOn(FakeProjector &projector)
{
    QVERIFY2(projector.isValid(), qPrintable(projector.errorString()));
    if (!window)
        window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, projector.slavePath());
}

void TestFaults::deliver(FakeProjector &projector, const QByteArray &bytes)
{
    QVERIFY(window->session().port());
    const qint64 target = testsupport::bytesWaiting(*window) + bytes.size();
    projector.send(bytes);
    QVERIFY(testsupport::waitForInput(*window, target, kWireWait));
}

void TestFaults::hangUp()
{
    FakeProjector projector;
    openOn(projector);
    BoxAnswerer boxes;

    const double before = cpuSeconds();
    projector.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(!window->session().port(), kCloseWait);
    // The ticks are the test's, not the machine's clock's: between two of them the event
    // loop runs while it has anything to do, for a tick's time at most, so that a storm
    // of events spins there and shows in the CPU time, however busy the machine is.
    for (int n = 0; n < kCpuTicks; ++n) {
        tick();
        QCoreApplication::processEvents(QEventLoop::AllEvents, kTickMs);
    }
    const double spent = cpuSeconds() - before;

    qInfo("CPU from the hang-up to %d ticks after the close: %.3f s", kCpuTicks, spent);
    QCOMPARE(logText(*window).count(gone), 1);
    // A poll that met the dead line before the close may show its one box.
    QVERIFY2(boxes.boxes().size() <= 1, qPrintable(boxes.boxes().join(QLatin1Char('\n'))));
    QVERIFY2(spent < kCpuBound, qPrintable(QString::number(spent)));
}

void TestFaults::repliesBeforeHangUp()
{
    // Three replies arrive together, then the line hangs up: a tick reads one line, and
    // the port is closed only once the other two have been read as well.
    FakeProjector projector;
    openOn(projector);
    const QByteArray resolution("Res\x00\x04\x00\x03\x00\x01\r", 10);
    deliver(projector, QByteArray("LAMP 1\r*001\r") + resolution);
    tick();
    projector.hangUp();
    for (int n = 0; n < kPollPeriod && window->session().port(); ++n) {
        tick();
        QCoreApplication::processEvents(); // the deferred close of a vanished port
    }
    QVERIFY(!window->session().port());
    QVERIFY(window->isLampOn());
    QCOMPARE(logText(*window),
             QStringLiteral("Command not available at the moment.\n1024 x 768 @ 60 Hz\n") + gone
                 + QLatin1Char('\n'));
}

void TestFaults::commandAfterHangUp()
{
    FakeProjector projector;
    openOn(projector);
    BoxAnswerer boxes;
    projector.hangUp();
    testsupport::WindowForm(*window).brightness->click(); // before the event loop sees the hang-up
    QCOMPARE(boxes.boxes(),
             QStringList {QStringLiteral("Error!|Failed to send data to serial port")});
    QVERIFY(!window->session().port());
    QCOMPARE(logText(*window), gone + QLatin1Char('\n'));
}

void TestFaults::fullOutputQueue()
{
    FakeProjector projector(FakeProjector::Draining::Off);
    openOn(projector);
    QVERIFY(projector.fillOutputQueue() > 0);
    // The projector stays stuck: the queue is full again for every byte.
    BoxAnswerer boxes([&projector](QMessageBox *) {
        projector.fillOutputQueue();
        return QMessageBox::Ok;
    });

    QElapsedTimer clock;
    clock.start();
    window->sendCommand("abc", 3);
    const qint64 elapsed = clock.elapsed();
    qInfo("3 bytes and the CR into a full queue: %lld ms, %lld ms per byte", elapsed, elapsed / 4);

    QCOMPARE(boxes.boxes(),
             QStringList(3, QStringLiteral("Error!|Failed to send data to serial port")));
    QVERIFY(elapsed >= 4 * (kByteWriteWait - kTimeSlack)); // the CR waited as well
    QVERIFY(window->session().port()); // a full queue is not a vanished device
    QCOMPARE(logText(*window), QString());

    // Nothing of the failed frame went out later; the next frame goes out whole.
    projector.setDraining(FakeProjector::Draining::On);
    projector.clearRecord();
    QVERIFY(!projector.waitForBytes(1, kSilenceWait));
    window->sendCommand(serialprotocol::kBrightness, 10);
    QVERIFY(projector.waitForFrames(1, kWireWait));
    QCOMPARE(projector.received(), QByteArray("* 0 IR 025\r"));
    QCOMPARE(boxes.boxes().size(), 3);
}

void TestFaults::failureBoxHoldsPoll()
{
    FakeProjector projector(FakeProjector::Draining::Off);
    openOn(projector);
    for (int n = 0; n < kPollPeriod; ++n)
        tick(); // the start-up poll went out; the next is due
    QVERIFY(projector.fillOutputQueue() > 0);

    bool pollWhileOpen = true;
    BoxAnswerer boxes([&](QMessageBox *) {
        // The projector reads again, so a poll could go out now; it must wait.
        projector.setDraining(FakeProjector::Draining::On);
        projector.clearRecord();
        for (int n = 0; n < 2 * kPollPeriod; ++n)
            tick();
        pollWhileOpen = projector.waitForBytes(1, kSilenceWait);
        return QMessageBox::Ok;
    });
    testsupport::WindowForm(*window).brightness->click();
    QCOMPARE(boxes.boxes().size(), 1);
    QVERIFY(!pollWhileOpen);
    // The rest of the command followed the box.
    QVERIFY(projector.waitForFrames(1, kWireWait));
    QCOMPARE(projector.frames(), QList<QByteArray> {" 0 IR 025\r"});

    tick();
    QVERIFY(projector.waitForFrames(2, kWireWait));
    QCOMPARE(projector.frames().last(), pollFrame());
}

void TestFaults::replyBacklogDoesNotBlockWrites()
{
    // More replies than the input queue holds, not yet read by the ticks (one
    // line per tick): a command must still go out, and the port stay open.
    FakeProjector projector;
    openOn(projector);
    BoxAnswerer boxes;
    QByteArray backlog;
    while (backlog.size() < 3 * kInputQueue)
        backlog.append("*000\r");
    projector.send(backlog);
    QVERIFY(testsupport::waitForInput(*window, kInputQueue, kWireWait));

    testsupport::WindowForm(*window).brightness->click();
    QVERIFY(window->session().port());
    QVERIFY(projector.waitForFrames(1, kWireWait));
    QCOMPARE(projector.frames(), QList<QByteArray> {"* 0 IR 025\r"});
    QCOMPARE(boxes.boxes(), QStringList {});
    QCOMPARE(logText(*window), QString());
}

void TestFaults::wholeSession()
{
    BoxAnswerer boxes;
    window = std::make_unique<Lumivox>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QString startLog = logText(*window);
    QVERIFY2(startLog.startsWith(QStringLiteral("Failed to initialize Com port 1!\n") + gone
                                 + QStringLiteral("\nReason: ")),
             qPrintable(startLog));
    QVERIFY(!window->session().port());
    QTRY_COMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
                 QStringLiteral("No Contact"));

    // Plug the projector in and choose its port.
    auto projector = std::make_unique<FakeProjector>();
    QVERIFY(projector->isValid());
    QVERIFY(runSettings(
        [&](Settings *dialog) { testsupport::applyName(dialog, projector->slavePath()); }));
    QVERIFY(logText(*window).endsWith(QStringLiteral("Com-port initialized!\n")));
    testsupport::WindowForm(*window).textEdit->clear();

    // The projector answers.
    deliver(*projector, "LAMP 1\r");
    tick(); // the first tick after the reply arrived
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("Contact"));
    QVERIFY(window->isLampOn());
    QCOMPARE(logText(*window), QString());

    // A few buttons.
    projector->clearRecord();
    testsupport::WindowForm(*window).hdmi->click();
    testsupport::WindowForm(*window).brightness->click();
    QTest::keyClick(window.get(), Qt::Key_Up);
    QTRY_COMPARE(withoutPolls(projector->frames()),
                 (QList<QByteArray> {"* 0 IR 050\r", "* 0 IR 025\r", "* 0 IR 009\r"}));

    // The cable pulled.
    projector->hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(!window->session().port(), kCloseWait);
    QCOMPARE(logText(*window).count(gone), 1);
    for (int n = 0; n < kNoContactTicks; ++n)
        tick();
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("No Contact"));
    QVERIFY(window->isLampOn()); // still asks on closing
    projector.reset();

    // Plugged into another port and reopened from the dialog.
    FakeProjector again;
    QVERIFY(again.isValid());
    QVERIFY(runSettings([&](Settings *dialog) {
        testsupport::typeName(dialog, again.slavePath());
        QTest::keyClick(testsupport::nameEdit(dialog), Qt::Key_Return);
    }));
    QVERIFY(logText(*window).endsWith(QStringLiteral("Com-port initialized!\n")));
    deliver(again, "LAMP 0\r");
    tick();
    QCOMPARE(testsupport::WindowForm(*window).connectionStatus->toolTip(),
             QStringLiteral("Contact"));
    QVERIFY(!window->isLampOn());
    QTRY_VERIFY(again.frames().contains(pollFrame()));
    QVERIFY2(boxes.boxes().size() <= 1, qPrintable(boxes.boxes().join(QLatin1Char('\n'))));

    // Lamp off now: closing asks nothing.
    QVERIFY(window->close());
    QCOMPARE(boxes.boxes().count(QStringLiteral("Projector is on!|The projectorn is On.\nDo "
                                                "you want to turn it off?")),
             0);
}

QTEST_MAIN(TestFaults)

#include "tst_faults.moc"
