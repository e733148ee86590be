// The running window takes the command line's requests on its local channel: commands
// go out as its buttons send them, the channel is the user's alone, bad requests change
// nothing, and a second window does not take the channel over.

#include "boxanswerer.h"
#include "channel/channelname.h"
#include "channel/jsonline.h"
#include "channel/localchannel.h"
#include "channelprobe.h"
#include "commandlinerun.h"
#include "fakeprojector.h"
#include "link/portdevice.h"
#include "link/portopener.h"
#include "probe/tickwatch.h"
#include "probe/windowform.h"
#include "session/scriptedrequest.h"
#include "simulator.h"
#include "ui/lumivox.h"
#include "windowprobe.h"
#include "wireframes.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
constexpr int kLampHours = 4321; // not the simulator's default
constexpr int kCloseBound = 5000; // ms: the channel ends every connection by then
constexpr int kFreezeMs = 1500; // a tick gap a user would call a freeze
constexpr int kTicksAfter = 3; // ticks that must follow a bad request
constexpr int kWireWait = 2000;
constexpr int kServedBound = 5000; // ms: a script kept waiting longer would call it stuck
constexpr mode_t kPermissionBits = 07777;
constexpr mode_t kUserReadWrite = 0600;

using testsupport::CommandLineRun;
using testsupport::logText;

// The window's log without the lamp polls and their answers, which ticks add at any time.
QString withoutPolling(const QString &log)
{
    QStringList lines = log.split(QLatin1Char('\n'));
    lines.removeIf([](const QString &line) {
        return line.contains(QLatin1String("Lamp ?")) || line.contains(QLatin1String("LAMP"));
    });
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class TestLocalChannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void throughTheWindow_data();
    void throughTheWindow();
    void powerOffAsksNothing();
    void otherPortIsOpenedDirectly();
    void serviceOnAServedPortIsRefused();
    void badRequests_data();
    void badRequests();
    void channelIsTheUsersAlone();
    void secondWindowDoesNotStealIt();
    void staleSocketIsReplaced();
    void onlyASocketIsReplaced_data();
    void onlyASocketIsReplaced();
    void twoWindowsTwoProjectors();
    void requestWaitsForTheBox_data();
    void requestWaitsForTheBox();

private:
    // A window with Debug ticked on the simulator's port, taking requests.
    void startOnSimulator();
    // A window on a fake projector that acknowledges every command.
    void startOnFake();
    void listen();
    // A run of the command line for the window's port, unless it names another.
    CommandLineRun run(QStringList arguments)
    {
        if (!arguments.contains(QLatin1String("--port")) && window && window->session().port())
            arguments << QStringLiteral("--port") << window->session().port()->location();
        return testsupport::runCommandLine(arguments, runtime.path());
    }
    // A request the fake acknowledges: served through the window, whose port the
    // command line could not open itself.
    bool menuServed()
    {
        return run({QStringLiteral("--send"), QStringLiteral("menu")}).status == 0
            && testsupport::withoutPolls(fake->frames()) == QList<QByteArray> {"* 0 IR 008\r"};
    }

    QTemporaryDir runtime;
    std::unique_ptr<Simulator> simulator;
    std::unique_ptr<FakeProjector> fake;
    std::unique_ptr<Lumivox> window;
    std::unique_ptr<LocalChannel> channel;

    // Where the channel of the window's port listens.
    QString channelName() const { return testsupport::channelOf(window->session()); }
};

void TestLocalChannel::initTestCase()
{
    QVERIFY(runtime.isValid());
    // Never the user's own runtime directory, where a real window may listen.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QVERIFY(localChannelName(QStringLiteral("any port")).startsWith(runtime.path()));
}

void TestLocalChannel::cleanup()
{
    channel.reset();
    window.reset();
    simulator.reset();
    fake.reset();
}

void TestLocalChannel::listen()
{
    channel = std::make_unique<LocalChannel>(&window->session());
    QSignalSpy problems(channel.get(), &LocalChannel::problem);
    channel->followPort();
    QVERIFY2(testsupport::listensAt(channelName()),
             problems.isEmpty() ? "" : qPrintable(problems.at(0).at(0).toString()));
}

void TestLocalChannel::startOnSimulator()
{
    Simulator::Options options;
    options.projector.lampHours = kLampHours;
    simulator = std::make_unique<Simulator>(options);
    QString error;
    QVERIFY2(simulator->start(&error), qPrintable(error));
    window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, simulator->portName());
    testsupport::WindowForm(*window).debugCheckBox->setChecked(true);
    listen();
}

void TestLocalChannel::startOnFake()
{
    if (!fake)
        fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
    connect(fake.get(), &FakeProjector::frameReceived, fake.get(), [this](const QByteArray &f) {
        if (f != testsupport::pollFrame())
            fake->send("*000\r");
    });
    window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, fake->slavePath());
    fake->clearRecord();
    listen();
}

void TestLocalChannel::throughTheWindow_data()
{
    // How the command line names the port the window holds: every spelling of the device
    // reaches the window, whose port the command line could not open itself.
    QTest::addColumn<QString>("spelling");
    QTest::newRow("as the window has it") << QString();
    QTest::newRow("without /dev/") << QStringLiteral("pts/");
    QTest::newRow("through /dev/./") << QStringLiteral("/dev/./pts/");
    QTest::newRow("through a link") << QStringLiteral("link");
}

void TestLocalChannel::throughTheWindow()
{
    QFETCH(QString, spelling);
    startOnSimulator();
    const QString path = simulator->portName();
    const QString number = path.section(QLatin1Char('/'), -1);
    QString name = spelling.isEmpty() ? path : spelling + number;
    if (spelling == QLatin1String("link")) {
        name = runtime.filePath(QStringLiteral("projector"));
        QFile::remove(name);
        QVERIFY(QFile::link(path, name));
    }
    const QStringList arguments {QStringLiteral("--query"), QStringLiteral("lamp-time"),
                                 QStringLiteral("--port"), name};

    // What the button makes of it, in the log.
    testsupport::WindowForm(*window).queryLampTime->click();
    QTRY_VERIFY(logText(*window).contains(QStringLiteral("-> %1\n").arg(kLampHours)));
    const QString byButton = withoutPolling(logText(*window));
    testsupport::WindowForm(*window).textEdit->clear();

    const PortDevice *port = window->session().port();
    const CommandLineRun result = run(arguments);
    QCOMPARE(result.out, QString::number(kLampHours) + QLatin1Char('\n'));
    QCOMPARE(result.err, QString());
    // A second open of the window's port would have failed: it is held exclusively.
    QCOMPARE(result.status, 0);
    QCOMPARE(window->session().port(), port);
    QCOMPARE(withoutPolling(logText(*window)), byButton);
}

void TestLocalChannel::powerOffAsksNothing()
{
    startOnSimulator();
    testsupport::BoxAnswerer answerer(QMessageBox::No);
    QVERIFY(run({QStringLiteral("--send"), QStringLiteral("power-on")}).status == 0);
    const CommandLineRun off = run({QStringLiteral("--send"), QStringLiteral("power-off")});
    QCOMPARE(answerer.count(), 0);
    QCOMPARE(off.status, 0);
    QVERIFY(withoutPolling(logText(*window)).contains(QLatin1String("<- * 0 IR 002\n")));
    qInfo("--send power-off through the window: %lld ms to its exit", off.elapsedMs);
}

void TestLocalChannel::otherPortIsOpenedDirectly()
{
    startOnSimulator();
    const CommandLineRun result = run(
        {QStringLiteral("--status"), QStringLiteral("--port"), QStringLiteral("/nonexistent/tty")});
    QCOMPARE(result.status, 1);
    QVERIFY2(result.err.contains(QLatin1String("/nonexistent/tty: No such file")),
             qPrintable(result.err));
}

void TestLocalChannel::serviceOnAServedPortIsRefused()
{
    // A service started for the port a window holds is refused before it touches the
    // port or a broker (none listens at the broker's address).
    startOnFake();
    const CommandLineRun result
        = run({QStringLiteral("--serve"), QStringLiteral("--mqtt"),
               QStringLiteral("mqtt://127.0.0.1:9"), QStringLiteral("--id"), QStringLiteral("t")});
    QCOMPARE(result.status, 1);
    QVERIFY2(result.err.contains(QLatin1String("is served already by a running Lumivox window")),
             qPrintable(result.err));
    QCOMPARE(testsupport::withoutPolls(fake->frames()), QList<QByteArray>());
}

void TestLocalChannel::badRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    // The refusal's reason, which the command line turns into its exit status; empty:
    // dropped unanswered.
    QTest::addColumn<QString>("reason");

    QTest::newRow("not JSON") << QByteArray("power-off\n") << "malformed";
    QTest::newRow("wrong shape") << QByteArray(R"({"commands":"power-off"})"
                                               "\n")
                                 << "malformed";
    QTest::newRow("unknown name") << QByteArray(R"({"commands":["power-offf"]})"
                                                "\n")
                                  << "unknown-command";
    QTest::newRow("nothing to do") << QByteArray(R"({"commands":[]})"
                                                 "\n")
                                   << "nothing-to-do";
    QTest::newRow("too many") << QByteArray(R"({"commands":[)")
            + QByteArray(R"("menu",)").repeated(ScriptedRequest::kMaxCommands)
            + QByteArray(R"("menu"]})"
                         "\n") << "too-many";
    // A name no way in takes is refused, never looked up.
    QTest::newRow("port with a NUL") << QByteArray(R"({"commands":["menu"],"port":"tty\u0000S0"})"
                                                   "\n")
                                     << "refused-port";
    QTest::newRow("malformed network port")
        << QByteArray(R"({"commands":["menu"],"port":"pjlink://127.0.0.1:0"})"
                      "\n")
        << "refused-port";
    // A good request but for its size.
    QTest::newRow("oversized") << QByteArray(R"({"commands":["menu"])")
            + QByteArray(jsonline::kMaxLine, ' ')
            + QByteArray("}\n") << "too-long";
    QTest::newRow("half-sent") << QByteArray(R"({"commands":["power-o)") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestLocalChannel::badRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, reason);
    const bool refused = !reason.isEmpty();
    startOnFake();
    testsupport::TickWatch ticks(window.get());

    QLocalSocket client;
    client.connectToServer(channelName());
    QVERIFY(client.waitForConnected(kWireWait));
    client.write(request);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, kCloseBound);
    const QByteArray answer = client.readAll();
    QCOMPARE(answer.contains("\"error\""), refused);
    QCOMPARE(answer.isEmpty(), !refused);
    QCOMPARE(QJsonDocument::fromJson(answer).object().value(QStringLiteral("reason")).toString(),
             reason);

    // Nothing was sent, and the window went on ticking all along.
    const qsizetype gaps = ticks.gapsMs().size();
    QTRY_VERIFY(ticks.gapsMs().size() >= gaps + kTicksAfter);
    QVERIFY2(ticks.longestGapMs() < kFreezeMs, qPrintable(QString::number(ticks.longestGapMs())));
    QCOMPARE(testsupport::withoutPolls(fake->frames()), QList<QByteArray>());
    // The next request is served as ever.
    QVERIFY(menuServed());
}

void TestLocalChannel::channelIsTheUsersAlone()
{
    startOnFake();
    struct stat status
    {
    };
    QCOMPARE(::lstat(QFile::encodeName(channelName()).constData(), &status), 0);
    QVERIFY(S_ISSOCK(status.st_mode));
    QCOMPARE(status.st_uid, getuid());
    QCOMPARE(status.st_mode & kPermissionBits, kUserReadWrite);
}

void TestLocalChannel::secondWindowDoesNotStealIt()
{
    startOnFake();
    Lumivox second; // on COM1, which does not exist here
    LocalChannel secondChannel(&second.session());
    QString reason;
    QVERIFY(!secondChannel.listen(channelName(), &reason));
    QVERIFY(!reason.isEmpty());
    QVERIFY(QFileInfo::exists(channelName()));
    QVERIFY(menuServed());
}

void TestLocalChannel::staleSocketIsReplaced()
{
    // A socket file that nobody listens at any more, as a killed window leaves it.
    fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
    const QString name = localChannelName(PortOpener::keyOf(fake->slavePath()));
    const QByteArray path = QFile::encodeName(name);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    QVERIFY(size_t(path.size()) < sizeof address.sun_path);
    std::copy(path.cbegin(), path.cend(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
    QVERIFY(QFileInfo::exists(name));

    startOnFake();
    QVERIFY(menuServed());
}

void TestLocalChannel::onlyASocketIsReplaced_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a file with data") << QStringLiteral("file");
    QTest::newRow("a directory") << QStringLiteral("directory");
    QTest::newRow("a FIFO") << QStringLiteral("fifo");
    QTest::newRow("a link to a file") << QStringLiteral("link");
}

void TestLocalChannel::onlyASocketIsReplaced()
{
    // Whatever lies where the window's channel goes and is not a socket stays as it is;
    // the window runs without a channel and says why.
    QFETCH(QString, kind);
    fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
    const QString name = localChannelName(PortOpener::keyOf(fake->slavePath()));
    const QByteArray path = QFile::encodeName(name);
    const QByteArray data("somebody's notes\n");
    const QString target = runtime.filePath(QStringLiteral("target"));
    if (kind == QLatin1String("file") || kind == QLatin1String("link")) {
        QFile file(kind == QLatin1String("file") ? name : target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(target, name));
    if (kind == QLatin1String("directory"))
        QVERIFY(QDir().mkdir(name));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(path.constData(), kUserReadWrite), 0);
    struct stat before
    {
    };
    QCOMPARE(::lstat(path.constData(), &before), 0);

    window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, fake->slavePath());
    channel = std::make_unique<LocalChannel>(&window->session());
    QSignalSpy problems(channel.get(), &LocalChannel::problem);
    channel->followPort();
    QVERIFY(!testsupport::listensAt(name));
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.at(0).at(0).toString().startsWith(name),
             qPrintable(problems.at(0).at(0).toString()));

    struct stat after
    {
    };
    QCOMPARE(::lstat(path.constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mode, before.st_mode);
    if (kind == QLatin1String("file")) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), data);
    }
    QFile::remove(target);
    QFile::remove(name);
    QDir().rmdir(name);
}

void TestLocalChannel::twoWindowsTwoProjectors()
{
    // Dual projection: each window serves the command line for its own port.
    constexpr int kOtherHours = 777;
    startOnSimulator();
    Simulator::Options options;
    options.projector.lampHours = kOtherHours;
    Simulator second(options);
    QString error;
    QVERIFY2(second.start(&error), qPrintable(error));
    Lumivox secondWindow;
    testsupport::openOn(secondWindow, second.portName());
    LocalChannel secondChannel(&secondWindow.session());
    secondChannel.followPort();
    const QString secondName = testsupport::channelOf(secondWindow.session());
    QVERIFY(testsupport::listensAt(secondName));
    QVERIFY(secondName != channelName());

    for (const auto &[port, hours] : {std::pair(simulator->portName(), kLampHours),
                                      std::pair(second.portName(), kOtherHours)}) {
        const CommandLineRun result
            = run({QStringLiteral("--query"), QStringLiteral("lamp-time"), QStringLiteral("--json"),
                   QStringLiteral("--port"), port});
        QCOMPARE(result.status, 0);
        const QJsonObject object = QJsonDocument::fromJson(result.out.toUtf8()).object();
        QCOMPARE(object.value(QStringLiteral("via")).toString(), QStringLiteral("window"));
        QCOMPARE(object.value(QStringLiteral("port")).toString(), port);
        const QJsonArray steps = object.value(QStringLiteral("commands")).toArray();
        QCOMPARE(steps.size(), 1);
        QCOMPARE(steps.at(0).toObject().value(QStringLiteral("answer")).toString(),
                 QString::number(hours));
    }
}

void TestLocalChannel::requestWaitsForTheBox_data()
{
    QTest::addColumn<bool>("givenUp"); // the command line goes away while the box is open
    QTest::newRow("still waiting") << false;
    QTest::newRow("given up") << true;
}

void TestLocalChannel::requestWaitsForTheBox()
{
    // A request that comes while the window asks about a failed write waits for the box
    // and follows the frame whole; one whose command line has given up meanwhile is
    // dropped, never sent later. The box's own event loop takes the request; ticks are
    // run by hand, so nothing depends on how fast the machine is.
    QFETCH(bool, givenUp);
    fake = std::make_unique<FakeProjector>(FakeProjector::Draining::Off);
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
    window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, fake->slavePath());
    listen();
    QVERIFY(fake->fillOutputQueue() > 0);
    // The channel runs a request it took as a ScriptedRequest of its own.
    const auto running = [this] {
        return channel->findChild<ScriptedRequest *>() != nullptr;
    };

    QLocalSocket client;
    bool takenDuringBox = false;
    bool droppedDuringBox = false;
    qsizetype framesDuringBox = -1;
    QSignalSpy written(&window->session(), &ProjectorSession::frameWritten);
    testsupport::BoxAnswerer boxes([&](QMessageBox *) {
        if (client.state() == QLocalSocket::UnconnectedState) {
            client.connectToServer(channelName());
            if (client.waitForConnected(kWireWait)) {
                client.write(QJsonDocument(QJsonObject {{"commands", QJsonArray {"menu"}},
                                                        {"port", fake->slavePath()}})
                                 .toJson(QJsonDocument::Compact)
                             + '\n');
                client.flush();
            }
            takenDuringBox = QTest::qWaitFor(running, kServedBound);
            if (givenUp) {
                client.abort();
                droppedDuringBox = QTest::qWaitFor([&] { return !running(); }, kServedBound);
            }
            fake->setDraining(FakeProjector::Draining::On);
            fake->clearRecord();
            written.clear();
            for (int i = 0; i < kTicksAfter; ++i)
                testsupport::tick(*window);
            framesDuringBox = written.size();
        }
        return QMessageBox::Ok;
    });
    testsupport::WindowForm(*window).brightness->click();
    QVERIFY(boxes.count() >= 1);
    QVERIFY(takenDuringBox);
    QCOMPARE(framesDuringBox, 0);
    const QByteArray menu("* 0 IR 008\r");
    if (givenUp) {
        QVERIFY(droppedDuringBox);
        QCoreApplication::processEvents();
        for (int i = 0; i < kTicksAfter; ++i)
            testsupport::tick(*window);
        for (const QList<QVariant> &frame : written)
            QVERIFY2(frame.at(0).toByteArray() + '\r' != menu, fake->received().constData());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::withoutPolls(fake->frames()).contains(menu),
                                 kServedBound);
        // After the frame the box interrupted, never inside it.
        const QList<QByteArray> frames = testsupport::withoutPolls(fake->frames());
        QCOMPARE(frames.constLast(), menu);
        QVERIFY(frames.constFirst().endsWith("IR 025\r"));
    }
}

QTEST_MAIN(TestLocalChannel)
#include "tst_localchannel.moc"
