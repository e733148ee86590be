// The PJLink face of the service, end to end: the service (no broker) on the projector
// simulator's pseudo-terminal, and PJLink controllers of the test's own and of a public
// client library (pypjlink, run by python3) on loopback.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {
constexpr char kPassword[] = "sesame";
constexpr int kStartWait = 10000; // ms for the service to listen
constexpr int kControllerWait = 60000; // ms for a controller's actions, warm-up included
constexpr int kUsageStatus = 64;
constexpr int kPortFailedStatus = 1;
constexpr int kMaxConnections = 8;
constexpr char kPowerOnFrame[] = "OKOKOKOKOK";
constexpr char kPowerOffFrame[] = "* 0 IR 002";
constexpr char kHdmiFrame[] = "* 0 IR 050";
constexpr char kLampTimeFrame[] = "* 0 Lamp";
constexpr char kLampHours[] = "1234";

// A port of loopback that nobody listens on now.
quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}
} // namespace

class TestPjlinkFace : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controller_data();
    void controller();
    void refusedAtStart_data();
    void refusedAtStart();
    void connectionsAreBounded_data();
    void connectionsAreBounded();

private:
    // The service on the simulator, offered on `listen`; false when it never listens.
    bool startService(const QStringList &extra, const QByteArray &password);
    std::unique_ptr<QProcess> serviceProcess(const QStringList &arguments,
                                             const QByteArray &password);
    QStringList frames() const;

    std::unique_ptr<QProcess> simulator;
    std::unique_ptr<QProcess> service;
    QString pty;
    quint16 port = 0;
    QByteArray simulatorOutput;
    QByteArray serviceOutput;
};

void TestPjlinkFace::init()
{
    simulatorOutput.clear();
    serviceOutput.clear();
    simulator = std::make_unique<QProcess>();
    connect(simulator.get(), &QProcess::readyReadStandardOutput, this,
            [this] { simulatorOutput += simulator->readAllStandardOutput(); });
    simulator->start(QStringLiteral(LUMIVOX_SIMULATOR),
                     {"--log", "--warm-up", "500", "--cool-down", "500", "--lamp-hours",
                      QLatin1String(kLampHours)});
    QTRY_VERIFY(simulatorOutput.contains("/dev/"));
    pty = QRegularExpression(QStringLiteral("(/dev/\\S+)"))
              .match(QString::fromUtf8(simulatorOutput))
              .captured(1);
    port = freePort();
    QVERIFY(port != 0);
}

void TestPjlinkFace::cleanup()
{
    for (std::unique_ptr<QProcess> *process : {&service, &simulator}) {
        if (*process) {
            (*process)->kill();
            (*process)->waitForFinished();
        }
        process->reset();
    }
}

std::unique_ptr<QProcess> TestPjlinkFace::serviceProcess(const QStringList &arguments,
                                                         const QByteArray &password)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    QProcess *raw = process.get();
    connect(raw, &QProcess::readyRead, this, [this, raw] { serviceOutput += raw->readAll(); });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LUMIVOX_PJLINK_SERVER_PASSWORD"));
    if (!password.isNull())
        environment.insert(QStringLiteral("LUMIVOX_PJLINK_SERVER_PASSWORD"),
                           QString::fromUtf8(password));
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(LUMIVOX_EXECUTABLE), arguments);
    return process;
}

bool TestPjlinkFace::startService(const QStringList &extra, const QByteArray &password)
{
    service = serviceProcess(QStringList {"--serve", "--port", pty, "--pjlink-listen",
                                          QStringLiteral("127.0.0.1:%1").arg(port)}
                                 + extra,
                             password);
    return QTest::qWaitFor([this] { return serviceOutput.contains("PJLink projector on"); },
                           kStartWait);
}

QStringList TestPjlinkFace::frames() const
{
    QStringList received;
    static const QRegularExpression frame(QStringLiteral("^\\[[0-9.]+\\] <- (.*)\\\\r$"),
                                          QRegularExpression::MultilineOption);
    QRegularExpressionMatchIterator it = frame.globalMatch(QString::fromUtf8(simulatorOutput));
    while (it.hasNext())
        received.append(it.next().captured(1));
    return received;
}

void TestPjlinkFace::controller_data()
{
    // What the public client library gets for each of its calls, in order, after the
    // projector is known to be off; and a frame that must (or must not) reach the line.
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<bool>("sent");
    const QStringList none;
    QTest::newRow("power state") << none << QStringList {"power"} << QStringList {"off"}
                                 << kLampTimeFrame << false;
    QTest::newRow("power on, warming, on")
        << none << QStringList {"power-on", "on", "power"} << QStringList {"ok", "on", "on"}
        << kPowerOnFrame << true;
    QTest::newRow("power off in standby: not now")
        << none << QStringList {"power-off"} << QStringList {"error: unavailable time"}
        << kPowerOffFrame << true;
    QTest::newRow("input once on") << none << QStringList {"power-on", "on", "hdmi"}
                                   << QStringList {"ok", "on", "ok"} << kHdmiFrame << true;
    QTest::newRow("input the set lacks")
        << none << QStringList {"storage"} << QStringList {"error: out of parameter"} << QString()
        << false;
    QTest::newRow("the inputs") << none << QStringList {"inputs"}
                                << QStringList {"RGB1 VIDEO1 VIDEO2 DIGITAL1 DIGITAL2"} << QString()
                                << false;
    QTest::newRow("the input shown is not known")
        << none << QStringList {"input"} << QStringList {"error: undefined command"} << QString()
        << false;
    QTest::newRow("mute cannot be told or set")
        << none << QStringList {"mute"} << QStringList {"error: undefined command"} << QString()
        << false;
    QTest::newRow("lamp hours") << none << QStringList {"lamps"} << QStringList {"[(1234, False)]"}
                                << kLampTimeFrame << true;
    QTest::newRow("error status: none detected")
        << none << QStringList {"errors"}
        << QStringList {"{'fan': 'ok', 'lamp': 'ok', 'temperature': 'ok', 'cover': 'ok', "
                        "'filter': 'ok', 'other': 'ok'}"}
        << QString() << false;
    QTest::newRow("model and name")
        << QStringList {"--id", "room-12"} << QStringList {"model", "name"}
        << QStringList {"Lumivox Demo Projector LV-1", "room-12"} << QString() << false;
    QTest::newRow("wrong password") << none << QStringList {"wrong-password", "power"}
                                    << QStringList {"False", "off"} << QString() << false;
    QTest::newRow("no password") << none << QStringList {"no-password", "no-digest"}
                                 << QStringList {"refused: projector needs a password",
                                                 "PJLINK 1 / PJLINK ERRA"}
                                 << QString() << false;
    QTest::newRow("none asked") << QStringList {"--pjlink-no-auth"}
                                << QStringList {"no-password", "power"} << QStringList {"ok", "off"}
                                << QString() << false;
}

void TestPjlinkFace::controller()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, actions);
    QFETCH(QStringList, printed);
    QFETCH(QString, frame);
    QFETCH(bool, sent);
    const QString library = QStringLiteral(LUMIVOX_PYPJLINK);
    if (!QFileInfo::exists(library + QStringLiteral("/pypjlink/projector.py")))
        QSKIP(qPrintable(QStringLiteral("the PJLink client library is not at %1").arg(library)));
    const bool open = options.contains(QStringLiteral("--pjlink-no-auth"));
    QVERIFY2(startService(options, open ? QByteArray() : QByteArray(kPassword)),
             serviceOutput.constData());

    QProcess controller;
    controller.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!open)
        environment.insert(QStringLiteral("PJLINK_TEST_PASSWORD"), QLatin1String(kPassword));
    controller.setProcessEnvironment(environment);
    // The projector is known to be off first: each action then starts from there.
    controller.start(
        QStringLiteral("python3"),
        QStringList {QStringLiteral(LUMIVOX_SOURCE_DIR "/tests/e2e/pjlink-controller.py"), library,
                     QString::number(port), QStringLiteral("ready")}
            + actions);
    QVERIFY2(controller.waitForStarted(), "python3 is needed");
    QTRY_COMPARE_WITH_TIMEOUT(controller.state(), QProcess::NotRunning, kControllerWait);
    const QStringList lines = QString::fromUtf8(controller.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("off"));
    QCOMPARE(lines.mid(1), printed);
    if (!frame.isEmpty())
        QCOMPARE(frames().contains(frame), sent);
    QVERIFY2(!serviceOutput.contains(kPassword), serviceOutput.constData());
}

void TestPjlinkFace::refusedAtStart_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::newRow("no password") << QStringList() << QByteArray() << false << kUsageStatus
                                 << "LUMIVOX_PJLINK_SERVER_PASSWORD";
    QTest::newRow("a password and none")
        << QStringList {"--pjlink-no-auth"} << QByteArray(kPassword) << false << kUsageStatus
        << "--pjlink-no-auth goes with no password";
    QTest::newRow("a password too long")
        << QStringList() << QByteArray(33, 'x') << false << kUsageStatus << "longer than";
    QTest::newRow("the port in use")
        << QStringList() << QByteArray(kPassword) << true << kPortFailedStatus << "cannot listen";
    QTest::newRow("broker options without a broker")
        << QStringList {"--no-discovery"} << QByteArray(kPassword) << false << kUsageStatus
        << "--no-discovery goes with --mqtt";
}

void TestPjlinkFace::refusedAtStart()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, password);
    QFETCH(bool, portTaken);
    QFETCH(int, status);
    QFETCH(QString, said);
    QTcpServer taker;
    if (portTaken)
        QVERIFY(taker.listen(QHostAddress::LocalHost, port));
    service = serviceProcess(QStringList {"--serve", "--port", pty, "--pjlink-listen",
                                          QStringLiteral("127.0.0.1:%1").arg(port)}
                                 + options,
                             password);
    QTRY_COMPARE_WITH_TIMEOUT(service->state(), QProcess::NotRunning, kStartWait);
    QCOMPARE(service->exitCode(), status);
    QVERIFY2(serviceOutput.contains(said.toUtf8()), serviceOutput.constData());
}

void TestPjlinkFace::connectionsAreBounded_data()
{
    // Connections held open at once, and how many of them are greeted.
    QTest::addColumn<int>("held");
    QTest::addColumn<int>("greeted");
    QTest::newRow("as many as served") << kMaxConnections << kMaxConnections;
    QTest::newRow("one more is closed") << kMaxConnections + 1 << kMaxConnections;
}

void TestPjlinkFace::connectionsAreBounded()
{
    QFETCH(int, held);
    QFETCH(int, greeted);
    QVERIFY2(startService({}, kPassword), serviceOutput.constData());
    // The counts outlive the sockets, whose closing at the end still counts.
    int greetings = 0;
    int closedOnes = 0;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < held; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        connect(socket.get(), &QTcpSocket::readyRead, this, [&greetings, raw = socket.get()] {
            if (raw->readAll().startsWith("PJLINK 1 "))
                ++greetings;
        });
        connect(socket.get(), &QTcpSocket::disconnected, this, [&closedOnes] { ++closedOnes; });
        socket->connectToHost(QHostAddress::LocalHost, port);
        // One after the other: the one refused is the last.
        QTRY_VERIFY(socket->state() == QAbstractSocket::ConnectedState || closedOnes > 0);
        sockets.push_back(std::move(socket));
    }
    QTRY_COMPARE(greetings + closedOnes, held);
    QCOMPARE(greetings, greeted);
}

QTEST_MAIN(TestPjlinkFace)
#include "tst_pjlinkface.moc"
