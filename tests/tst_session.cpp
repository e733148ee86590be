// One projector's session without a window or a display: its poll and watchdog, a
// scripted request in turn with a frame whose write is failing, a frame that never goes
// on on a device that came back under its name, and which names are the same port; with
// a command set, its reply ends, echoes and quirks.

#include "fakeprojector.h"
#include "link/commandsetreader.h"
#include "link/portdevice.h"
#include "link/portopener.h"
#include "link/serialprotocol.h"
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
constexpr int kFastTickMs = 10; // where only the lines matter

// Bytes as a set file writes them: printable ASCII as it is, the rest escaped.
QByteArray escaped(const QByteArray &bytes)
{
    QByteArray text;
    for (const char byte : bytes)
        text += byte > ' ' && byte < 0x7f && byte != '\\'
            ? QByteArray(1, byte)
            : "\\x" + QByteArray::number(uchar(byte), 16).rightJustified(2, '0');
    return text;
}

// A small set written to a file and read back: its [replies] lines and quirks from the
// test, the rest fixed. A toggling set has no power-off.
// Serves a script's request to its end, as long as a user would wait for it.
bool ranToItsEnd(ProjectorSession &session, ScriptedRequest &request)
{
    session.submit(&request);
    return QTest::qWaitFor([&request] { return request.isFinished(); }, kRequestBound);
}

// Ticks the session at this pace for as long as the timer lives.
void tickEvery(QTimer &ticker, ProjectorSession &session, int ms)
{
    QObject::connect(&ticker, &QTimer::timeout, &session, &ProjectorSession::tick);
    ticker.start(ms);
}

std::optional<CommandSet> writtenSet(const QTemporaryDir &dir, const QByteArray &replies,
                                     const QByteArray &quirks = {})
{
    const bool toggles = quirks.contains("power-toggle");
    const QByteArray text = "[set]\nname = Test\n[line]\nbaud = 9600\ndata-bits = 8\n"
                            "parity = none\nstop-bits = 1\nflow-control = none\n[frames]\n"
                            "end = \\r\n[replies]\n"
        + replies + "\naccepted = ACK\n[commands]\npower-on = PON\n"
        + (toggles ? "" : "power-off = POF\n")
        + "hdmi = HDMI\nlamp-time = LAMP?\n[power-state]\nquery = PWR?\non = PWR=01\n"
          "off = PWR=00\n[lamp-hours]\nanswer = LAMP={hours}\n"
        + (quirks.isEmpty() ? QByteArray() : "[quirks]\n" + quirks + "\n");
    QFile file(dir.filePath(QStringLiteral("test.ini")));
    CommandSet set;
    CommandSetReader::Refusal refusal;
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return std::nullopt;
    file.close();
    if (!CommandSetReader::readFile(file.fileName(), &set, &refusal)) {
        qWarning("%s", qPrintable(refusal.text()));
        return std::nullopt;
    }
    return set;
}

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
    void replyEnds_data();
    void replyEnds();
    void echoes_data();
    void echoes();
    void powerToggle_data();
    void powerToggle();
    void pacedFrames_data();
    void pacedFrames();
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
    QVERIFY(ranToItsEnd(session, request));
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
    tickEvery(ticker, session, kTickMs);
    QSignalSpy opened(&session, &ProjectorSession::openFinished);
    if (session.openPort(portName) == ProjectorSession::OpenResult::Pending)
        QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty(), kRequestBound);
    QVERIFY(session.port());
    ScriptedRequest request(ScriptedRequest::plan({QStringLiteral("lamp-time")}, false));
    QVERIFY(ranToItsEnd(session, request));
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

void TestSession::replyEnds_data()
{
    // A set's reply end (none: the built-in protocol), the bytes the projector sends, and
    // the lines the session hands on.
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("built-in: a line feed is a character")
        << QByteArray() << QByteArray("LAMP 1\r\nX\r") << QStringList {"LAMP 1", "\nX"};
    QTest::newRow("CR LF") << QByteArray("\r\n") << QByteArray("ACK\r\nPWR=01\r\n")
                           << QStringList {"ACK", "PWR=01"};
    QTest::newRow("LF: a CR before it and an empty line are no part")
        << QByteArray("\n") << QByteArray("ACK\r\n\nPWR=00\n") << QStringList {"ACK", "PWR=00"};
    QTest::newRow("prompt: the line breaks around a line go")
        << QByteArray(">") << QByteArray("\r\nPWR=01\r\n>ACK>") << QStringList {"PWR=01", "ACK"};
    QTest::newRow("prompt: a line break inside stays")
        << QByteArray(":") << QByteArray("A\r\nB:") << QStringList {"A\r\nB"};
    QTest::newRow("prompt: the prompt alone is a line")
        << QByteArray(":") << QByteArray(":PWR=01\r:") << QStringList {"", "PWR=01"};
    QTest::newRow("end byte: binary, every byte kept")
        << QByteArray("\x03") << QByteArray("\x02PWR\r\n\x03\x03") << QStringList {"\x02PWR\r\n"};
    QTest::newRow("high end byte: binary, a CR at the edge kept")
        << QByteArray("\x9a") << QByteArray("\r\xa9\x01\r\x9a")
        << QStringList {QString::fromLatin1("\r\xa9\x01\r")};
    QTest::newRow("a line is cut at its bound")
        << QByteArray("\r\n") << QByteArray(1100, 'x') + "\r\nACK\r\n"
        << QStringList {QString(serialprotocol::kMaxReplyLength, QLatin1Char('x')), "ACK"};
}

void TestSession::replyEnds()
{
    QFETCH(QByteArray, end);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    FakeProjector fake;
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    ProjectorSession session;
    session.setPolling(false);
    if (!end.isEmpty()) {
        const std::optional<CommandSet> set = writtenSet(dir, "end = " + escaped(end));
        QVERIFY(set);
        session.setCommandSet(set);
    }
    QCOMPARE(session.openPort(fake.slavePath()), ProjectorSession::OpenResult::Open);
    QStringList handled;
    connect(&session, &ProjectorSession::replyHandled, this,
            [&handled](const QString &line) { handled.append(line); });
    QTimer ticker;
    tickEvery(ticker, session, kFastTickMs);
    // In parts the port's input queue takes whole, each read before the next goes.
    constexpr int kPart = 512;
    for (qsizetype from = 0; from < bytes.size(); from += kPart) {
        fake.send(bytes.mid(from, kPart));
        fake.pushOutput();
        QVERIFY(waitForInput(session, kWireWait));
        QTRY_VERIFY_WITH_TIMEOUT(!waitForInput(session, 0), kWireWait);
    }
    QTRY_COMPARE_WITH_TIMEOUT(handled, lines, kWireWait);
}

void TestSession::echoes_data()
{
    // The set's echo and reply end, how often the projector sends the frame back before
    // its answer, and what the lamp-time step gets and the session hands on.
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<int>("echoed");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("lines");
    const QStringList answered {"LAMP=1234"};
    QTest::newRow("once") << QByteArray("echo = once") << QByteArray("\r") << 1 << "1234"
                          << answered;
    QTest::newRow("twice") << QByteArray("echo = twice") << QByteArray("\r") << 2 << "1234"
                           << answered;
    QTest::newRow("once, running on into the answer")
        << QByteArray("echo = once") << QByteArray("\r\n") << 1 << "1234" << answered;
    QTest::newRow("once, never coming")
        << QByteArray("echo = once") << QByteArray("\r") << 0 << "1234" << answered;
    QTest::newRow("none: an echo is an answer")
        << QByteArray("echo = none") << QByteArray("\r") << 1 << "LAMP?"
        << QStringList {"LAMP?", "LAMP=1234"};
}

void TestSession::echoes()
{
    QFETCH(QByteArray, replies);
    QFETCH(QByteArray, end);
    QFETCH(int, echoed);
    QFETCH(QString, answer);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    const std::optional<CommandSet> set = writtenSet(dir, "end = " + escaped(end) + "\n" + replies);
    QVERIFY(set);
    FakeProjector fake;
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    connect(&fake, &FakeProjector::frameReceived, &fake, [&](const QByteArray &frame) {
        fake.send(frame.repeated(echoed) + "LAMP=1234" + end);
    });
    ProjectorSession session;
    session.setPolling(false);
    session.setCommandSet(set);
    QStringList handled;
    connect(&session, &ProjectorSession::replyHandled, this,
            [&handled](const QString &line) { handled.append(line); });
    QTimer ticker;
    tickEvery(ticker, session, kFastTickMs);
    QCOMPARE(session.openPort(fake.slavePath()), ProjectorSession::OpenResult::Open);
    ScriptedRequest request(ScriptedRequest::plan({QStringLiteral("lamp-time")}, false));
    QVERIFY(ranToItsEnd(session, request));
    QCOMPARE(request.result().steps.value(0).answer, answer);
    QTRY_COMPARE_WITH_TIMEOUT(handled, lines, kWireWait);
}

void TestSession::powerToggle_data()
{
    // The power state the projector tells, the power command pressed (how often), the
    // toggles that go out and why the rest did not.
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("toggles");
    QTest::addColumn<QString>("reason");
    QTest::newRow("on when off") << QByteArray("PWR=00") << true << 1 << 1 << QString();
    QTest::newRow("off when on") << QByteArray("PWR=01") << false << 1 << 1 << QString();
    QTest::newRow("on when on")
        << QByteArray("PWR=01") << true << 1 << 0
        << "Test toggles the power and the projector is on: nothing was sent";
    QTest::newRow("off when off")
        << QByteArray("PWR=00") << false << 1 << 0
        << "Test toggles the power and the projector is off: nothing was sent";
    QTest::newRow("not known")
        << QByteArray() << true << 1 << 0
        << "Test toggles the power and the power state is not known yet: nothing was sent";
    QTest::newRow("on twice") << QByteArray("PWR=00") << true << 2 << 1
                              << "Test toggles the power and it is switching: nothing was sent";
}

void TestSession::powerToggle()
{
    QFETCH(QByteArray, state);
    QFETCH(bool, on);
    QFETCH(int, presses);
    QFETCH(int, toggles);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const std::optional<CommandSet> set = writtenSet(dir, "end = \\r", "power-toggle = yes");
    QVERIFY(set);
    FakeProjector fake;
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    connect(&fake, &FakeProjector::frameReceived, &fake, [&](const QByteArray &frame) {
        if (frame == "PWR?\r" && !state.isEmpty())
            fake.send(state + "\r");
    });
    ProjectorSession session;
    session.setPolling(false);
    session.setCommandSet(set);
    QStringList said;
    connect(&session, &ProjectorSession::message, this,
            [&said](const QString &text) { said.append(text); });
    QTimer ticker;
    tickEvery(ticker, session, kFastTickMs);
    QCOMPARE(session.openPort(fake.slavePath()), ProjectorSession::OpenResult::Open);
    // The window offers power-off: the toggle is its frame too.
    QCOMPARE(session.availability(commands::Command::PowerOff),
             ProjectorProtocol::Availability::Available);
    const ProjectorSession::Power told = state.isEmpty() ? ProjectorSession::Power::Unknown
        : state == "PWR=01"                              ? ProjectorSession::Power::On
                                                         : ProjectorSession::Power::Off;
    if (state.isEmpty())
        QVERIFY(fake.waitForFrames(1, kWireWait));
    QTRY_COMPARE_WITH_TIMEOUT(session.power(), told, kWireWait);
    for (int n = 0; n < presses; ++n)
        session.send(on ? commands::Command::PowerOn : commands::Command::PowerOff);
    QVERIFY(fake.waitForFrames(1 + toggles, kWireWait));
    QVERIFY(!fake.waitForFrames(2 + toggles, kSilenceWait));
    QCOMPARE(fake.frames().mid(1), QList<QByteArray>(toggles, "PON\r"));
    QCOMPARE(said, reason.isEmpty() ? QStringList() : QStringList {reason});
}

void TestSession::pacedFrames_data()
{
    // The quirks, a script's steps, what goes on the line and how long at least after
    // the script came until the last frame arrived.
    QTest::addColumn<QByteArray>("quirks");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("atLeastMs");
    QTest::newRow("none") << QByteArray() << QStringList {"power-on", "hdmi"}
                          << QByteArray("PON\rHDMI\r") << 0;
    QTest::newRow("sent twice") << QByteArray("send-twice = hdmi") << QStringList {"hdmi"}
                                << QByteArray("HDMI\rHDMI\r") << ProjectorSession::kRepeatPause;
    QTest::newRow("busy after power")
        << QByteArray("busy-after-power = 1500") << QStringList {"power-on", "hdmi"}
        << QByteArray("PON\rHDMI\r") << 1500;
    QTest::newRow("wake-up") << QByteArray("wake-up = WAKE\nwake-up-wait = 500")
                             << QStringList {"hdmi"} << QByteArray("WAKEHDMI\r") << 500;
}

void TestSession::pacedFrames()
{
    QFETCH(QByteArray, quirks);
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, wire);
    QFETCH(int, atLeastMs);
    QTemporaryDir dir;
    const std::optional<CommandSet> set = writtenSet(dir, "end = \\r", quirks);
    QVERIFY(set);
    FakeProjector fake;
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    QElapsedTimer since;
    qint64 lastFrame = -1;
    connect(&fake, &FakeProjector::frameReceived, &fake, [&](const QByteArray &) {
        lastFrame = since.elapsed();
        fake.send("ACK\r");
    });
    ProjectorSession session;
    session.setPolling(false);
    session.setCommandSet(set);
    QTimer ticker;
    tickEvery(ticker, session, kTickMs);
    QCOMPARE(session.openPort(fake.slavePath()), ProjectorSession::OpenResult::Open);
    since.start();
    ScriptedRequest request(ScriptedRequest::plan(steps, false));
    QVERIFY(ranToItsEnd(session, request));
    QCOMPARE(request.result().status, ScriptedRequest::Status::Done);
    QCOMPARE(request.result().steps.size(), steps.size());
    QTRY_COMPARE_WITH_TIMEOUT(fake.received(), wire, kWireWait);
    QVERIFY2(lastFrame >= atLeastMs, qPrintable(QString::number(lastFrame)));
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
