// A port that vanished comes back by itself: the adapter pulled and plugged in again
// behind the same stable link, as /dev/serial/by-id gives it. Whatever else takes the
// name meanwhile (the next terminal on a freed /dev/pts number, another adapter) is
// left alone.

#include "boxanswerer.h"
#include "fakeprojector.h"
#include "fakesysfs.h"
#include "link/portrules.h"
#include "link/portwatch.h"
#include "link/retrypolicy.h"
#include "link/serialport.h"
#include "session/projectorsession.h"
#include "settingsdriver.h"
#include "ui/lumivox.h"
#include "ui/settings.h"
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
const QString different = QStringLiteral(" is back as a different device: apply it to use it.\n");
constexpr int kPtyAttempts = 64; // new pseudo-terminals tried for the freed number
constexpr unsigned kUsbSerialMajor = 188;
constexpr unsigned kPtyMajor = 136;

// A /sys with one USB-serial adapter in the given socket and interface ("1-1:1.0"), with
// or without a serial number, whose tty is character device 188:0.
bool makeAdapter(const QString &root, const QString &place, const QString &serial)
{
    QDir dir(root);
    const QString socket = place.section(QLatin1Char(':'), 0, 0);
    const QString usb = QStringLiteral("devices/pci0000:00/usb1/") + socket;
    const QString port = usb + QLatin1Char('/') + place + QStringLiteral("/ttyUSB0");
    if (!dir.mkpath(port)
        || !testsupport::addSysfsDevice(root, kUsbSerialMajor, 0, QStringLiteral("tty"), false))
        return false;
    const QList<QPair<QString, QString>> files {
        {QStringLiteral("idVendor"), QStringLiteral("0403")},
        {QStringLiteral("idProduct"), QStringLiteral("6001")},
        {QStringLiteral("serial"), serial}};
    for (const auto &[name, value] : files) {
        if (name == QLatin1String("serial") && serial.isEmpty())
            continue;
        QFile file(dir.filePath(usb + QLatin1Char('/') + name));
        if (!file.open(QIODevice::WriteOnly) || file.write(value.toLatin1() + '\n') < 0)
            return false;
    }
    return QFile::link(dir.filePath(port), dir.filePath(QStringLiteral("dev/char/188:0/device")));
}

using testsupport::logText;
} // namespace

class TestReplug : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reopensWhenBack();
    void sameDeviceOnly_data();
    void sameDeviceOnly();
    void hardwareIdentity_data();
    void hardwareIdentity();
    void userChoiceEndsTheWatch_data();
    void userChoiceEndsTheWatch();
    void keptPortOpensWhenThere_data();
    void keptPortOpensWhenThere();
    void retryWaits_data();
    void retryWaits();

private:
    void tick()
    {
        testsupport::tick(*window);
        QCoreApplication::processEvents(); // the deferred close of a vanished port
    }
    // Hangs the projector up and ticks until the window has closed the port; the stable
    // link goes with the device, as udev removes it, unless it is `left`.
    void pullCable(bool left = false);
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

void TestReplug::pullCable(bool left)
{
    first->hangUp();
    first.reset(); // the pty is gone for good, as a pulled adapter's device is
    if (!left)
        QFile::remove(link);
    for (int n = 0; n < kReplugTicks && window->session().port(); ++n)
        tick();
    QVERIFY(!window->session().port());
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
    QVERIFY(!window->session().port());
    const QString log = logText(*window);
    QCOMPARE(log.count(QStringLiteral("Reason: ")), 1);
    QVERIFY2(log.endsWith(QStringLiteral("Device or resource busy\n")), qPrintable(log));

    other.reset();
    int ticks = 0;
    while (!window->session().port()) {
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

void TestReplug::sameDeviceOnly_data()
{
    QTest::addColumn<bool>("bare"); // opened as /dev/pts/N rather than through the link
    QTest::addColumn<bool>("linkLeft"); // the link stays, pointing at the freed number
    QTest::addColumn<bool>("reopened");
    QTest::newRow("bare pseudo-terminal, its number reused") << true << false << false;
    QTest::newRow("stable link, made anew for a new pseudo-terminal") << false << false << true;
    QTest::newRow("stale link, its pseudo-terminal's number reused") << false << true << false;
}

void TestReplug::sameDeviceOnly()
{
    QFETCH(bool, bare);
    QFETCH(bool, linkLeft);
    QFETCH(bool, reopened);
    const QString target = first->slavePath();
    const QString name = bare ? target : link;
    if (bare) {
        window->closePort();
        testsupport::openOn(*window, name);
    }
    pullCable(linkLeft);

    // The next pseudo-terminal gets the freed number (others may race for it); a link
    // that went is made anew for it.
    const bool numberMatters = bare || linkLeft;
    std::vector<std::unique_ptr<FakeProjector>> next;
    do {
        next.push_back(std::make_unique<FakeProjector>());
        QVERIFY(next.back()->isValid());
    } while (numberMatters && next.back()->slavePath() != target
             && next.size() < size_t(kPtyAttempts));
    if (numberMatters && next.back()->slavePath() != target)
        QSKIP("the freed number went to another program");
    if (!linkLeft)
        plugIn(*next.back());
    for (int n = 0; n < kAwayTicks && !window->session().port(); ++n)
        tick();

    if (reopened) {
        QVERIFY(window->session().port());
        QCOMPARE(logText(*window), gone + initialized);
    } else {
        QVERIFY(!window->session().port());
        QCOMPARE(logText(*window), gone + name + different); // said once
        QVERIFY(SerialPort::open(name)); // left alone
    }
}

void TestReplug::hardwareIdentity_data()
{
    QTest::addColumn<QString>("serialBefore");
    QTest::addColumn<QString>("socketBefore"); // and interface: 1-1:1.0
    QTest::addColumn<QString>("serialNow");
    QTest::addColumn<QString>("socketNow"); // empty: a pseudo-terminal has the name now
    QTest::addColumn<bool>("reopened");

    QTest::newRow("same adapter, other socket")
        << QStringLiteral("A1") << QStringLiteral("1-1:1.0") << QStringLiteral("A1")
        << QStringLiteral("1-2:1.0") << true;
    QTest::newRow("other adapter, same socket")
        << QStringLiteral("A1") << QStringLiteral("1-1:1.0") << QStringLiteral("B2")
        << QStringLiteral("1-1:1.0") << false;
    QTest::newRow("other port of the same adapter")
        << QStringLiteral("A1") << QStringLiteral("1-1:1.0") << QStringLiteral("A1")
        << QStringLiteral("1-1:1.1") << false;
    QTest::newRow("no serial number, same socket")
        << QStringLiteral("") << QStringLiteral("1-1:1.0") << QStringLiteral("")
        << QStringLiteral("1-1:1.0") << true;
    QTest::newRow("no serial number, other socket")
        << QStringLiteral("") << QStringLiteral("1-1:1.0") << QStringLiteral("")
        << QStringLiteral("1-2:1.0") << false;
    QTest::newRow("a pseudo-terminal now") << QStringLiteral("A1") << QStringLiteral("1-1:1.0")
                                           << QStringLiteral("") << QStringLiteral("") << false;
}

void TestReplug::hardwareIdentity()
{
    QFETCH(QString, serialBefore);
    QFETCH(QString, socketBefore);
    QFETCH(QString, serialNow);
    QFETCH(QString, socketNow);
    QFETCH(bool, reopened);

    QTemporaryDir before;
    QTemporaryDir now;
    QVERIFY(before.isValid() && now.isValid());
    QVERIFY(makeAdapter(before.path(), socketBefore, serialBefore));
    if (!socketNow.isEmpty())
        QVERIFY(makeAdapter(now.path(), socketNow, serialNow));
    const unsigned major = socketNow.isEmpty() ? kPtyMajor : kUsbSerialMajor;
    const portrules::Identity was
        = portrules::identify(QString(), kUsbSerialMajor, 0, before.path());
    const portrules::Identity found = portrules::identify(QString(), major, 0, now.path());

    // The watch opens only what the identity calls the same device, and says the rest once.
    int opens = 0;
    PortWatch watch([&opens](const QString &, QString *) { return ++opens > 0; });
    watch.opened(QStringLiteral("ttyUSB0"),
                 [&](const QString &) { return portrules::compare(was, found); });
    watch.vanished();
    QList<PortWatch::Event> events;
    for (int n = 0; n < 2 * PortWatch::kPeriod; ++n) {
        const PortWatch::Event event = watch.tick();
        if (event != PortWatch::Event::None)
            events.append(event);
    }
    QCOMPARE(opens, int(reopened));
    QCOMPARE(events,
             QList<PortWatch::Event> {reopened ? PortWatch::Event::Reopened
                                               : PortWatch::Event::CameBackAsOther});
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
    QVERIFY(window->session().port());

    // The old name comes back; the user's port stays, and the old one is left alone.
    FakeProjector back;
    QVERIFY(back.isValid());
    plugIn(back);
    for (int n = 0; n < kAwayTicks; ++n)
        tick();
    QCOMPARE(window->session().port()->location(), chosen.slavePath());
    QVERIFY(SerialPort::open(link));
}

QTEST_MAIN(TestReplug)

void TestReplug::keptPortOpensWhenThere_data()
{
    QTest::addColumn<int>("failedTries"); // tries before the adapter is plugged in
    QTest::newRow("there at once") << 0;
    QTest::newRow("plugged in after three tries") << 3;
}

void TestReplug::keptPortOpensWhenThere()
{
    QFETCH(int, failedTries);
    constexpr int kWait = 4; // ticks between two tries
    window.reset(); // the session alone, on a name that leads nowhere yet
    QFile::remove(link);
    ProjectorSession session;
    QSignalSpy outcomes(&session, &ProjectorSession::openFinished);
    if (failedTries == 0)
        plugIn(*first);
    session.keepOpen(link, RetryPolicy::flat(kWait));
    for (int tried = 1; tried < failedTries; ++tried)
        for (int n = 0; n < kWait; ++n)
            session.tick();
    if (failedTries > 0) {
        QCOMPARE(outcomes.size(), failedTries); // every try says how it went
        QVERIFY(!session.port());
        QVERIFY(!outcomes.constLast().at(0).toBool());
        QVERIFY(!outcomes.constLast().at(1).toString().isEmpty());
        plugIn(*first);
        for (int n = 0; n < kWait - 1; ++n)
            session.tick();
        QVERIFY(!session.port()); // not before its wait is over
        session.tick();
    }
    QCOMPARE(outcomes.size(), failedTries + 1);
    QVERIFY(outcomes.constLast().at(0).toBool());
    QVERIFY(session.port());
}

void TestReplug::retryWaits_data()
{
    QTest::addColumn<bool>("doubling");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("cap");
    QTest::addColumn<QList<int>>("waits"); // a reset comes after the first four
    QTest::newRow("broker: 1, 2, 4 ... 60 s")
        << true << 1000 << 60000
        << QList<int> {1000, 2000, 4000, 8000, 1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
    QTest::newRow("PJLink: 3.1 s flat")
        << false << 3100 << 3100 << QList<int> {3100, 3100, 3100, 3100, 3100, 3100};
    QTest::newRow("cap below the first")
        << true << 500 << 100 << QList<int> {500, 500, 500, 500, 500};
}

void TestReplug::retryWaits()
{
    QFETCH(bool, doubling);
    QFETCH(int, first);
    QFETCH(int, cap);
    QFETCH(QList<int>, waits);
    constexpr int kBeforeReset = 4;
    RetryPolicy policy = doubling ? RetryPolicy::doubling(first, cap) : RetryPolicy::flat(first);
    QList<int> got;
    for (int n = 0; n < waits.size(); ++n) {
        if (n == kBeforeReset)
            policy.reset();
        got.append(policy.next());
    }
    QCOMPARE(got, waits);
}

#include "tst_replug.moc"
