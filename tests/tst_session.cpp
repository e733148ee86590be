// One projector's session without a window or a display: its poll and watchdog, a
// scripted request in turn with a frame whose write is failing, a frame that never goes
// on on a device that came back under its name, and which names are the same port.

#include "fakeprojector.h"
#include "link/portdevice.h"
#include "link/portopener.h"
#include "pjlinksimulator.h"
#include "probe/portprobe.h"
#include "session/projectorsession.h"
#include "session/scriptedrequest.h"
#include "wireframes.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <poll.h>
#include <sys/ioctl.h>

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty
constexpr int kSilenceWait = 300; // ms after which nothing more will come
constexpr int kPollPeriod = 31; // ticks from one lamp poll to the next
constexpr int kContactTicks = 48; // silent ticks after a line that still show contact
constexpr int kLookTicks = 10; // ticks between two looks of the vanished-port watch
constexpr int kRequestBound = 10000; // ms a request takes at most here
constexpr int kTickMs = 100; // as the window ticks

// Waits, without the event loop, until the session's port has input for a tick.
bool waitForInput(const ProjectorSession &session, int msecs)
{
    pollfd readable {int(testsupport::portHandle(session.port())), POLLIN, 0};
    return testsupport::portHeldBytes(session.port()) > 0 || ::poll(&readable, 1, msecs) == 1;
}
} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void pollsAndWatchdog();
    void powerFollowsCommandsAndLamp_data();
    void powerFollowsCommandsAndLamp();
    void requestWaitsForTheLine_data();
    void requestWaitsForTheLine();
    void frameStaysOnItsDevice();
    void scriptFrameEndsAtItsFailedByte_data();
    void scriptFrameEndsAtItsFailedByte();
    void answersInTheLog_data();
    void answersInTheLog();
    void sameDevice_data();
    void sameDevice();
};

void TestSession::pollsAndWatchdog()
{
    FakeProjector fake;
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    ProjectorSession session;
    QString reason;
    QCOMPARE(session.openPort(fake.slavePath(), &reason), ProjectorSession::OpenResult::Open);
    QSignalSpy gained(&session, &ProjectorSession::contactGained);
    QSignalSpy lost(&session, &ProjectorSession::contactLost);
    QSignalSpy lamp(&session, &ProjectorSession::lampReported);

    // The first tick polls at once, then every 31st.
    session.tick();
    QVERIFY(fake.waitForFrames(1, kWireWait));
    for (int n = 1; n < kPollPeriod; ++n)
        session.tick();
    QVERIFY(!fake.waitForFrames(2, kSilenceWait));
    session.tick();
    QVERIFY(fake.waitForFrames(2, kWireWait));
    QCOMPARE(fake.frames(), QList<QByteArray>(2, testsupport::pollFrame()));
    QCOMPARE(lost.size(), 1); // no line yet: no contact, said once
    QVERIFY(!session.hasContact());

    fake.send("LAMP 1\r");
    fake.pushOutput();
    QVERIFY(waitForInput(session, kWireWait));
    lost.clear();
    session.tick();
    QCOMPARE(gained.size(), 1);
    QCOMPARE(lamp.size(), 1);
    QVERIFY(session.isLampOn());
    for (int n = 0; n < kContactTicks; ++n)
        session.tick();
    QCOMPARE(lost.size(), 0);
    QVERIFY(session.hasContact());
    session.tick();
    QCOMPARE(lost.size(), 1);
    QVERIFY(!session.hasContact());
    QVERIFY(session.isLampOn()); // losing contact says nothing of the lamp
}

void TestSession::powerFollowsCommandsAndLamp_data()
{
    // Steps: a command sent ("on", "off") or a lamp reply ("LAMP 0", "LAMP 1"), and the
    // power state after each.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("states");
    QTest::newRow("reported off") << QStringList {"LAMP 0"} << QStringList {"off"};
    QTest::newRow("warming up") << QStringList {"on", "LAMP 0", "LAMP 0", "LAMP 1"}
                                << QStringList {"warming", "warming", "warming", "on"};
    QTest::newRow("switched off") << QStringList {"LAMP 1", "off", "LAMP 0"}
                                  << QStringList {"on", "cooling", "off"};
    QTest::newRow("off again while warming")
        << QStringList {"on", "off", "LAMP 0"} << QStringList {"warming", "cooling", "off"};
}

void TestSession::powerFollowsCommandsAndLamp()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, states);
    ProjectorSession session; // no port: commands go nowhere, the state follows them
    QSignalSpy changed(&session, &ProjectorSession::powerChanged);
    QCOMPARE(ProjectorSession::powerName(session.power()), QStringLiteral("unknown"));
    for (int i = 0; i < steps.size(); ++i) {
        const QString &step = steps.at(i);
        if (step == QLatin1String("on") || step == QLatin1String("off"))
            session.send(step == QLatin1String("on") ? commands::Command::PowerOn
                                                     : commands::Command::PowerOff);
        else
            session.handleReply(step);
        QCOMPARE(ProjectorSession::powerName(session.power()), states.at(i));
    }
    // Said once for each change, never for a state that stays.
    int changes = 0;
    QString previous = QStringLiteral("unknown");
    for (const QString &state : states)
        changes += std::exchange(previous, state) != state;
    QCOMPARE(changed.size(), changes);
}

void TestSession::requestWaitsForTheLine_data()
{
    QTest::addColumn<bool>("asking"); // a window asks about each failed byte
    QTest::newRow("a window asks") << true;
    QTest::newRow("nobody to ask") << false;
}

void TestSession::requestWaitsForTheLine()
{
    QFETCH(bool, asking);
    FakeProjector fake(FakeProjector::Draining::Off);
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    ProjectorSession session;
    session.setPolling(false);
    session.setAskOnWriteFailure(asking);
    QString reason;
    QCOMPARE(session.openPort(fake.slavePath(), &reason), ProjectorSession::OpenResult::Open);
    QVERIFY(fake.fillOutputQueue() > 0);

    // While the failure is asked about, a script's request comes in and ticks go on:
    // its frame must wait for the frame being written.
    ScriptedRequest request(ScriptedRequest::plan({QStringLiteral("menu")}, false));
    bool sentMeanwhile = true;
    int failures = 0;
    connect(&session, &ProjectorSession::writeFailed, this, [&] {
        if (++failures > 1)
            return;
        session.submit(&request);
        fake.setDraining(FakeProjector::Draining::On);
        fake.clearRecord();
        for (int n = 0; n < kPollPeriod; ++n) {
            session.tick();
            QCoreApplication::processEvents();
        }
        sentMeanwhile = fake.waitForBytes(1, kSilenceWait);
        if (!asking)
            fake.setDraining(FakeProjector::Draining::Off);
    });
    QCOMPARE(session.sendFrame(QByteArray("AB")), false);
    QCOMPARE(failures, 1);
    QVERIFY(!sentMeanwhile);

    QSignalSpy finished(&request, &ScriptedRequest::finished);
    if (asking) {
        // The frame went on after the answer, and the request's frame followed it whole;
        // the projector's acknowledgement answers it.
        QTRY_VERIFY_WITH_TIMEOUT(fake.frames().size() >= 2, kWireWait);
        QCOMPARE(fake.frames(), (QList<QByteArray> {"B\r", "* 0 IR 008\r"}));
        fake.send("*000\r");
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), kRequestBound);
        QCOMPARE(request.result().status, ScriptedRequest::Status::Done);
    } else {
        // Nobody to ask: the frame ended at its failed byte, and the request's own frame
        // is refused by the full queue: the request fails with the reason.
        QVERIFY(fake.fillOutputQueue() >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), kRequestBound);
        QCOMPARE(request.result().status, ScriptedRequest::Status::PortFailed);
        QCOMPARE(request.result().error, QStringLiteral("Failed to send data to serial port"));
        fake.setDraining(FakeProjector::Draining::On);
        QVERIFY(!fake.waitForFrames(1, kSilenceWait));
    }
}

void TestSession::frameStaysOnItsDevice()
{
    // The port is opened through a link, which is reopened wherever it leads once the
    // device has vanished. A frame whose write failed before the device vanished must not
    // go on on the device that is there now.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("projector"));
    auto first = std::make_unique<FakeProjector>(FakeProjector::Draining::Off);
    FakeProjector second;
    QVERIFY(first->isValid() && second.isValid());
    QVERIFY(QFile::link(first->slavePath(), link));
    ProjectorSession session;
    session.setPolling(false);
    session.setAskOnWriteFailure(true);
    QString reason;
    QCOMPARE(session.openPort(link, &reason), ProjectorSession::OpenResult::Open);
    const PortDevice *original = session.port();
    QVERIFY(first->fillOutputQueue() > 0);

    QSignalSpy changed(&session, &ProjectorSession::portChanged);
    connect(&session, &ProjectorSession::writeFailed, this, [&] {
        if (changed.size() > 0)
            return;
        // The cable is pulled and another projector takes the name, all while asked.
        first->hangUp();
        QFile::remove(link);
        QVERIFY(QFile::link(second.slavePath(), link));
        for (int n = 0; n < 3 * kLookTicks && changed.size() < 2; ++n) {
            session.tick();
            QCoreApplication::processEvents();
        }
    });
    session.sendFrame(QByteArray("* 0 IR 025"));
    QCOMPARE(changed.size(), 2); // vanished, then reopened under the link
    QVERIFY(session.port());
    QVERIFY(session.port() != original);
    QVERIFY(!second.waitForBytes(1, kSilenceWait));
    QCOMPARE(second.received(), QByteArray());
}

void TestSession::scriptFrameEndsAtItsFailedByte_data()
{
    requestWaitsForTheLine_data();
}

void TestSession::scriptFrameEndsAtItsFailedByte()
{
    // Whoever holds the port, a script's frame that the line does not take ends at the
    // failed byte: nobody is asked, and the rest of it never follows.
    QFETCH(bool, asking);
    FakeProjector fake(FakeProjector::Draining::Off);
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    ProjectorSession session;
    session.setPolling(false);
    session.setAskOnWriteFailure(asking);
    QString reason;
    QCOMPARE(session.openPort(fake.slavePath(), &reason), ProjectorSession::OpenResult::Open);
    QVERIFY(fake.fillOutputQueue() > 0);
    // A window's user answers the box once the line has room again.
    QSignalSpy asked(&session, &ProjectorSession::writeFailed);
    connect(&session, &ProjectorSession::writeFailed, this, [&] { fake.drain(); });
    fake.clearRecord();

    ScriptedRequest request(ScriptedRequest::plan({QStringLiteral("menu")}, false));
    QSignalSpy finished(&request, &ScriptedRequest::finished);
    session.submit(&request);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), kRequestBound);
    QCOMPARE(request.result().status, ScriptedRequest::Status::PortFailed);
    QCOMPARE(request.result().error, QStringLiteral("Failed to send data to serial port"));
    QCOMPARE(asked.size(), 0);
    fake.setDraining(FakeProjector::Draining::On);
    QVERIFY(!fake.waitForFrames(1, kSilenceWait));
    QVERIFY2(!fake.received().contains("IR 008"), fake.received().constData());
}

void TestSession::answersInTheLog_data()
{
    QTest::addColumn<bool>("pjlink"); // the projector speaks PJLink, else the serial protocol
    QTest::addColumn<bool>("logged"); // the window's bare answers, else the service's none
    for (const bool pjlink : {false, true}) {
        const QByteArray kind = pjlink ? "PJLink" : "serial";
        QTest::newRow(kind + ", as the window logs") << pjlink << true;
        QTest::newRow(kind + ", as the service logs") << pjlink << false;
    }
}

void TestSession::answersInTheLog()
{
    // The lamp hours asked by a script: a bare line of the log only where it is wanted.
    QFETCH(bool, pjlink);
    QFETCH(bool, logged);
    FakeProjector fake;
    std::unique_ptr<PjlinkSimulator> projector;
    QString portName = fake.slavePath();
    if (pjlink) {
        PjlinkSimulator::Options options;
        options.port = 0;
        projector = std::make_unique<PjlinkSimulator>(options);
        QString error;
        QVERIFY2(projector->open(&error), qPrintable(error));
        portName = projector->portName();
    } else {
        QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
        connect(&fake, &FakeProjector::frameReceived, &fake, [&fake](const QByteArray &frame) {
            if (frame == "* 0 Lamp\r")
                fake.send("1234\r");
        });
    }
    ProjectorSession session;
    session.setPolling(false);
    session.setAnswersLogged(logged);
    QStringList said;
    connect(&session, &ProjectorSession::message, this,
            [&said](const QString &text) { said.append(text.trimmed()); });
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &session, &ProjectorSession::tick);
    ticker.start(kTickMs);
    QSignalSpy opened(&session, &ProjectorSession::openFinished);
    if (session.openPort(portName) == ProjectorSession::OpenResult::Pending)
        QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty(), kRequestBound);
    QVERIFY(session.port());
    ScriptedRequest request(ScriptedRequest::plan({QStringLiteral("lamp-time")}, false));
    QSignalSpy finished(&request, &ScriptedRequest::finished);
    session.submit(&request);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), kRequestBound);
    QCOMPARE(request.result().status, ScriptedRequest::Status::Done);
    const QString answer = request.result().steps.value(0).answer;
    QVERIFY(answer.contains(QLatin1String("1234")));
    QCOMPARE(said.contains(answer), logged);
}

void TestSession::sameDevice_data()
{
    // How two names are spelt, and whether they are one port. PTY stands for the test's
    // pseudo-terminal path, # for its number, LINK for a link to it.
    QTest::addColumn<QString>("one");
    QTest::addColumn<QString>("other");
    QTest::addColumn<bool>("same");
    QTest::newRow("itself") << "PTY"
                            << "PTY" << true;
    QTest::newRow("without /dev/") << "PTY"
                                   << "pts/#" << true;
    QTest::newRow("through /dev/./") << "PTY"
                                     << "/dev/./pts/#" << true;
    QTest::newRow("through ../") << "PTY"
                                 << "/dev/pts/../pts/#" << true;
    QTest::newRow("a link") << "LINK"
                            << "PTY" << true;
    QTest::newRow("another terminal") << "PTY"
                                      << "OTHER" << false;
    QTest::newRow("missing devices by name") << "ttyNOPE0"
                                             << "/dev/ttyNOPE0" << true;
    QTest::newRow("scheme and host in any case") << "SOCKET://HOST.example:4001"
                                                 << "socket://host.example:4001" << true;
    QTest::newRow("leading zeros") << "socket://127.0.0.5:04001"
                                   << "socket://127.0.0.5:4001" << true;
    QTest::newRow("IPv6") << "RFC2217://[::1]:04001"
                          << "rfc2217://[::1]:4001" << true;
    QTest::newRow("another port number") << "socket://host:4001"
                                         << "socket://host:4002" << false;
    QTest::newRow("raw against RFC 2217") << "socket://host:4001"
                                          << "rfc2217://host:4001" << false;
    QTest::newRow("a bridge against a device") << "socket://host:4001"
                                               << "PTY" << false;
}

void TestSession::sameDevice()
{
    QFETCH(QString, one);
    QFETCH(QString, other);
    QFETCH(bool, same);
    FakeProjector fake;
    FakeProjector another;
    QTemporaryDir dir;
    QVERIFY(fake.isValid() && another.isValid() && dir.isValid());
    const QString link = dir.filePath(QStringLiteral("projector"));
    QVERIFY(QFile::link(fake.slavePath(), link));
    const auto spell = [&](QString name) {
        name.replace(QLatin1String("PTY"), fake.slavePath());
        name.replace(QLatin1String("OTHER"), another.slavePath());
        name.replace(QLatin1String("LINK"), link);
        return name.replace(QLatin1Char('#'), fake.slavePath().section(QLatin1Char('/'), -1));
    };
    one = spell(one);
    other = spell(other);
    QCOMPARE(PortOpener::keyOf(one) == PortOpener::keyOf(other), same);
    // An open port is the device its name's key says.
    ProjectorSession session;
    QString reason;
    if (session.openPort(one, &reason) == ProjectorSession::OpenResult::Open) {
        QCOMPARE(session.port()->key(), PortOpener::keyOf(one));
        QCOMPARE(session.holds(other), same);
    }
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
