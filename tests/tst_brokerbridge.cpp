// The service behind its building's mosquitto, which the README's bridge configuration joins
// to a campus mosquitto: what a client of the campus broker sees of the projector, and the
// commands it sends across, retained ones still never run.

#include "mosquittobroker.h"
#include "mqttwatch.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
constexpr char kId[] = "test-room";
constexpr int kStartWait = 10000; // ms for the service to be online, across the bridge too
constexpr int kBridgeWait = 15000; // ms for the building's broker to reach the campus's
constexpr char kPowerOnFrame[] = "OKOKOKOKOK";
constexpr char kMenuFrame[] = "* 0 IR 008";
// A command topic nobody serves: what crosses it tells that the bridge subscribed.
constexpr char kProbeTopic[] = "lumivox/bridge-probe/command";

using testsupport::MosquittoBroker;
using testsupport::MqttWatch;

QString topic(const char *leaf)
{
    return QStringLiteral("lumivox/%1/%2").arg(QLatin1String(kId), QLatin1String(leaf));
}

// The README's bridge, the one code block with a `connection`, led to the campus broker.
QString readmeBridge(quint16 campusPort)
{
    QFile readme(QStringLiteral(LUMIVOX_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList block;
    bool inBlock = false;
    for (const QString &line : QString::fromUtf8(readme.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("```"))) {
            if (inBlock
                && !block.filter(QRegularExpression(QStringLiteral("^connection "))).isEmpty())
                break;
            inBlock = !inBlock;
            block.clear();
        } else if (inBlock) {
            block.append(line);
        }
    }
    return block.join(QLatin1Char('\n'))
        .replace(
            QRegularExpression(QStringLiteral("^address .*$"), QRegularExpression::MultilineOption),
            QStringLiteral("address 127.0.0.1:%1").arg(campusPort));
}

// A message on a topic that matches, whose payload holds these bytes.
bool matches(const MqttWatch::Message &message, const QRegularExpression &topicPattern,
             const QByteArray &part)
{
    return topicPattern.match(message.topic).hasMatch() && message.payload.contains(part);
}

int countOf(const MqttWatch &watch, const QRegularExpression &topicPattern, const QByteArray &part)
{
    const QList<MqttWatch::Message> &seen = watch.messages();
    return int(std::count_if(seen.cbegin(), seen.cend(), [&](const MqttWatch::Message &message) {
        return matches(message, topicPattern, part);
    }));
}
} // namespace

class TestBrokerBridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void reachesTheCampus_data();
    void reachesTheCampus();
    void commandsFromTheCampus_data();
    void commandsFromTheCampus();
    void homeAssistantOnTheCampus();

private:
    bool startService();
    QStringList frames() const;
    bool sawFrame(const char *text) const { return frames().contains(QLatin1String(text)); }

    QTemporaryDir runtime;
    std::unique_ptr<MosquittoBroker> campus;
    std::unique_ptr<MosquittoBroker> building;
    std::unique_ptr<MqttWatch> campusWatch;
    std::unique_ptr<QProcess> simulator;
    std::unique_ptr<QProcess> service;
    QString pty;
    QByteArray simulatorOutput;
};

void TestBrokerBridge::initTestCase()
{
    QVERIFY(runtime.isValid());
    QVERIFY(readmeBridge(0).contains(QLatin1String("address 127.0.0.1:0")));
}

void TestBrokerBridge::init()
{
    simulatorOutput.clear();
    simulator = std::make_unique<QProcess>();
    connect(simulator.get(), &QProcess::readyReadStandardOutput, this,
            [this] { simulatorOutput += simulator->readAllStandardOutput(); });
    simulator->start(QStringLiteral(LUMIVOX_SIMULATOR), {QStringLiteral("--log")});
    QTRY_VERIFY(simulatorOutput.contains("/dev/"));
    pty = QRegularExpression(QStringLiteral("(/dev/\\S+)"))
              .match(QString::fromUtf8(simulatorOutput))
              .captured(1);

    campus = std::make_unique<MosquittoBroker>();
    QVERIFY2(campus->start(), qPrintable(campus->errorString()));
    building = std::make_unique<MosquittoBroker>();
    building->setExtraConfiguration(readmeBridge(campus->port()));
    QVERIFY2(building->start(), qPrintable(building->errorString()));
    campusWatch = std::make_unique<MqttWatch>(
        *campus, QStringList {QStringLiteral("lumivox/#"), QStringLiteral("homeassistant/#")});
    QVERIFY(campusWatch->start());
    // The bridge is up once what the campus publishes reaches the building.
    MqttWatch buildingWatch(*building, {QLatin1String(kProbeTopic)});
    QVERIFY(buildingWatch.start());
    QTRY_VERIFY2_WITH_TIMEOUT(buildingWatch.count(QLatin1String(kProbeTopic)) > 0
                                  || (MqttWatch::publish(*campus, kProbeTopic, "probe"), false),
                              qPrintable(building->log()), kBridgeWait);
}

void TestBrokerBridge::cleanup()
{
    if (service) {
        service->kill();
        service->waitForFinished();
    }
    service.reset();
    campusWatch.reset();
    building.reset();
    campus.reset();
    if (simulator) {
        simulator->kill();
        simulator->waitForFinished();
    }
    simulator.reset();
}

bool TestBrokerBridge::startService()
{
    service = std::make_unique<QProcess>();
    service->setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    service->setProcessEnvironment(environment);
    service->start(QStringLiteral(LUMIVOX_EXECUTABLE),
                   {QStringLiteral("--serve"), QStringLiteral("--mqtt"), building->url(),
                    QStringLiteral("--port"), pty, QStringLiteral("--id"), QLatin1String(kId)});
    return service->waitForStarted();
}

QStringList TestBrokerBridge::frames() const
{
    QStringList received;
    static const QRegularExpression frame(QStringLiteral("^\\[[0-9.]+\\] <- (.*)\\\\r$"),
                                          QRegularExpression::MultilineOption);
    QRegularExpressionMatchIterator it = frame.globalMatch(QString::fromUtf8(simulatorOutput));
    while (it.hasNext())
        received.append(it.next().captured(1));
    return received;
}

void TestBrokerBridge::reachesTheCampus_data()
{
    QTest::addColumn<QString>("topicPattern");
    QTest::addColumn<QByteArray>("part"); // bytes the payload holds
    QTest::newRow("availability") << QStringLiteral("^lumivox/test-room/availability$")
                                  << QByteArray("online");
    QTest::newRow("state with the model")
        << QStringLiteral("^lumivox/test-room/state$") << QByteArray("\"model\":");
    QTest::newRow("discovery") << QStringLiteral("^homeassistant/.*lumivox_test-room.*/config$")
                               << QByteArray("\"identifiers\":[\"lumivox_test-room\"]");
}

void TestBrokerBridge::reachesTheCampus()
{
    QFETCH(QString, topicPattern);
    QFETCH(QByteArray, part);
    const QRegularExpression pattern(topicPattern);
    QVERIFY(startService());
    QTRY_VERIFY_WITH_TIMEOUT(countOf(*campusWatch, pattern, part) > 0, kStartWait);
    // Kept on the campus broker as the service keeps it on its own: a Home Assistant that
    // starts on the campus later is told it at once.
    MqttWatch late(*campus, {QStringLiteral("lumivox/#"), QStringLiteral("homeassistant/#")});
    QVERIFY(late.start());
    QTRY_VERIFY(countOf(late, pattern, part) > 0);
    for (const MqttWatch::Message &message : late.messages())
        if (matches(message, pattern, part))
            QVERIFY2(message.retained, qPrintable(message.topic));
}

void TestBrokerBridge::commandsFromTheCampus_data()
{
    QTest::addColumn<bool>("retain");
    QTest::addColumn<bool>("beforeStart"); // published before the service started
    QTest::addColumn<QString>("status"); // of its result, seen on the campus
    QTest::newRow("a command") << false << false << "done";
    QTest::newRow("retained while it runs") << true << false << "ignored";
    QTest::newRow("retained before the start") << true << true << "ignored";
}

void TestBrokerBridge::commandsFromTheCampus()
{
    QFETCH(bool, retain);
    QFETCH(bool, beforeStart);
    QFETCH(QString, status);
    // The service listens 2 s for another of its id before it subscribes: by then the
    // command has long crossed and is kept by the building's broker.
    if (beforeStart)
        QVERIFY(MqttWatch::publish(*campus, topic("command"), "power-on", true));
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(campusWatch->last(topic("power")), QByteArray("off"), kStartWait);
    if (!beforeStart)
        QVERIFY(MqttWatch::publish(*campus, topic("command"), "power-on", retain));
    QTRY_VERIFY_WITH_TIMEOUT(!campusWatch->payloads(topic("result")).isEmpty(), kStartWait);
    const QJsonObject result
        = QJsonDocument::fromJson(campusWatch->payloads(topic("result")).constFirst()).object();
    QCOMPARE(result.value("command").toString(), "power-on");
    QCOMPARE(result.value("status").toString(), status);
    if (!retain) {
        QVERIFY(sawFrame(kPowerOnFrame));
        return;
    }
    // Commands run in turn: once the next one is on the line, the retained one never will be.
    QVERIFY(MqttWatch::publish(*campus, topic("command"), "menu"));
    QTRY_VERIFY(sawFrame(kMenuFrame));
    QVERIFY(!sawFrame(kPowerOnFrame));
}

void TestBrokerBridge::homeAssistantOnTheCampus()
{
    const QRegularExpression discovery(
        QStringLiteral("^homeassistant/.*lumivox_test-room.*/config$"));
    const QByteArray device("\"identifiers\":[\"lumivox_test-room\"]");
    QVERIFY(startService());
    // Told again once the model is known; the state with the model follows that.
    QTRY_VERIFY_WITH_TIMEOUT(campusWatch->last(topic("state")).contains("\"model\":"), kStartWait);
    QSet<QString> configurations;
    for (const MqttWatch::Message &message : campusWatch->messages())
        if (matches(message, discovery, device))
            configurations.insert(message.topic);
    QVERIFY(!configurations.isEmpty());
    const int before = countOf(*campusWatch, discovery, device);
    QVERIFY(MqttWatch::publish(*campus, QStringLiteral("homeassistant/status"), "online"));
    QTRY_COMPARE(countOf(*campusWatch, discovery, device), before + int(configurations.size()));
}

QTEST_GUILESS_MAIN(TestBrokerBridge)
#include "tst_brokerbridge.moc"
