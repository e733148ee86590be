// Bridges that misbehave on purpose, loopback peers of the test's own, opened by a
// projector session at a timer's ticks; how the RFC 2217 session reads the answers, free
// of sockets; and the command line under a resolver that never answers.

#include "commandlinerun.h"
#include "link/networkport.h"
#include "link/rfc2217session.h"
#include "loadfreeclock.h"
#include "sanitizer.h"
#include "session/projectorsession.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kTick = 100; // ms between two ticks, as the window's
constexpr int kHangBound = 10000; // ms: an opening that has not ended by then hangs
constexpr int kFreeze = 500; // ms between two ticks that a user would call a freeze
// KiB the peak may grow by: the port holds a few hundred, the rest is the allocator's.
[[maybe_unused]] constexpr qint64 kGrowthBound = 8 * 1024;
// ms for the command line to start and end, on a busy machine and sanitized too: far
// below the resolver's hang, which is what the run must not wait for
constexpr int kExitMargin = 5000;
constexpr int kRepeats = 4096; // requests or data bytes in one send of a peer
constexpr int kAnyPort = 4001; // never connected to: the name is never found
constexpr uchar kIac = 255, kSb = 250, kSe = 240, kDo = 253, kDont = 254;
constexpr uchar kComPort = 44, kTerminalType = 24, kAnswer = 100; // answer code: request + 100
constexpr uchar kBaud = 1, kSize = 2, kParity = 3, kStop = 4, kControl = 5, kPurge = 12;

QByteArray bytes(std::initializer_list<uchar> list)
{
    return QByteArray(reinterpret_cast<const char *>(list.begin()), qsizetype(list.size()));
}

QByteArray answer(uchar code, const QByteArray &value)
{
    return bytes({kIac, kSb, kComPort, uchar(code + kAnswer)}) + value + bytes({kIac, kSe});
}

QByteArray one(uchar code, uchar value)
{
    return answer(code, bytes({value}));
}

const QByteArray offer = bytes({kIac, kDo, kComPort}); // the client asks for the line then
const QByteArray purged = one(kPurge, 3);
// The answers as asked, in ser2net's order but for the purge (first there); it leaves
// DTR and RTS unanswered.
const QByteArray asked = answer(kBaud, bytes({0, 0, 0x25, 0x80})) + one(kSize, 8) + one(kParity, 1)
    + one(kStop, 1) + one(kControl, 1);

// The peak resident memory in KiB, reset by writing 5 to clear_refs; or the current one.
qint64 memoryKiB(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    for (const QByteArray &line :
         (status.open(QIODevice::ReadOnly) ? status.readAll() : "").split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').constFirst().toLongLong();
    return -1;
}

// A bridge on 127.0.0.1 on a thread of its own, so that an open() that waits does not hold
// it: it takes one connection, sends `greeting`, then `repeated` for as long as the
// connection takes it; it never reads.
class HostileBridge
{
public:
    HostileBridge(const QByteArray &greeting, const QByteArray &repeated)
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(listener, 1) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        server = std::thread([this, greeting, repeated] {
            peer = ::accept(listener, nullptr, nullptr);
            bool more = peer >= 0
                && ::send(peer, greeting.constData(), size_t(greeting.size()), MSG_NOSIGNAL)
                    == greeting.size();
            while (more && !repeated.isEmpty())
                more
                    = ::send(peer, repeated.constData(), size_t(repeated.size()), MSG_NOSIGNAL) > 0;
        });
    }
    ~HostileBridge()
    {
        ::shutdown(listener, SHUT_RDWR); // ends a wait in accept()
        if (peer >= 0)
            ::shutdown(peer, SHUT_RDWR); // and one in send()
        if (server.joinable())
            server.join();
        if (peer >= 0)
            ::close(peer);
        ::close(listener);
    }
    HostileBridge(const HostileBridge &) = delete;
    HostileBridge &operator=(const HostileBridge &) = delete;

    quint16 port = 0; // 0: not listening

private:
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::atomic<int> peer {-1};
    std::thread server;
};
} // namespace

class TestBridgePeers : public QObject
{
    Q_OBJECT

private slots:
    void sessionAnswers_data();
    void sessionAnswers();
    void hostileBridges_data();
    void hostileBridges();
    void hangingLookupOnTheCommandLine();
};

void TestBridgePeers::sessionAnswers_data()
{
    QTest::addColumn<QByteArray>("fromBridge");
    QTest::addColumn<bool>("configured");
    QTest::addColumn<QString>("refusal");

    const QString set = QStringLiteral("The bridge set %1 instead of %2");
    QTest::newRow("as asked") << offer + purged + asked << true << "";
    QTest::newRow("no purge answer") << offer + asked << false << "";
    QTest::newRow("baud rate") << offer + purged + answer(kBaud, bytes({0, 1, 0xc2, 0})) + asked
                               << false << set.arg("115200 baud", "9600 baud");
    QTest::newRow("data size") << offer + one(kSize, 7) + purged + asked << false
                               << set.arg("7 data bits", "8 data bits");
    QTest::newRow("parity") << offer + one(kParity, 3) + purged + asked << false
                            << set.arg("even parity", "no parity");
    QTest::newRow("stop size") << offer + one(kStop, 2) + purged + asked << false
                               << set.arg("2 stop bits", "1 stop bit");
    QTest::newRow("flow control") << offer + one(kControl, 3) + purged + asked << false
                                  << set.arg("hardware flow control", "no flow control");
    QTest::newRow("DTR") << offer + purged + asked + one(kControl, 9) + one(kControl, 8) << false
                         << set.arg("DTR on", "DTR off");
    QTest::newRow("no serial port control") << bytes({kIac, kDont, kComPort}) << false
                                            << "The bridge does not offer serial port control";
    // RFC 855: IAC IAC in a subnegotiation is a data 0xFF; IAC and any other command ends
    // it, and that command counts.
    QTest::newRow("doubled IAC in a value") << offer + answer(kBaud, bytes({0, 0, kIac, kIac, 0}))
                                            << false << set.arg("65280 baud", "9600 baud");
    QTest::newRow("command inside a subnegotiation")
        << offer + bytes({kIac, kSb, kComPort, kSize + kAnswer, 8, kIac, kDont, kComPort}) << false
        << "The bridge does not offer serial port control";
}

void TestBridgePeers::sessionAnswers()
{
    QFETCH(QByteArray, fromBridge);
    QFETCH(bool, configured);
    QFETCH(QString, refusal);
    // However the bytes are split on the way.
    for (qsizetype piece : {fromBridge.size(), qsizetype(1)}) {
        Rfc2217Session session;
        session.start();
        QByteArray owed;
        for (qsizetype at = 0; at < fromBridge.size(); at += piece)
            session.receive(fromBridge.mid(at, piece), &owed);
        QCOMPARE(session.refusal(), refusal);
        QCOMPARE(session.isConfigured(), configured);
    }
}

void TestBridgePeers::hostileBridges_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("repeated");
    QTest::addColumn<QString>("because");

    QByteArray storm;
    for (int i = 0; i < kRepeats; ++i)
        storm += bytes({kIac, kDo, kTerminalType}); // an option the client refuses
    const QByteArray otherLine = answer(kBaud, bytes({0, 1, 0xc2, 0})) + one(kSize, 7);
    QTest::newRow("sends data, never answers")
        << offer << QByteArray(kRepeats, 'x')
        << "The bridge did not answer the line settings in time";
    QTest::newRow("asks and never reads")
        << QByteArray() << storm << "The bridge sends requests faster than it reads the answers";
    QTest::newRow("other line settings")
        << offer + otherLine << QByteArray() << "The bridge set 115200 baud instead of 9600 baud";
}

void TestBridgePeers::hostileBridges()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, repeated);
    QFETCH(QString, because);
    HostileBridge bridge(greeting, repeated);
    QVERIFY(bridge.port != 0);
    const QString name = QStringLiteral("rfc2217://127.0.0.1:%1").arg(bridge.port);
    QFile peak(QStringLiteral("/proc/self/clear_refs"));
    QVERIFY(peak.open(QIODevice::WriteOnly) && peak.write("5") == 1); // resets VmHWM
    peak.close();
    const qint64 before = memoryKiB("VmRSS:");

    // The session opens as the window's Apply does, its ticks going on meanwhile.
    ProjectorSession session;
    QElapsedTimer clock;
    qint64 elapsed = -1;
    qint64 longestGap = 0;
    QString why;
    connect(&session, &ProjectorSession::openFinished, this, [&](bool, const QString &reason) {
        elapsed = clock.elapsed();
        why = reason;
    });
    clock.start();
    QCOMPARE(session.openPort(name, &why), ProjectorSession::OpenResult::Pending);
    QElapsedTimer sinceTick;
    sinceTick.start();
    // A freeze is the program's: the time the test's thread waited for a CPU is left out.
    testsupport::LoadFreeClock sinceOwnTick;
    qint64 longestOwnGap = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, &session, [&] {
        longestGap = qMax(longestGap, sinceTick.restart());
        longestOwnGap = qMax(longestOwnGap, sinceOwnTick.restart());
        session.tick();
    });
    tick.start(kTick);
    QTRY_VERIFY_WITH_TIMEOUT(elapsed >= 0, kHangBound);
    QVERIFY(!session.port());
    const qint64 grown = memoryKiB("VmHWM:") - before;
    qInfo("gave up after %lld ms, longest gap between ticks %lld ms (%lld ms of the program's), "
          "peak memory %lld KiB above the start",
          elapsed, longestGap, longestOwnGap, grown);
    QCOMPARE(why, name + QStringLiteral(": ") + because);
    // Given up by the first tick past the deadline.
    QVERIFY2(elapsed <= NetworkPort::kOpenWait + longestGap, qPrintable(QString::number(elapsed)));
    QVERIFY2(longestOwnGap < kFreeze, qPrintable(QString::number(longestOwnGap)));
#ifndef LUMIVOX_ASAN // whose quarantine keeps every look's freed buffers
    QVERIFY2(before > 0 && grown < kGrowthBound, qPrintable(QString::number(grown)));
#endif
}

void TestBridgePeers::hangingLookupOnTheCommandLine()
{
    // The whole run, start to exit, ends with the open's deadline, not with the resolver.
    QTemporaryDir runtime; // no window listens there
    QProcessEnvironment preload;
    preload.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(LUMIVOX_HANGING_LOOKUP));
    // HOST: the one name the preloaded resolver never answers for; nothing is connected.
    const QString name = QStringLiteral("socket://HOST:%1")
                             .arg(kAnyPort)
                             .replace(QLatin1String("HOST"), QLatin1String(LUMIVOX_HANGING_HOST));
    const testsupport::CommandLineRun run = testsupport::runCommandLine(
        {QStringLiteral("--status"), QStringLiteral("--port"), name}, runtime.path(), preload);
    qInfo("the command line ended after %lld ms", run.elapsedMs);
    QCOMPARE(run.err, QStringLiteral("lumivox: %1: Looking up the host timed out\n").arg(name));
    QCOMPARE(run.status, 1);
    QVERIFY2(run.elapsedMs < NetworkPort::kOpenWait + kExitMargin,
             qPrintable(QString::number(run.elapsedMs)));
}

QTEST_MAIN(TestBridgePeers)

#include "tst_bridgepeers.moc"
