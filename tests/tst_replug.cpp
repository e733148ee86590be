// A port that vanished comes back by itself: the adapter pulled and plugged in again
// behind the same stable link, as /dev/serial/by-id gives it.

#include "boxanswerer.h"
#include "fakeprojector.h"
#include "lumivox.h"
#include "serialport.h"
#include "settings.h"
#include "settingsdriver.h"
#include "windowprobe.h"
#include "wireframes.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty
constexpr int kAwayTicks = 30; // three seconds without the device
constexpr int kReplugTicks = 11; // about a second, and the tick that notices
constexpr int kPollPeriod = 31; // ticks from one lamp poll to the next
const QString gone = QStringLiteral("Communication with projector not possible.\n");
const QString initialized = QStringLiteral("Com-port initialized!\n");

using testsupport::logText;
} // namespace

class TestReplug : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reopensWhenBack();
    void userChoiceEndsTheWatch_data();
    void userChoiceEndsTheWatch();

private:
    void tick()
    {
        testsupport::tick(*window);
        QCoreApplication::processEvents(); // the deferred close of a vanished port
    }
    // Hangs the projector up and ticks until the window has closed the port.
    void pullCable();
    void plugIn(FakeProjector &projector) { QVERIFY(repoint(projector.slavePath())); }
    bool repoint(const QString &target)
    {
        QFile::remove(link);
        return QFile::link(target, link);
    }

    QTemporaryDir dir;
    QString link;
    std::unique_ptr<FakeProjector> first;
    std::unique_ptr<Lumivox> window;
};

void TestReplug::init()
{
    QVERIFY(dir.isValid());
    link = dir.filePath(QStringLiteral("usb-Adapter-if00-port0"));
    first = std::make_unique<FakeProjector>();
    QVERIFY2(first->isValid(), qPrintable(first->errorString()));
    plugIn(*first);
    window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, link);
}

void TestReplug::cleanup()
{
    window.reset();
    first.reset();
}

void TestReplug::pullCable()
{
    first->hangUp();
    first.reset(); // the pty is gone for good, as a pulled adapter's device is
    for (int n = 0; n < kReplugTicks && window->port(); ++n)
        tick();
    QVERIFY(!window->port());
    QCOMPARE(logText(*window), gone);
}

void TestReplug::reopensWhenBack()
{
    testsupport::BoxAnswerer boxes;
    pullCable();
    for (int n = 0; n < kAwayTicks; ++n)
        tick();
    QCOMPARE(logText(*window), gone); // nothing more while it is away

    // Back, but another program has it first: said once, then tried quietly.
    FakeProjector second;
    QVERIFY(second.isValid());
    plugIn(second);
    auto other = SerialPort::open(second.slavePath());
    QVERIFY(other);
    for (int n = 0; n < kAwayTicks; ++n)
        tick();
    QVERIFY(!window->port());
    const QString log = logText(*window);
    QCOMPARE(log.count(QStringLiteral("Reason: ")), 1);
    QVERIFY2(log.endsWith(QStringLiteral("Device or resource busy\n")), qPrintable(log));

    other.reset();
    int ticks = 0;
    while (!window->port()) {
        tick();
        QVERIFY2(++ticks <= kReplugTicks, "not reopened within about a second");
    }
    QVERIFY(logText(*window).endsWith(initialized));

    // The poll goes out on the reopened port at its time, and the reply is read.
    second.send("LAMP 1\r");
    for (int n = 0; n < kPollPeriod && !second.frames().contains(testsupport::pollFrame()); ++n) {
        tick();
        second.drain();
    }
    QVERIFY(second.waitForFrames(1, kWireWait));
    QCOMPARE(second.frames(), QList<QByteArray> {testsupport::pollFrame()});
    tick();
    QVERIFY(window->isLampOn());
    QCOMPARE(boxes.count(), 0);
}

void TestReplug::userChoiceEndsTheWatch_data()
{
    QTest::addColumn<bool>("fromDialog");
    QTest::newRow("applied in the dialog") << true;
    QTest::newRow("opened directly") << false;
}

void TestReplug::userChoiceEndsTheWatch()
{
    QFETCH(bool, fromDialog);
    pullCable();
    FakeProjector chosen;
    QVERIFY(chosen.isValid());
    if (fromDialog) {
        QVERIFY(testsupport::runSettings(*window, [&](Settings *dialog) {
            testsupport::applyName(dialog, chosen.slavePath());
        }));
    } else {
        QVERIFY(window->openPort(chosen.slavePath()));
    }
    QVERIFY(window->port());

    // The old name comes back; the user's port stays, and the old one is left alone.
    FakeProjector back;
    QVERIFY(back.isValid());
    plugIn(back);
    for (int n = 0; n < kAwayTicks; ++n)
        tick();
    QCOMPARE(window->port()->location(), chosen.slavePath());
    QVERIFY(SerialPort::open(link));
}

QTEST_MAIN(TestReplug)

#include "tst_replug.moc"
