// The projector behind a serial-to-network bridge: a real ser2net serving the fake
// projector's pseudo-terminal, raw and with RFC 2217, and loopback peers of the test's
// own for what no bridge does on request (silence, a flood).

#include "boxanswerer.h"
#include "fakeprojector.h"
#include "link/commandset.h"
#include "link/portdevice.h"
#include "link/serialprotocol.h"
#include "loadfreeclock.h"
#include "loadfreetickwatch.h"
#include "probe/portprobe.h"
#include "probe/sessionprobe.h"
#include "probe/tickwatch.h"
#include "probe/windowform.h"
#include "ser2netbridge.h"
#include "session/projectorsession.h"
#include "settingsdriver.h"
#include "ui/lumivox.h"
#include "ui/panelcolors.h"
#include "ui/settings.h"
#include "windowprobe.h"
#include "wireframes.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kWireWait = 5000; // ms for bytes to cross bridge and pty
constexpr int kPollPeriod = 3100; // ms from one lamp poll to the next
constexpr int kFreeze = 2000; // ms of a tick that a user would call a frozen window
constexpr int kRefusedBound = 2500; // ms: a refusal is known at once, not after the wait
constexpr int kOpenWait = 3000; // ms an Apply waits for a bridge at most
constexpr int kOpenSlack = 500; // ms the wait may end early (timer granularity)
constexpr int kHangBound = 10000; // ms: an Apply whose outcome is not known by then hangs
constexpr int kReconnectBound = 5000; // ms after the bridge's return ("about 2 s")
constexpr int kAwayWait = 1500; // ms the bridge stays away
constexpr int kSilentWatch = 6000; // ms the watch tries a silent peer
constexpr qint64 kFloodBytes = 10 * 1024 * 1024;
constexpr int kFloodChunk = 64 * 1024;
constexpr int kPeerPause = 5; // ms between two looks of the flooding peer
constexpr int kFloodBound = 120000; // ms for the flood to pass at all
constexpr qsizetype kHeldBound = 1024 + 64 * 1024; // link queue and socket buffer
constexpr int kByteValues = 256;

constexpr int kTick = 100; // ms between two ticks of a session of the test's own

const QString gone = QStringLiteral("Communication with projector not possible.\n");
const QString initialized = QStringLiteral("Com-port initialized!\n");

using testsupport::BoxAnswerer;
using testsupport::logText;
using testsupport::Ser2netBridge;

QByteArray everyByteValue()
{
    QByteArray bytes(kByteValues, '\0');
    for (int i = 0; i < kByteValues; ++i)
        bytes[i] = char(i);
    return bytes;
}

// The projector answers every lamp poll with "LAMP 1".
void answerPolls(FakeProjector &fake)
{
    QObject::connect(&fake, &FakeProjector::frameReceived, &fake, [&fake](const QByteArray &f) {
        if (f == testsupport::pollFrame())
            fake.send("LAMP 1\r");
    });
}

// A peer on a thread of its own that writes as fast as TCP takes it: `bytes` of 'x';
// `tail` once asked to; it keeps the connection until destroyed.
class FloodPeer
{
public:
    FloodPeer(qint64 bytes, QByteArray tail)
    {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(listener, 1) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        writer = std::thread([this, bytes, tail] {
            peer = ::accept(listener, nullptr, nullptr);
            const QByteArray chunk(kFloodChunk, 'x');
            for (qint64 sent = 0; peer >= 0 && sent < bytes && !stopping;) {
                const ssize_t n
                    = ::send(peer, chunk.constData(),
                             size_t(qMin<qint64>(chunk.size(), bytes - sent)), MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += n;
            }
            // Flooded once the receiving side's kernel has taken every byte.
            int unsent = 0;
            while (!stopping && ::ioctl(peer, SIOCOUTQ, &unsent) == 0 && unsent > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(kPeerPause));
            flooded = true;
            while (!stopping && !sendTail)
                std::this_thread::sleep_for(std::chrono::milliseconds(kPeerPause));
            if (!stopping)
                ::send(peer, tail.constData(), size_t(tail.size()), MSG_NOSIGNAL);
        });
    }
    ~FloodPeer()
    {
        stopping = true;
        ::shutdown(listener, SHUT_RDWR);
        if (peer >= 0)
            ::shutdown(peer, SHUT_RDWR);
        if (writer.joinable())
            writer.join();
        if (peer >= 0)
            ::close(peer);
        if (listener >= 0)
            ::close(listener);
    }
    FloodPeer(const FloodPeer &) = delete;
    FloodPeer &operator=(const FloodPeer &) = delete;

    quint16 port = 0;
    std::atomic<bool> flooded {false};
    std::atomic<bool> sendTail {false};

private:
    int listener = -1;
    int peer = -1;
    std::atomic<bool> stopping {false};
    std::thread writer;
};
} // namespace

Q_DECLARE_METATYPE(CommandSet::LineSettings)

class TestNetwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void throughBridge_data();
    void throughBridge();
    void rfc2217SetsTheLine_data();
    void rfc2217SetsTheLine();
    void bridgeRestarts_data();
    void bridgeRestarts();
    void refusedOrSilent_data();
    void refusedOrSilent();
    void silentBridgeNeverHoldsATick();
    void floodWithoutCarriageReturn();
    void hostileNames_data();
    void hostileNames();

private:
    std::unique_ptr<FakeProjector> fake;
    std::unique_ptr<Ser2netBridge> bridge;
    std::unique_ptr<Lumivox> window;
};

void TestNetwork::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin"})
                  .isEmpty(),
             "ser2net is not installed (tools/build-and-test installs it)");
}

void TestNetwork::init()
{
    fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
    bridge = std::make_unique<Ser2netBridge>(fake->slavePath());
    QVERIFY2(bridge->start(), qPrintable(bridge->errorString()));
    window = std::make_unique<Lumivox>();
    window->show();
    testsupport::WindowForm(*window).textEdit->clear();
}

void TestNetwork::cleanup()
{
    window.reset();
    bridge.reset();
    fake.reset();
}

void TestNetwork::throughBridge_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<bool>("byName"); // looked up (in the hosts file) rather than an address
    QTest::newRow("raw") << false << false;
    QTest::newRow("RFC 2217") << true << false;
    QTest::newRow("RFC 2217, localhost") << true << true;
}

void TestNetwork::throughBridge()
{
    QFETCH(bool, rfc2217);
    QFETCH(bool, byName);
    QString name = rfc2217 ? bridge->rfc2217Name() : bridge->rawName();
    if (byName)
        name.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    answerPolls(*fake);
    BoxAnswerer boxes;

    // The start-up poll reaches the projector and its answer turns the panel green.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(testsupport::runSettings(
        *window, [&](Settings *dialog) { testsupport::applyName(dialog, name); }));
    // The connection is made while the ticks go on; the log says so once it stands.
    QTRY_VERIFY2_WITH_TIMEOUT(window->session().port(), qPrintable(logText(*window)),
                              kOpenWait + kFreeze);
    QCOMPARE(logText(*window), initialized);
    QTRY_VERIFY_WITH_TIMEOUT(window->isLampOn(), kWireWait);
    qInfo("%s: Apply to the first reply acted on: %lld ms", qPrintable(name), clock.elapsed());
    QCOMPARE(testsupport::panelColour(*window), panelcolors::lampOn());

    // A command frame arrives whole, and every byte value passes unchanged both ways.
    testsupport::WindowForm(*window).brightness->click();
    QTRY_VERIFY_WITH_TIMEOUT(testsupport::withoutPolls(fake->frames()).contains("* 0 IR 025\r"),
                             kWireWait);
    const QByteArray all = everyByteValue();
    window->sendCommand(all.constData(), unsigned(all.size()));
    QTRY_VERIFY_WITH_TIMEOUT(fake->received().contains(all + '\r'), kWireWait);

    // Read straight from the port, without the event loop: no tick takes the bytes.
    fake->send(all);
    fake->pushOutput();
    QByteArray back;
    QElapsedTimer wait;
    wait.start();
    // A lamp answer may still be on its way ahead of them.
    while (!back.endsWith(all) && wait.elapsed() < kWireWait) {
        char buffer[kByteValues];
        const quint32 got = window->session().port()->read(buffer, sizeof buffer);
        back.append(buffer, int(got));
        if (got == 0)
            QThread::msleep(1);
    }
    QCOMPARE(back.right(all.size()).toHex(' '), all.toHex(' '));
    QCOMPARE(boxes.count(), 0);
}

void TestNetwork::rfc2217SetsTheLine_data()
{
    using Parity = CommandSet::Parity;
    using Flow = CommandSet::FlowControl;
    QTest::addColumn<CommandSet::LineSettings>("alternatives"); // none: the built-in protocol
    QTest::addColumn<int>("baud"); // chosen in place of the usual one; 0 for that one
    QTest::addColumn<uint>("speed");
    // What sticks on the bridge's pseudo-terminal (it keeps CS8 and clears PARENB).
    QTest::addColumn<uint>("control");
    QTest::addColumn<uint>("input");

    const uint none = 0;
    QTest::newRow("built-in") << CommandSet::LineSettings() << 0 << uint(B9600) << none << none;
    QTest::newRow("the set's first of each")
        << CommandSet::LineSettings {{19200, 9600},
                                     {7, 8},
                                     {Parity::Odd, Parity::None},
                                     {2, 1},
                                     {Flow::None}}
        << 0 << uint(B19200) << uint(PARODD | CSTOPB) << none;
    QTest::newRow("mark, hardware")
        << CommandSet::LineSettings {{38400}, {8}, {Parity::Mark}, {1}, {Flow::Hardware}} << 0
        << uint(B38400) << uint(PARODD | CMSPAR | CRTSCTS) << none;
    QTest::newRow("software, a rate chosen")
        << CommandSet::LineSettings {{4800}, {8}, {Parity::Space}, {1}, {Flow::Software}} << 57600
        << uint(B57600) << uint(CMSPAR) << uint(IXON | IXOFF);
}

void TestNetwork::rfc2217SetsTheLine()
{
    QFETCH(CommandSet::LineSettings, alternatives);
    QFETCH(int, baud);
    QFETCH(uint, speed);
    QFETCH(uint, control);
    QFETCH(uint, input);
    // The bridge serves the line as 1200 7E2 with both flow controls; the link asks for
    // the protocol's line.
    ProjectorSession session;
    if (!alternatives.bauds.isEmpty()) {
        CommandSet set;
        set.line = alternatives;
        session.setCommandSet(set);
    }
    session.setBaudRate(baud);
    QSignalSpy finished(&session, &ProjectorSession::openFinished);
    QCOMPARE(session.openPort(bridge->rfc2217Name()), ProjectorSession::OpenResult::Pending);
    QTimer tick;
    connect(&tick, &QTimer::timeout, &session, &ProjectorSession::tick);
    tick.start(kTick);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kHangBound);
    QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(finished.at(0).at(1).toString()));
    // The bridge answers a request as it takes it; the line follows a moment later.
    termios line {};
    QTRY_VERIFY_WITH_TIMEOUT(tcgetattr(fake->slaveDescriptor(), &line) == 0
                                 && cfgetospeed(&line) == speed_t(speed),
                             kWireWait);
    QCOMPARE(uint(cfgetispeed(&line)), speed);
    QCOMPARE(uint(line.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS)), control);
    QCOMPARE(uint(line.c_iflag & (IXON | IXOFF)), input);
}

void TestNetwork::bridgeRestarts_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("raw") << false;
    QTest::newRow("RFC 2217") << true;
}

void TestNetwork::bridgeRestarts()
{
    QFETCH(bool, rfc2217);
    answerPolls(*fake);
    BoxAnswerer boxes;
    testsupport::openOn(*window, rfc2217 ? bridge->rfc2217Name() : bridge->rawName());
    QTRY_VERIFY_WITH_TIMEOUT(window->isLampOn(), kWireWait);

    bridge->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!window->session().port(), kWireWait);
    QTest::qWait(kAwayWait); // several refused attempts meanwhile
    QCOMPARE(logText(*window), gone);
    QVERIFY(!window->session().port());

    QVERIFY2(bridge->start(), qPrintable(bridge->errorString()));
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(window->session().port(), kReconnectBound);
    qInfo("reconnected %lld ms after the bridge listened again", clock.elapsed());
    QCOMPARE(logText(*window), gone + initialized);

    // Polled again on the new connection.
    window->handleReply(QStringLiteral("LAMP 0"));
    QTRY_VERIFY_WITH_TIMEOUT(window->isLampOn(), 2 * kPollPeriod + kWireWait);
    QCOMPARE(boxes.count(), 0);
}

void TestNetwork::refusedOrSilent_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("because");
    QTest::newRow("nothing listens") << false << "Connection refused";
    QTest::newRow("no RFC 2217 answer")
        << true << "The bridge did not answer the line settings in time";
}

void TestNetwork::refusedOrSilent()
{
    QFETCH(bool, listening);
    QFETCH(QString, because);
    QTcpServer silent; // its connections wait in the backlog, never answered
    quint16 port = testsupport::freeLoopbackPort();
    if (listening) {
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        port = silent.serverPort();
    }
    const QString name = QStringLiteral("rfc2217://127.0.0.1:%1").arg(port);

    // Ticks and times as the program saw them: what a busy machine adds is left out of
    // every upper bound; the wait itself is the wall clock's.
    testsupport::LoadFreeTickWatch ticks(window.get());
    QElapsedTimer clock;
    clock.start();
    testsupport::LoadFreeClock ownClock;
    QVERIFY(testsupport::runSettings(
        *window, [&](Settings *dialog) { testsupport::applyName(dialog, name); }));
    // Apply starts the connection; its outcome is logged when it is known, the ticks
    // going on meanwhile.
    const QString failure = QStringLiteral("Failed to initialize Com-port!\n") + gone
        + QStringLiteral("Reason: ") + name + QStringLiteral(": ") + because + '\n';
    QTRY_COMPARE_WITH_TIMEOUT(logText(*window), failure, kHangBound);
    const qint64 elapsed = clock.elapsed();
    const qint64 ownElapsed = ownClock.elapsed();
    qInfo("%s after %lld ms (%lld ms of the program's)", qPrintable(because), elapsed, ownElapsed);
    QVERIFY(!window->session().port());
    QVERIFY2(ticks.longestGapMs() < kFreeze, qPrintable(QString::number(ticks.longestGapMs())));
    if (listening)
        QVERIFY2(elapsed >= kOpenWait - kOpenSlack && ownElapsed < kOpenWait + kFreeze,
                 qPrintable(QStringLiteral("%1 %2").arg(elapsed).arg(ownElapsed)));
    else
        QVERIFY2(ownElapsed < kRefusedBound, qPrintable(QString::number(ownElapsed)));
}

void TestNetwork::silentBridgeNeverHoldsATick()
{
    testsupport::openOn(*window, bridge->rfc2217Name());
    const quint16 port = QUrl(bridge->rfc2217Name()).port();
    bridge->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!window->session().port(), kWireWait);

    // Where the bridge was, a peer now takes connections and never answers.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, port));
    int attempts = 0;
    QList<QTcpSocket *> held;
    connect(&silent, &QTcpServer::newConnection, &silent, [&] {
        while (QTcpSocket *socket = silent.nextPendingConnection()) {
            ++attempts;
            held.append(socket);
        }
    });
    testsupport::LoadFreeTickWatch ticks(window.get());
    const testsupport::LoadFreeClock clock;
    QTest::qWait(kSilentWatch);

    // A watch that waited for the peer would hold ticks for seconds: far fewer would run
    // than the watch's time holds, less what the test's thread waited for a CPU.
    const qint64 expected = clock.elapsed() / testsupport::TickWatch::kTickInterval;
    qInfo("%lld ticks, %d attempts, longest gap %.1f ms", qint64(ticks.gapsMs().size()), attempts,
          ticks.longestGapMs());
    QVERIFY2(ticks.gapsMs().size() > expected / 2,
             qPrintable(QString::number(ticks.gapsMs().size())));
    QVERIFY2(attempts >= 2, "the watch never gave a silent attempt up");
    QVERIFY(!window->session().port());
    QCOMPARE(logText(*window), gone);
}

void TestNetwork::floodWithoutCarriageReturn()
{
    bridge.reset(); // this peer is the test's own
    FloodPeer peer(kFloodBytes, "\rLAMP 1\r");
    QVERIFY(peer.port != 0);
    testsupport::openOn(*window, QStringLiteral("socket://127.0.0.1:%1").arg(peer.port));

    // Ticks go on and what the link holds stays bounded while the bytes pour in; ticks
    // and time as the program saw them, less the test's waits for a CPU.
    testsupport::LoadFreeTickWatch ticks(window.get());
    qsizetype held = 0;
    qsizetype line = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        if (window->session().port())
            held = qMax(held, testsupport::portHeldBytes(window->session().port()));
        line = qMax(line, testsupport::SessionProbe::pendingReply(window->session()).size());
    });
    sampler.start(testsupport::TickWatch::kTickInterval / 2);
    testsupport::LoadFreeClock clock;
    QTRY_VERIFY_WITH_TIMEOUT(peer.flooded, kFloodBound);
    QTRY_COMPARE_WITH_TIMEOUT(testsupport::bytesWaiting(*window), 0, kWireWait);
    const qint64 flood = clock.elapsed();
    qInfo("10 MB in %lld ms, %lld ticks, longest gap between ticks %.1f ms, held %lld bytes", flood,
          qint64(ticks.gapsMs().size()), ticks.longestGapMs(), qint64(held));

    // A reply after the flood is acted on within two polls.
    peer.sendTail = true;
    QTRY_VERIFY_WITH_TIMEOUT(window->isLampOn(), 2 * kPollPeriod);
    QVERIFY(window->session().port());
    QVERIFY2(held <= kHeldBound, qPrintable(QString::number(held)));
    QVERIFY(line <= serialprotocol::kMaxReplyLength);
    QVERIFY2(ticks.longestGapMs() < kFreeze, qPrintable(QString::number(ticks.longestGapMs())));
    QVERIFY(ticks.gapsMs().size() >= flood / testsupport::TickWatch::kTickInterval / 2);
}

void TestNetwork::hostileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");

    const QString noPort = QStringLiteral("No port number after the host");
    const QString range = QStringLiteral("The port number must be 1 to 65535");
    QTest::newRow("no port") << "socket://127.0.0.1" << noPort;
    QTest::newRow("empty port") << "socket://127.0.0.1:" << noPort;
    QTest::newRow("port 0") << "socket://127.0.0.1:0" << range;
    QTest::newRow("port 65536") << "rfc2217://127.0.0.1:65536" << range;
    QTest::newRow("port of many digits") << "socket://127.0.0.1:000000000000000000001" << range;
    QTest::newRow("signed port") << "socket://127.0.0.1:+80"
                                 << "The port is not a number";
    QTest::newRow("path after port") << "socket://127.0.0.1:80/x"
                                     << "The port is not a number";
    QTest::newRow("no host") << "socket://:4000"
                             << "No host before the port number";
    QTest::newRow("nothing") << "rfc2217://" << noPort;
    QTest::newRow("space") << "socket://127.0.0.1 :4000"
                           << "The name holds a space";
    QTest::newRow("trailing space") << "socket://127.0.0.1:4000 "
                                    << "The name holds a space";
    QTest::newRow("carriage return") << "socket://127.0.0.1:4000\rLAMP 1"
                                     << "The port name holds a control character";
    QTest::newRow("NUL") << QStringLiteral("socket://127.0.0.1%1:4000").arg(QChar(0))
                         << "The port name holds a control character";
    QTest::newRow("bare IPv6") << "socket://::1:4000"
                               << "An IPv6 address must be in brackets";
    QTest::newRow("unclosed bracket") << "socket://[::1:4000"
                                      << "The IPv6 address has no closing bracket";
    QTest::newRow("name in brackets") << "socket://[localhost]:4000"
                                      << "Between the brackets is no IPv6 address";
    QTest::newRow("nothing after bracket") << "socket://[::1]" << noPort;
    QTest::newRow("user part") << "socket://user@127.0.0.1:4000"
                               << "The host holds a character no host name has";
    QTest::newRow("non-ASCII host") << QStringLiteral("socket://localhost%1:4000").arg(QChar(0xe9))
                                    << "The host holds a character no host name has";
    QTest::newRow("long host") << "socket://host" + QString(250, QLatin1Char('a')) + ":1"
                               << "The host name is too long";
    QTest::newRow("other scheme") << "telnet://127.0.0.1:23"
                                  << "Only socket:// and rfc2217:// lead to the network";
}

void TestNetwork::hostileNames()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QString why;
    QVERIFY(!window->openPort(name, &why));
    QCOMPARE(why, reason);
    QVERIFY(!window->session().port());
}

QTEST_MAIN(TestNetwork)

#include "tst_network.moc"
