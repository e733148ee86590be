// The gateway: the fleet file read or refused with its line, and many projectors (the
// simulator on pseudo-terminals) on a real mosquitto through one broker connection: all
// online, reloads that add, remove and keep, and group commands.

#include "commandlinerun.h"
#include "gateway/fleetfile.h"
#include "mosquittobroker.h"
#include "mqttwatch.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include <signal.h>

namespace {
constexpr int kStartWait = 15000; // ms for every projector to be online
constexpr int kUsageStatus = 64;
constexpr char kMenuFrame[] = "* 0 IR 008";
constexpr char kOkFrame[] = "* 0 IR 013";
constexpr char kSecret[] = "s3cret-never-shown";
constexpr char kDirMark[] = "%DIR%";

using testsupport::MosquittoBroker;
using testsupport::MqttWatch;

constexpr int kNoticeWait = 5000; // ms: far less than the minute between two polls

// Run through privatenetwork.sh: nothing but loopback is there.
bool inPrivateNetwork()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    return std::all_of(interfaces.cbegin(), interfaces.cend(), [](const QNetworkInterface &each) {
        return each.type() == QNetworkInterface::Loopback;
    });
}

QString topic(const QString &id, const char *leaf)
{
    return QStringLiteral("lumivox/%1/%2").arg(id, QLatin1String(leaf));
}

// One simulated projector on a pseudo-terminal of its own.
struct Simulator
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QByteArray output;
    QString pty;

    int count(const char *frame) const
    {
        return int(output.count(QByteArray("<- ") + frame + "\\r"));
    }
};
} // namespace

class TestGateway : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void fleetFile_data();
    void fleetFile();
    void brokenFileAtStart();
    void everyProjectorOnline();
    void reload_data();
    void reload();
    void groupCommand_data();
    void groupCommand();
    void foundAndNotified_data();
    void foundAndNotified();

private:
    bool startSimulators(int count);
    bool writeFleet(const QString &text);
    bool startGateway(const QStringList &more = {}, bool withFleet = true);
    QString log() const { return QString::fromUtf8(gatewayOutput); }
    bool allOnline(const QStringList &ids) const;

    QTemporaryDir runtime;
    QTemporaryDir files;
    std::unique_ptr<MosquittoBroker> broker;
    std::unique_ptr<MqttWatch> watch;
    std::vector<std::unique_ptr<Simulator>> simulators;
    std::unique_ptr<QProcess> gateway;
    QByteArray gatewayOutput;
};

void TestGateway::initTestCase()
{
    QVERIFY(runtime.isValid());
    QVERIFY(files.isValid());
    QFile secret(files.filePath(QStringLiteral("secret")));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write(QByteArray(kSecret) + "\n");
    secret.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QFile tooLong(files.filePath(QStringLiteral("too-long")));
    QVERIFY(tooLong.open(QIODevice::WriteOnly));
    tooLong.write(QByteArray(kSecret).repeated(4) + "\n");
    tooLong.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

void TestGateway::cleanup()
{
    if (gateway) {
        gateway->kill();
        gateway->waitForFinished();
    }
    gateway.reset();
    gatewayOutput.clear();
    watch.reset();
    broker.reset();
    for (const auto &simulator : simulators) {
        simulator->process->kill();
        simulator->process->waitForFinished();
    }
    simulators.clear();
}

void TestGateway::fleetFile_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("line"); // 0: the file is taken
    QTest::addColumn<QString>("what");

    QTest::newRow("good") << "; the hall\n[hall-a]\nport = /dev/ttyS0\ngroup = hall, front\n"
                             "mac = 00-11-22-AA-BB-CC\n\n[lab-c]\nport = "
                             "pjlink://127.0.0.9\npassword-file = %DIR%/secret\n"
                             "[lab-d]\nport = socket://127.0.0.10:4001\nprotocol = epson-escvp21\n"
                          << 0 << "";
    QTest::newRow("no closing bracket") << "[hall-a]\nport = /dev/ttyS0\n[hall-b\n" << 3 << "]";
    QTest::newRow("not a key") << "[hall-a]\nport = /dev/ttyS0\nport /dev/ttyS1\n"
                               << 3 << "neither";
    QTest::newRow("key before a section") << "port = /dev/ttyS0\n[hall-a]\n" << 1 << "before";
    QTest::newRow("not an id") << "[hall-a]\nport = /dev/ttyS0\n\n[Hall B]\nport = /dev/ttyS1\n"
                               << 4 << "no projector id";
    QTest::newRow("gateway") << "[gateway]\nport = /dev/ttyS0\n" << 1 << "gateway's own";
    QTest::newRow("group") << "[x]\nport = /dev/ttyS1\n[group]\nport = /dev/ttyS0\n"
                           << 3 << "gateway's own";
    QTest::newRow("no port") << "[hall-a]\ngroup = hall\n" << 1 << "no port";
    QTest::newRow("unknown key") << "[hall-a]\nport = /dev/ttyS0\nbaud = 9600\n"
                                 << 3 << "not a key";
    QTest::newRow("unknown protocol") << "[hall-a]\nport = /dev/ttyS0\nprotocol = nosuch\n"
                                      << 3 << "protocol";
    QTest::newRow("protocol for pjlink")
        << "[hall-a]\nprotocol = builtin\nport = pjlink://127.0.0.1\n"
        << 2 << "speaks PJLink";
    QTest::newRow("password file missing")
        << "[hall-a]\nport = pjlink://127.0.0.1\npassword-file = %DIR%/none\n"
        << 3 << "password-file";
    QTest::newRow("password too long")
        << "[hall-a]\nport = pjlink://127.0.0.1\npassword-file = %DIR%/too-long\n"
        << 3 << "longer";
    QTest::newRow("group name") << "[hall-a]\nport = /dev/ttyS0\ngroup = hall, Front Row\n"
                                << 3 << "no group name";
    QTest::newRow("mac") << "[hall-a]\nport = /dev/ttyS0\nmac = 00:11:22\n"
                         << 3 << "no MAC address";
    QTest::newRow("port twice") << "[hall-a]\nport = /dev/ttyS0\n[hall-b]\nport = /dev/ttyS0\n"
                                << 4 << "'hall-a''s already (line 2)";
    QTest::newRow("projector twice") << "[hall-a]\nport = /dev/ttyS0\n[hall-a]\nport = /dev/ttyS1\n"
                                     << 3 << "listed already (line 1)";
    QTest::newRow("key twice") << "[hall-a]\nport = /dev/ttyS0\nport = /dev/ttyS1\n"
                               << 3 << "given already (line 2)";
}

void TestGateway::fleetFile()
{
    QFETCH(QString, text);
    QFETCH(int, line);
    QFETCH(QString, what);
    QVERIFY(writeFleet(text));
    const QString path = files.filePath(QStringLiteral("fleet.ini"));
    QList<FleetFile::Entry> entries;
    QString problem;
    const bool read = FleetFile::read(path, &entries, &problem);
    QVERIFY2(!problem.contains(QLatin1String(kSecret)), qPrintable(problem));
    if (line == 0) {
        QVERIFY2(read, qPrintable(problem));
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.at(0).groups, (QStringList {"hall", "front"}));
        QCOMPARE(entries.at(0).mac, "00:11:22:aa:bb:cc");
        QCOMPARE(entries.at(2).protocol, "epson-escvp21");
        return;
    }
    QVERIFY(!read);
    QVERIFY2(problem.startsWith(QStringLiteral("%1 line %2: ").arg(path).arg(line)),
             qPrintable(problem));
    QVERIFY2(problem.contains(what), qPrintable(problem));
}

bool TestGateway::writeFleet(const QString &text)
{
    QFile file(files.filePath(QStringLiteral("fleet.ini")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QString filled = text;
    filled.replace(QLatin1String(kDirMark), files.path());
    return file.write(filled.toUtf8()) == filled.toUtf8().size();
}

bool TestGateway::startSimulators(int count)
{
    for (int i = 0; i < count; ++i) {
        auto simulator = std::make_unique<Simulator>();
        Simulator *raw = simulator.get();
        connect(raw->process.get(), &QProcess::readyReadStandardOutput, this,
                [raw] { raw->output += raw->process->readAllStandardOutput(); });
        raw->process->start(QStringLiteral(LUMIVOX_SIMULATOR),
                            {QStringLiteral("--log"), QStringLiteral("--warm-up"),
                             QStringLiteral("500"), QStringLiteral("--cool-down"),
                             QStringLiteral("500")});
        simulators.push_back(std::move(simulator));
    }
    for (const auto &simulator : simulators) {
        if (!QTest::qWaitFor([&] { return simulator->output.contains("/dev/"); }))
            return false;
        simulator->pty = QRegularExpression(QStringLiteral("(/dev/\\S+)"))
                             .match(QString::fromUtf8(simulator->output))
                             .captured(1);
    }
    broker = std::make_unique<MosquittoBroker>();
    if (!broker->start()) {
        qWarning("%s", qPrintable(broker->errorString()));
        return false;
    }
    watch = std::make_unique<MqttWatch>(
        *broker, QStringList {QStringLiteral("lumivox/#"), QStringLiteral("homeassistant/#")});
    return watch->start();
}

bool TestGateway::startGateway(const QStringList &more, bool withFleet)
{
    gateway = std::make_unique<QProcess>();
    gateway->setProcessChannelMode(QProcess::MergedChannels);
    connect(gateway.get(), &QProcess::readyRead, this,
            [this] { gatewayOutput += gateway->readAll(); });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    gateway->setProcessEnvironment(environment);
    QStringList arguments {QStringLiteral("--serve"), QStringLiteral("--mqtt"),
                           broker ? broker->url() : QStringLiteral("mqtt://127.0.0.1:1"),
                           QStringLiteral("--id"), QStringLiteral("gw")};
    if (withFleet)
        arguments << QStringLiteral("--fleet") << files.filePath(QStringLiteral("fleet.ini"));
    gateway->start(QStringLiteral(LUMIVOX_EXECUTABLE), arguments + more);
    return gateway->waitForStarted();
}

bool TestGateway::allOnline(const QStringList &ids) const
{
    return std::all_of(ids.cbegin(), ids.cend(), [this](const QString &id) {
        return watch->last(topic(id, "availability")) == "online";
    });
}

// The fleet for the simulators 0, 1 and 2 (and 3, with `fourth`), without `without`.
QString fleetText(const std::vector<std::unique_ptr<Simulator>> &simulators, bool fourth,
                  const QString &without = QString())
{
    static const char *const sections[] = {"[hall-a]\ngroup = hall\n", "[hall-b]\ngroup = hall\n",
                                           "[lab-c]\ngroup = lab\n", "[lab-d]\ngroup = lab\n"};
    QString text;
    for (int i = 0; i < (fourth ? 4 : 3); ++i) {
        const QString section = QLatin1String(sections[i]);
        if (!without.isEmpty() && section.contains(without))
            continue;
        text += section + QStringLiteral("port = %1\n\n").arg(simulators.at(i)->pty);
    }
    return text;
}

void TestGateway::brokenFileAtStart()
{
    QVERIFY(writeFleet(QStringLiteral("[hall-a]\nport = /dev/ttyS0\nport\n")));
    QVERIFY(startGateway());
    QTRY_COMPARE(gateway->state(), QProcess::NotRunning);
    QCOMPARE(gateway->exitCode(), kUsageStatus);
    QVERIFY2(log().contains("fleet.ini line 3: neither [id] nor key = value"), qPrintable(log()));
}

void TestGateway::everyProjectorOnline()
{
    QVERIFY(startSimulators(3));
    QVERIFY(writeFleet(fleetText(simulators, false)));
    QVERIFY(startGateway());
    const QStringList ids {"hall-a", "hall-b", "lab-c"};
    QTRY_VERIFY_WITH_TIMEOUT(allOnline(ids), kStartWait);
    QCOMPARE(watch->last(QStringLiteral("lumivox/gateway/gw/availability")), "online");
    QVERIFY2(log().contains(QStringLiteral("serves 3 projectors from %1 as gateway gw on mqtt://")
                                .arg(files.filePath(QStringLiteral("fleet.ini")))),
             qPrintable(log()));
    // One connection to the broker for all of them.
    QCOMPARE(broker->connectionsOf(QStringLiteral("lumivox-")), 1);
    // The command line reaches a projector of the gateway as it reaches a lone service.
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("hall-b", "contact")), QByteArray("ON"),
                              kStartWait);
    const testsupport::CommandLineRun run
        = testsupport::runCommandLine({QStringLiteral("--status"), QStringLiteral("--json"),
                                       QStringLiteral("--port"), simulators.at(1)->pty},
                                      runtime.path());
    QCOMPARE(run.status, 0);
    const QJsonObject result = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(result.value("via").toString(), "service");
    QCOMPARE(result.value("port").toString(), simulators.at(1)->pty);
}

void TestGateway::reload_data()
{
    QTest::addColumn<bool>("broken");
    QTest::newRow("hall-b out, lab-d in") << false;
    QTest::newRow("broken file") << true;
}

void TestGateway::reload()
{
    QFETCH(bool, broken);
    QVERIFY(startSimulators(4));
    QVERIFY(writeFleet(fleetText(simulators, false)));
    QVERIFY(startGateway());
    QTRY_VERIFY_WITH_TIMEOUT(allOnline({"hall-a", "hall-b", "lab-c"}), kStartWait);
    const QString opened = QStringLiteral("[hall-a] %1: opened").arg(simulators.at(0)->pty);
    QCOMPARE(log().count(opened), 1);

    QVERIFY(writeFleet(
        broken ? QStringLiteral("[hall-a]\nport = %1\n[hall-b\n").arg(simulators.at(0)->pty)
               : fleetText(simulators, true, QStringLiteral("hall-b"))));
    QCOMPARE(::kill(pid_t(gateway->processId()), SIGHUP), 0);
    if (broken) {
        QTRY_VERIFY(log().contains("Reload refused"));
        QVERIFY2(log().contains("fleet.ini line 3: a section's name has no closing ]"),
                 qPrintable(log()));
        // The fleet runs on: hall-b still takes its commands.
        QTRY_VERIFY_WITH_TIMEOUT(
            simulators.at(1)->count(kOkFrame) > 0
                || (MqttWatch::publish(*broker, topic("hall-b", "command"), "ok"), false),
            kStartWait);
        QVERIFY(allOnline({"hall-a", "hall-b", "lab-c"}));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(allOnline({"hall-a", "lab-c", "lab-d"}), kStartWait);
        QTRY_COMPARE(watch->last(topic("hall-b", "availability")), "offline");
        // Home Assistant is told to forget hall-b: each of its configurations emptied.
        QStringList configs;
        for (const MqttWatch::Message &message : watch->messages())
            if (message.topic.contains(QLatin1String("lumivox_hall-b"))
                && !configs.contains(message.topic))
                configs.append(message.topic);
        QVERIFY(!configs.isEmpty());
        for (const QString &config : configs)
            QTRY_VERIFY2(watch->last(config).isEmpty(), qPrintable(config));
        QVERIFY2(log().contains("1 added (lab-d), 1 removed (hall-b), 2 unchanged"),
                 qPrintable(log()));
    }
    // hall-a was not touched: its port opened once, never offline.
    QCOMPARE(log().count(opened), 1);
    QVERIFY(!watch->payloads(topic("hall-a", "availability")).contains("offline"));
}

void TestGateway::groupCommand_data()
{
    QTest::addColumn<bool>("retained");
    QTest::newRow("live") << false;
    QTest::newRow("retained") << true;
}

void TestGateway::groupCommand()
{
    QFETCH(bool, retained);
    QVERIFY(startSimulators(3));
    QVERIFY(writeFleet(fleetText(simulators, false)));
    QVERIFY(startGateway());
    QTRY_VERIFY_WITH_TIMEOUT(allOnline({"hall-a", "hall-b", "lab-c"}), kStartWait);

    QVERIFY(MqttWatch::publish(*broker, QStringLiteral("lumivox/group/hall/command"), "menu",
                               retained));
    // Each member tells its outcome on its own result topic: run (whatever the projector
    // in standby answers), or ignored.
    const auto statusOf = [this](const char *id) {
        const QJsonObject result
            = QJsonDocument::fromJson(watch->last(topic(QLatin1String(id), "result"))).object();
        return result.value("command") == "menu" ? result.value("status").toString() : QString();
    };
    for (const char *id : {"hall-a", "hall-b"}) {
        QTRY_VERIFY_WITH_TIMEOUT(!statusOf(id).isEmpty(), kStartWait);
        QCOMPARE(statusOf(id) == "ignored", retained);
    }
    // Everything before the marker on each line has been sent by the time it arrives.
    for (int i = 0; i < 3; ++i) {
        const QString id = QStringList {"hall-a", "hall-b", "lab-c"}.at(i);
        QTRY_VERIFY_WITH_TIMEOUT(
            simulators.at(i)->count(kOkFrame) > 0
                || (MqttWatch::publish(*broker, topic(id, "command"), "ok"), false),
            kStartWait);
        QCOMPARE(simulators.at(i)->count(kMenuFrame), !retained && i < 2 ? 1 : 0);
    }
    QTRY_VERIFY(watch->last(topic("lab-c", "result")).contains("\"ok\""));
}

QTEST_MAIN(TestGateway)
void TestGateway::foundAndNotified_data()
{
    QTest::addColumn<QString>("fleet");
    QTest::addColumn<QStringList>("ids");
    // The file names the first projector by its address, so the search adds only the other.
    QTest::newRow("fleet and search") << QStringLiteral("[hall-a]\nport = pjlink://127.0.0.2\n")
                                      << QStringList {"hall-a", "pjlink-024c7f000003"};
    QTest::newRow("search alone") << QString()
                                  << QStringList {"pjlink-024c7f000002", "pjlink-024c7f000003"};
}

void TestGateway::foundAndNotified()
{
    QFETCH(QString, fleet);
    QFETCH(QStringList, ids);
    if (!inPrivateNetwork())
        QSKIP("needs a private network namespace (unshare -rn), which this system refuses");
    // Two class 2 projectors on 127.0.0.2 and .3 that tell the gateway of their changes.
    simulators.push_back(std::make_unique<Simulator>());
    QProcess *simulator = simulators.back()->process.get();
    simulator->start(QStringLiteral(LUMIVOX_SIMULATOR),
                     {"--pjlink", "--class", "2", "--many", "2", "--address", "127.0.0.2",
                      "--notify", "127.0.0.1", "--warm-up", "0", "--cool-down", "0"});
    QVERIFY(simulator->waitForStarted());
    QTRY_VERIFY(simulator->canReadLine());
    broker = std::make_unique<MosquittoBroker>();
    QVERIFY(broker->start());
    watch = std::make_unique<MqttWatch>(*broker, QStringList {QStringLiteral("lumivox/#")});
    QVERIFY(watch->start());
    if (!fleet.isEmpty())
        QVERIFY(writeFleet(fleet));
    // A minute between polls: only a notification brings a change sooner.
    QVERIFY(startGateway({"--discover", "--on", "127.255.255.255", "--poll-interval", "60"},
                         !fleet.isEmpty()));
    for (const QString &id : ids)
        QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic(id, "contact")), QByteArray("ON"), kStartWait);
    QCOMPARE(watch->last(topic(ids.last(), "power")), QByteArray("off"));

    // Another controller switches the second projector on; it notifies the gateway, which
    // asks it and publishes what it answers.
    QTcpSocket controller;
    QVERIFY(controller.bind(QHostAddress(QStringLiteral("127.0.0.50"))));
    controller.connectToHost(QHostAddress(QStringLiteral("127.0.0.3")), 4352);
    QVERIFY(controller.waitForConnected());
    // PJLink's lines end with a carriage return alone.
    QTRY_VERIFY(controller.bytesAvailable() > 0);
    controller.readAll();
    controller.write("%1POWR 1\r");
    QByteArray answer;
    QTRY_VERIFY2((answer += controller.readAll()).contains("POWR=OK"), answer.constData());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic(ids.last(), "power")), QByteArray("on"),
                              kNoticeWait);
    // Out of contact never between two polls a minute apart.
    QVERIFY(!watch->messages().isEmpty());
    for (const MqttWatch::Message &message : watch->messages())
        QVERIFY2(message.topic != topic(ids.last(), "contact") || message.payload == "ON",
                 qPrintable(message.topic));
}

#include "tst_gateway.moc"
