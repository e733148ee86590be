// The service on a real mosquitto, against the projector simulator: what it publishes and
// what Home Assistant is told, commands from the broker on the line, the broker away and
// back, the end of the service, and everything from the broker that must change nothing.

#include "channel/portholderlookup.h"
#include "commandlinerun.h"
#include "mosquittobroker.h"
#include "mqttwatch.h"
#include "service/mqtttopics.h"
#include "settingsdriver.h"
#include "ui/lumivox.h"
#include "windowprobe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {
constexpr char kId[] = "test-room";
constexpr int kStartWait = 10000; // ms for the service to be online
constexpr int kWarmUpWait = 15000; // ms: the warm-up, and the lamp polls 3.1 s apart
constexpr int kBackAgainWait = 20000; // ms: the back-off after a broker's return
constexpr int kConfigurations = 28; // switch, 2 sensors, binary sensor, select, 23 buttons
constexpr int kFormerConfigurations = 28; // one for each entity, as 1.2 published them
constexpr int kFloodSize = 300;
constexpr int kBadFloodSize = 3000;
constexpr int kSilentBrokerWait = 45000; // ms: the 30 s bound of a connection being made
constexpr int kTlsRetryWait = 30000; // ms: two or three attempts of the back-off
constexpr int kIdTakenStatus = 69;
constexpr int kUsageStatus = 64;
constexpr qint64 kMemoryGrowthBound = 8 * 1024; // kB of peak memory a refused command may cost
constexpr int kHugePayload = 32 * 1024 * 1024; // bytes
// ms for the broker to be done with a huge payload it refuses, on a busy machine; the
// service's own bound there is its memory, measured apart
constexpr int kHugePayloadWait = 30000;
constexpr char kPowerOnFrame[] = "OKOKOKOKOK";
constexpr char kMenuFrame[] = "* 0 IR 008";
constexpr char kOkFrame[] = "* 0 IR 013";
constexpr char kPollFrame[] = "* 0 Lamp ?";

using testsupport::MosquittoBroker;
using testsupport::MqttWatch;

QString topic(const char *leaf)
{
    return QStringLiteral("lumivox/%1/%2").arg(QLatin1String(kId), QLatin1String(leaf));
}

QJsonObject jsonOf(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

// The peak resident memory of a process, in kB (0 when it cannot be read).
qint64 peakMemory(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(int(qstrlen("VmHWM:"))).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

bool runOpenssl(const QString &dir, const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(dir);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.setStandardOutputFile(QProcess::nullDevice());
    openssl.start(QStringLiteral("openssl"), arguments);
    return openssl.waitForFinished() && openssl.exitStatus() == QProcess::NormalExit
        && openssl.exitCode() == 0;
}

// A certificate authority NAME.pem (key NAME.key) in dir.
bool makeAuthority(const QString &dir, const QString &name)
{
    return runOpenssl(dir,
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-days", "2", "-subj", "/CN=" + name, "-keyout", name + ".key",
                       "-out", name + ".pem"});
}

// A broker's certificate NAME.pem (key NAME.key) for subjectAltName, signed by authority.
bool makeBrokerCertificate(const QString &dir, const QString &name, const QString &authority,
                           const QString &altName)
{
    QFile extensions(dir + "/" + name + ".ext");
    if (!extensions.open(QIODevice::WriteOnly))
        return false;
    extensions.write("subjectAltName=" + altName.toUtf8() + "\n");
    extensions.close();
    return runOpenssl(dir,
                      {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                       "-subj", "/CN=broker", "-keyout", name + ".key", "-out", name + ".csr"})
        && runOpenssl(dir,
                      {"x509", "-req", "-in", name + ".csr", "-CA", authority + ".pem", "-CAkey",
                       authority + ".key", "-CAcreateserial", "-days", "2", "-extfile",
                       name + ".ext", "-out", name + ".pem"});
}
} // namespace

class TestService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void discovery_data();
    void discovery();
    void formerConfigurationsCleared_data();
    void formerConfigurationsCleared();
    void pjlinkProjectorTellsItsFacts_data();
    void pjlinkProjectorTellsItsFacts();
    void powerOnWarmsUp();
    void ending_data();
    void ending();
    void brokerAway_data();
    void brokerAway();
    void brokerRefusedUntilMended_data();
    void brokerRefusedUntilMended();
    void caFileRefusedAtStart_data();
    void caFileRefusedAtStart();
    void retainedCommandIsNotRun_data();
    void retainedCommandIsNotRun();
    void refusedPayloads_data();
    void refusedPayloads();
    void floodIsBounded();
    void ignoredFloodLogsOncePerMinute_data();
    void ignoredFloodLogsOncePerMinute();
    void lineOptions_data();
    void lineOptions();
    void results_data();
    void results();
    void idTakenByAnotherService();
    void commandLineGoesThroughTheService();
    void windowSaysTheServiceHoldsThePort();

private:
    bool startBroker();
    bool startService(const QStringList &extra = {});
    // A process of the service, its output merged into *output.
    std::unique_ptr<QProcess> serviceProcess(const QStringList &arguments, QByteArray *output);
    // The frames the simulator received, without their carriage returns.
    QStringList frames() const;
    bool sawFrame(const char *text) const { return frames().contains(QLatin1String(text)); }
    QString serviceLog() const { return QString::fromUtf8(serviceOutput); }
    // Publishes the marker until it reaches the line: everything published before it has
    // been dealt with by then.
    bool markerArrived(const char *command, const char *frame);

    QTemporaryDir runtime;
    std::unique_ptr<MosquittoBroker> broker;
    std::unique_ptr<MqttWatch> watch;
    std::unique_ptr<QProcess> simulator;
    std::unique_ptr<QProcess> service;
    QString pty;
    QByteArray simulatorOutput;
    QByteArray serviceOutput;
};

void TestService::initTestCase()
{
    QVERIFY(runtime.isValid());
    // The window of this test finds the service's channel where the service puts it.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
}

void TestService::init()
{
    QVERIFY(runtime.isValid());
    simulatorOutput.clear();
    serviceOutput.clear();
    simulator = std::make_unique<QProcess>();
    connect(simulator.get(), &QProcess::readyReadStandardOutput, this,
            [this] { simulatorOutput += simulator->readAllStandardOutput(); });
    simulator->start(QStringLiteral(LUMIVOX_SIMULATOR),
                     {QStringLiteral("--log"), QStringLiteral("--warm-up"), QStringLiteral("500"),
                      QStringLiteral("--cool-down"), QStringLiteral("500")});
    QTRY_VERIFY(simulatorOutput.contains("/dev/"));
    pty = QRegularExpression(QStringLiteral("(/dev/\\S+)"))
              .match(QString::fromUtf8(simulatorOutput))
              .captured(1);
    broker = std::make_unique<MosquittoBroker>();
}

void TestService::cleanup()
{
    if (service) {
        service->kill();
        service->waitForFinished();
    }
    service.reset();
    watch.reset();
    broker.reset();
    if (simulator) {
        simulator->kill();
        simulator->waitForFinished();
    }
    simulator.reset();
}

bool TestService::startBroker()
{
    if (!broker->start()) {
        qWarning("%s", qPrintable(broker->errorString()));
        return false;
    }
    watch = std::make_unique<MqttWatch>(*broker,
                                        QStringList {QStringLiteral("lumivox/#"),
                                                     QStringLiteral("homeassistant/#"),
                                                     QStringLiteral("site/#")});
    return watch->start();
}

bool TestService::startService(const QStringList &extra)
{
    service = serviceProcess(QStringList {QStringLiteral("--serve"), QStringLiteral("--mqtt"),
                                          broker->url(), QStringLiteral("--port"), pty,
                                          QStringLiteral("--id"), QLatin1String(kId)}
                                 + extra,
                             &serviceOutput);
    return service->waitForStarted();
}

std::unique_ptr<QProcess> TestService::serviceProcess(const QStringList &arguments,
                                                      QByteArray *output)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    QProcess *raw = process.get();
    connect(raw, &QProcess::readyRead, this, [raw, output] { *output += raw->readAll(); });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    // A service needs no display: there is none to find.
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(LUMIVOX_EXECUTABLE), arguments);
    return process;
}

QStringList TestService::frames() const
{
    QStringList received;
    static const QRegularExpression frame(QStringLiteral("^\\[[0-9.]+\\] <- (.*)\\\\r$"),
                                          QRegularExpression::MultilineOption);
    QRegularExpressionMatchIterator it = frame.globalMatch(QString::fromUtf8(simulatorOutput));
    while (it.hasNext())
        received.append(it.next().captured(1));
    return received;
}

bool TestService::markerArrived(const char *command, const char *frame)
{
    return sawFrame(frame) || (MqttWatch::publish(*broker, topic("command"), command), false);
}

void TestService::discovery_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<int>("configurations");
    QTest::newRow("default prefix") << QStringList() << "homeassistant" << kConfigurations;
    QTest::newRow("own prefix") << QStringList {"--mqtt-discovery-prefix", "site/ha"} << "site/ha"
                                << kConfigurations;
    QTest::newRow("none") << QStringList {"--no-discovery"} << "homeassistant" << 0;
}

void TestService::discovery()
{
    QFETCH(QStringList, options);
    QFETCH(QString, prefix);
    QFETCH(int, configurations);
    QVERIFY(startBroker());
    QVERIFY(startService(options));
    // The model comes once the projector has answered; the state follows the discovery.
    QTRY_VERIFY_WITH_TIMEOUT(jsonOf(watch->last(topic("state"))).contains("model"), kStartWait);

    // One device configuration; the empty messages that take back 1.2's are none.
    const QString deviceTopic = prefix + QStringLiteral("/device/lumivox_test-room/config");
    QHash<QString, QJsonObject> configs;
    QJsonObject device;
    for (const MqttWatch::Message &message : watch->messages()) {
        if (!message.topic.startsWith(prefix + QLatin1Char('/'))
            || !message.topic.endsWith(QLatin1String("/config")) || message.payload.isEmpty())
            continue;
        QCOMPARE(message.topic, deviceTopic);
        const QJsonDocument document = QJsonDocument::fromJson(message.payload);
        QVERIFY2(document.isObject(), qPrintable(message.topic));
        QVERIFY(message.retained || watch->count(message.topic) > 0);
        device = document.object().value("device").toObject();
        const QJsonObject components = document.object().value("components").toObject();
        for (auto it = components.constBegin(); it != components.constEnd(); ++it) {
            const QJsonObject config = it.value().toObject();
            configs.insert(config.value("platform").toString() + "/lumivox_test-room/" + it.key(),
                           config);
        }
    }
    QCOMPARE(configs.size(), configurations);
    if (configurations == 0)
        return;
    QCOMPARE(device.value("identifiers").toArray(), QJsonArray {"lumivox_test-room"});
    QCOMPARE(device.value("model").toString(), "Lumivox Demo Projector LV-1");

    QSet<QString> uniqueIds;
    QSet<QString> buttons;
    for (auto it = configs.cbegin(); it != configs.cend(); ++it) {
        const QJsonObject config = it.value();
        QCOMPARE(config.value("availability").toArray().at(0).toObject().value("topic").toString(),
                 topic("availability"));
        uniqueIds.insert(config.value("unique_id").toString());
        if (it.key().startsWith(QLatin1String("button/"))) {
            QCOMPARE(config.value("command_topic").toString(), topic("command"));
            buttons.insert(config.value("payload_press").toString());
        }
    }
    QCOMPARE(uniqueIds.size(), configurations);
    QCOMPARE(buttons.size(), kConfigurations - 5);
    QVERIFY(buttons.contains("lamp-time") && !buttons.contains("power-on")
            && !buttons.contains("hdmi"));

    const QJsonObject power = configs.value("switch/lumivox_test-room/power");
    QCOMPARE(power.value("command_topic").toString(), topic("command"));
    QCOMPARE(power.value("payload_on").toString(), "power-on");
    QCOMPARE(power.value("payload_off").toString(), "power-off");
    QCOMPARE(power.value("state_topic").toString(), topic("power"));
    const QJsonObject lamp = configs.value("sensor/lumivox_test-room/lamp_hours");
    QCOMPARE(lamp.value("state_topic").toString(), topic("lamp_hours"));
    QCOMPARE(lamp.value("device_class").toString(), "duration");
    QCOMPARE(lamp.value("unit_of_measurement").toString(), "h");
    QCOMPARE(lamp.value("state_class").toString(), "total_increasing");
    const QJsonObject contact = configs.value("binary_sensor/lumivox_test-room/contact");
    QCOMPARE(contact.value("device_class").toString(), "connectivity");
    QCOMPARE(contact.value("state_topic").toString(), topic("contact"));
    QCOMPARE(configs.value("sensor/lumivox_test-room/power_state").value("device_class"), "enum");
    QCOMPARE(configs.value("select/lumivox_test-room/source").value("options").toArray(),
             (QJsonArray {"vga", "hdmi", "dvi", "s-video", "composite"}));

    // Home Assistant back from a restart is told again.
    const int before = watch->count(deviceTopic);
    QVERIFY(MqttWatch::publish(*broker, prefix + QStringLiteral("/status"), "online"));
    QTRY_COMPARE(watch->count(deviceTopic), before + 1);
}

void TestService::formerConfigurationsCleared_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("default prefix") << QStringList() << "homeassistant";
    QTest::newRow("own prefix") << QStringList {"--mqtt-discovery-prefix", "site/ha"} << "site/ha";
}

void TestService::formerConfigurationsCleared()
{
    QFETCH(QStringList, options);
    QFETCH(QString, prefix);
    QVERIFY(startBroker());
    // What 1.2 left on the broker: a retained configuration for each entity.
    const QStringList former = mqtttopics::formerDiscoveryTopics(prefix, QLatin1String(kId));
    QCOMPARE(former.size(), kFormerConfigurations);
    QVERIFY(former.contains(prefix + "/switch/lumivox_test-room/power/config"));
    QVERIFY(former.contains(prefix + "/button/lumivox_test-room/16-9/config"));
    for (const QString &config : former)
        QVERIFY(MqttWatch::publish(*broker, config, "{\"unique_id\":\"old\"}", true));
    QTRY_COMPARE(watch->count(prefix + "/switch/"), 1);
    QVERIFY(startService(options));
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("availability")), QByteArray("online"), kStartWait);

    // Each is taken back, and nothing of them stays for a client that comes later.
    for (const QString &config : former)
        QTRY_VERIFY2(watch->payloads(config).endsWith(QByteArray()), qPrintable(config));
    MqttWatch later(*broker, {prefix + "/#"});
    QVERIFY(later.start());
    QTRY_VERIFY(later.count(prefix + "/device/lumivox_test-room/config") > 0);
    for (const MqttWatch::Message &message : later.messages())
        QVERIFY2(!former.contains(message.topic), qPrintable(message.topic));
}

void TestService::pjlinkProjectorTellsItsFacts_data()
{
    QTest::addColumn<int>("projectorClass");
    QTest::addColumn<int>("lamps");
    QTest::newRow("class 1, one lamp") << 1 << 1;
    QTest::newRow("class 2, two lamps") << 2 << 2;
}

void TestService::pjlinkProjectorTellsItsFacts()
{
    QFETCH(int, projectorClass);
    QFETCH(int, lamps);
    QByteArray pjlinkOutput;
    QProcess pjlink;
    connect(&pjlink, &QProcess::readyReadStandardOutput, this,
            [&] { pjlinkOutput += pjlink.readAllStandardOutput(); });
    pjlink.start(QStringLiteral(LUMIVOX_SIMULATOR),
                 {"--pjlink", "--listen", "0", "--class", QString::number(projectorClass),
                  "--lamps", QString::number(lamps), "--warm-up", "500", "--error-status",
                  "010000"});
    const auto stop = qScopeGuard([&] {
        pjlink.kill();
        pjlink.waitForFinished();
    });
    QTRY_VERIFY(pjlinkOutput.contains("pjlink://"));
    const QString port = QRegularExpression(QStringLiteral("(pjlink://\\S+)"))
                             .match(QString::fromUtf8(pjlinkOutput))
                             .captured(1);
    QVERIFY(startBroker());
    service = serviceProcess(
        {"--serve", "--mqtt", broker->url(), "--port", port, "--id", QLatin1String(kId)},
        &serviceOutput);
    QVERIFY(service->waitForStarted());

    // A sensor for each lamp, the device as the projector names it, a problem sensor for
    // each error category.
    const QString deviceTopic = QStringLiteral("homeassistant/device/lumivox_test-room/config");
    const auto components = [&] {
        return QJsonDocument::fromJson(watch->last(deviceTopic))
            .object()
            .value("components")
            .toObject();
    };
    QTRY_VERIFY_WITH_TIMEOUT(components().contains("lamp_problem"), kStartWait);
    QTRY_COMPARE(watch->last(topic("lamp_hours")), QByteArray("1234"));
    QTRY_COMPARE(components().contains("lamp2_hours"), lamps > 1);
    QCOMPARE(watch->last(topic("lamp2_hours")), lamps > 1 ? QByteArray("617") : QByteArray());
    QCOMPARE(components().contains("lamp3_hours"), false);
    QCOMPARE(jsonOf(watch->last(topic("errors"))).value("lamp").toString(), "warning");
    QTRY_VERIFY(components().contains("mute"));
    QCOMPARE(components().contains("frozen"), projectorClass > 1);
    QTRY_VERIFY(components().contains("filter_hours") == (projectorClass > 1));
    const QJsonObject device
        = QJsonDocument::fromJson(watch->last(deviceTopic)).object().value("device").toObject();
    QCOMPARE(device.value("manufacturer").toString(), "Lumivox");
    QCOMPARE(device.value("model").toString(), "LV-1");
    QCOMPARE(device.value("sw_version").toString(), projectorClass > 1 ? "1.0.7" : "");

    // The projector tells its input once it is on: the select follows it.
    QVERIFY(MqttWatch::publish(*broker, topic("command"), "power-on"));
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("input")), QByteArray("vga"), kWarmUpWait);
    const QJsonObject source = components().value("source").toObject();
    QCOMPARE(source.value("state_topic").toString(), topic("input"));
    QVERIFY(!source.contains("optimistic"));
    QVERIFY(MqttWatch::publish(*broker, topic("command"), "hdmi"));
    QTRY_COMPARE(watch->last(topic("input")), QByteArray("hdmi"));
    QTRY_COMPARE(jsonOf(watch->last(topic("state"))).value("input").toString(), "hdmi");
}

void TestService::powerOnWarmsUp()
{
    QVERIFY(startBroker());
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("power")), QByteArray("off"), kStartWait);
    QCOMPARE(watch->last(topic("contact")), QByteArray("ON"));
    QCOMPARE(watch->last(topic("lamp_hours")), QByteArray("1234"));

    QVERIFY(MqttWatch::publish(*broker, topic("command"), "power-on"));
    QTRY_VERIFY(sawFrame(kPowerOnFrame));
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("power")), QByteArray("on"), kWarmUpWait);
    const QList<QByteArray> power = watch->payloads(topic("power"));
    QVERIFY(power.indexOf("warming") > power.indexOf("off"));
    QVERIFY(power.indexOf("warming") < power.indexOf("on"));
    const QJsonObject state = jsonOf(watch->last(topic("state")));
    QCOMPARE(state.value("power").toString(), "on");
    QCOMPARE(state.value("lamp").toString(), "on");
    QCOMPARE(state.value("lamp_hours").toInt(), 1234);
    QCOMPARE(state.value("port").toString(), pty);
    QCOMPARE(frames().count(QLatin1String(kPowerOnFrame)), 1);
}

void TestService::ending_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("clean");
    QTest::addColumn<bool>("brokerThere");
    QTest::newRow("SIGTERM: says offline and ends") << int(SIGTERM) << true << true;
    QTest::newRow("SIGKILL: the last will says it") << int(SIGKILL) << false << true;
    QTest::newRow("SIGTERM, the broker away: ends") << int(SIGTERM) << true << false;
}

void TestService::ending()
{
    QFETCH(int, signal);
    QFETCH(bool, clean);
    QFETCH(bool, brokerThere);
    QVERIFY(startBroker());
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("availability")), QByteArray("online"), kStartWait);
    if (!brokerThere) {
        watch.reset();
        broker->stop();
        QTRY_VERIFY(serviceLog().contains(QLatin1String("Broker:")));
    }
    QSignalSpy finished(service.get(), &QProcess::finished);
    ::kill(pid_t(service->processId()), signal);
    QVERIFY(finished.wait());
    QCOMPARE(service->exitStatus() == QProcess::NormalExit && service->exitCode() == 0, clean);
    if (!brokerThere)
        return;
    QTRY_COMPARE(watch->last(topic("availability")), QByteArray("offline"));
    // What a client that comes later finds.
    MqttWatch later(*broker, {topic("availability")});
    QVERIFY(later.start());
    QTRY_COMPARE(later.last(topic("availability")), QByteArray("offline"));
}

void TestService::brokerAway_data()
{
    QTest::addColumn<bool>("upAtStart");
    QTest::newRow("down at the start") << false;
    QTest::newRow("stopped and started again") << true;
}

void TestService::brokerAway()
{
    QFETCH(bool, upAtStart);
    if (upAtStart) {
        QVERIFY(startBroker());
        QVERIFY(startService());
        QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("power")), QByteArray("off"), kStartWait);
        watch.reset();
        broker->stop();
    } else {
        QVERIFY(startService());
    }
    // The projector is polled on while the broker is away.
    const int polls = int(frames().count(QLatin1String(kPollFrame)));
    QTRY_VERIFY_WITH_TIMEOUT(frames().count(QLatin1String(kPollFrame)) >= polls + 2, kStartWait);
    QVERIFY(service->state() == QProcess::Running);

    QVERIFY(startBroker());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("availability")), QByteArray("online"),
                              kBackAgainWait);
    QTRY_COMPARE(watch->last(topic("power")), QByteArray("off"));
    QTRY_COMPARE(watch->last(topic("contact")), QByteArray("ON"));
    QTRY_COMPARE(jsonOf(watch->last(topic("state"))).value("lamp").toString(), "off");
}

void TestService::brokerRefusedUntilMended_data()
{
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<int>("wait");
    QTest::newRow("a certificate of another authority")
        << "untrusted"
        << "the broker's certificate is not trusted" << kTlsRetryWait;
    QTest::newRow("a certificate for another host name")
        << "other-host"
        << "the broker's certificate is for another host name than 127.0.0.1" << kTlsRetryWait;
    QTest::newRow("a broker that never acknowledges")
        << "silent"
        << "the broker did not acknowledge the connection within 30 s" << kSilentBrokerWait;
}

void TestService::brokerRefusedUntilMended()
{
    QFETCH(QString, problem);
    QFETCH(QString, logged);
    QFETCH(int, wait);
    QTemporaryDir certificates;
    const QString dir = certificates.path();
    QVERIFY(makeAuthority(dir, "trusted") && makeAuthority(dir, "other"));
    QVERIFY(makeBrokerCertificate(dir, "good", "trusted", "IP:127.0.0.1"));
    QVERIFY(makeBrokerCertificate(dir, "untrusted", "other", "IP:127.0.0.1"));
    QVERIFY(makeBrokerCertificate(dir, "other-host", "trusted", "DNS:broker.example"));

    const bool silent = problem == QLatin1String("silent");
    QTcpServer silentBroker;
    if (silent) {
        // Takes the connection and never says a word.
        QVERIFY(silentBroker.listen(QHostAddress::LocalHost, broker->port()));
        QVERIFY(startService());
    } else {
        broker->setTls(dir + "/" + problem + ".pem", dir + "/" + problem + ".key");
        QVERIFY(broker->start());
        QVERIFY(startService({"--mqtt-ca", dir + "/trusted.pem"}));
    }
    QTRY_VERIFY_WITH_TIMEOUT(serviceLog().contains(logged), wait);
    QVERIFY(!serviceLog().contains(QLatin1String("Unknown error")));

    // The same port, now a broker that is as it should be: the next attempt gets in.
    if (silent) {
        silentBroker.close();
        QVERIFY(startBroker());
    } else {
        broker->stop();
        broker->setTls(dir + "/good.pem", dir + "/good.key");
        QVERIFY(broker->start());
    }
    QTRY_VERIFY_WITH_TIMEOUT(serviceLog().contains(QLatin1String("Connected to the broker as")),
                             wait);
    QCOMPARE(serviceLog().count(logged), 1);
    QCOMPARE(broker->connectionsOf(QStringLiteral("lumivox-test-room-")), 1);
}

void TestService::caFileRefusedAtStart_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no certificate in it")
        << QByteArray("not a certificate\n") << true << "holds no certificate";
    QTest::newRow("empty") << QByteArray() << true << "holds no certificate";
    QTest::newRow("not there") << QByteArray() << false << "No such file";
}

void TestService::caFileRefusedAtStart()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString caFile = dir.filePath("ca.pem");
    if (exists) {
        QFile file(caFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray output;
    // No broker listens: the file alone must end it.
    const std::unique_ptr<QProcess> process = serviceProcess(
        {"--serve", "--mqtt", QStringLiteral("mqtts://127.0.0.1:%1").arg(broker->port()), "--port",
         pty, "--id", kId, "--mqtt-ca", caFile},
        &output);
    QSignalSpy finished(process.get(), &QProcess::finished);
    QVERIFY(finished.wait(kStartWait));
    QCOMPARE(process->exitCode(), kUsageStatus);
    QVERIFY2(output.contains(caFile.toUtf8()) && output.contains(reason.toUtf8()),
             output.constData());
}

void TestService::retainedCommandIsNotRun_data()
{
    QTest::addColumn<bool>("live");
    QTest::newRow("retained before the start") << false;
    QTest::newRow("retained while it runs") << true;
}

void TestService::retainedCommandIsNotRun()
{
    QFETCH(bool, live);
    QVERIFY(startBroker());
    if (!live)
        QVERIFY(MqttWatch::publish(*broker, topic("command"), "power-on", true));
    QVERIFY(startService());
    if (live) {
        QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("power")), QByteArray("off"), kStartWait);
        QVERIFY(MqttWatch::publish(*broker, topic("command"), "power-on", true));
    }
    QTRY_VERIFY_WITH_TIMEOUT(serviceLog().contains("Ignored a retained command ('power-on')"),
                             kStartWait);
    QTRY_VERIFY(markerArrived("menu", kMenuFrame));
    QVERIFY(!sawFrame(kPowerOnFrame));
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("power")), QByteArray("off"), kStartWait);
    QVERIFY(!watch->payloads(topic("power")).contains("warming"));
    QTRY_VERIFY(
        watch->payloads(topic("result"))
            .contains(
                R"({"command":"power-on","reason":"retained commands are never run","status":"ignored"})"));
}

void TestService::refusedPayloads_data()
{
    // Larger than MqttClient::kMaxPacket: the broker keeps it to itself.
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("arrives");
    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("upper case") << QByteArray("POWER-ON") << true;
    QTest::newRow("a line end") << QByteArray("power-on\n") << true;
    QTest::newRow("a space before") << QByteArray(" power-on") << true;
    QTest::newRow("a NUL inside") << QByteArray("power-on\0power-on", 17) << true;
    QTest::newRow("two names") << QByteArray("power-on hdmi") << true;
    QTest::newRow("not UTF-8") << QByteArray("\xff\xfe\x80power-on") << true;
    QTest::newRow("JSON") << QByteArray("{\"command\":\"power-on\"}") << true;
    QTest::newRow("65 bytes") << QByteArray("power-on").leftJustified(65, 'x') << true;
    QTest::newRow("a megabyte") << QByteArray(1 << 20, 'p') << false;
    QTest::newRow("32 megabytes") << QByteArray(kHugePayload, 'p') << false;
}

void TestService::refusedPayloads()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, arrives);
    QVERIFY(startBroker());
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("power")), QByteArray("off"), kStartWait);
    const qint64 peakBefore = peakMemory(service->processId());
    QVERIFY(peakBefore > 0);
    QVERIFY(MqttWatch::publish(*broker, topic("command"), payload));
    QTRY_VERIFY(markerArrived("menu", kMenuFrame));
    // Only the polls, the service's own questions and the marker went on the line.
    const QStringList allowed {QLatin1String(kPollFrame), QStringLiteral("* 0 Lamp"),
                               QStringLiteral("* 0 IR 035"), QLatin1String(kMenuFrame)};
    for (const QString &frame : frames())
        QVERIFY2(allowed.contains(frame), qPrintable(frame));
    QCOMPARE(serviceLog().count(QLatin1String("Ignored a command")), arrives ? 1 : 0);
    QVERIFY(!serviceLog().contains(QLatin1String("pppppppp")));
    QCOMPARE(service->state(), QProcess::Running);
    QVERIFY2(peakMemory(service->processId()) - peakBefore < kMemoryGrowthBound,
             qPrintable(
                 QStringLiteral("%1 kB more").arg(peakMemory(service->processId()) - peakBefore)));
    // The marker's result comes after that of the payload, if any.
    QTRY_VERIFY_WITH_TIMEOUT(watch->last(topic("result")).contains("\"command\":\"menu\""),
                             kHugePayloadWait);
    int refused = 0;
    for (const QByteArray &result : watch->payloads(topic("result"))) {
        const QJsonObject object = jsonOf(result);
        if (object.value("status") == "unknown-command") {
            ++refused;
            QCOMPARE(object.value("size").toInt(-1), int(payload.size()));
            QVERIFY(!object.contains("command"));
        }
    }
    QCOMPARE(refused, arrives ? 1 : 0);
}

void TestService::floodIsBounded()
{
    QVERIFY(startBroker());
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("power")), QByteArray("off"), kStartWait);
    QVERIFY(MqttWatch::publishLines(*broker, topic("command"),
                                    QList<QByteArray>(kFloodSize, QByteArray("menu"))));
    QTRY_VERIFY(markerArrived("ok", kOkFrame));
    const int run = int(frames().count(QLatin1String(kMenuFrame)));
    QVERIFY2(run > 0 && run < kFloodSize / 2, qPrintable(QString::number(run)));
    QCOMPARE(serviceLog().count(QLatin1String("Command menu from the broker")), run);
    QCOMPARE(serviceLog().count(QLatin1String("Too many commands at once")), 1);
    // Every one of them has its result: run, or dropped.
    const auto results = [this](const char *status) {
        const QList<QByteArray> all = watch->payloads(topic("result"));
        return std::count_if(all.cbegin(), all.cend(), [status](const QByteArray &result) {
            const QJsonObject object = jsonOf(result);
            return object.value("command") == "menu" && object.value("status") == status;
        });
    };
    QTRY_COMPARE(results("dropped"), kFloodSize - run);
    QVERIFY(results("dropped") + results("not-available") == kFloodSize);
}

void TestService::ignoredFloodLogsOncePerMinute_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("retain");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("summary");
    QTest::newRow("not command names")
        << QByteArray("POWER-ON") << false << "Ignored a command that is not a command name"
        << QStringLiteral(
               "Ignored (\\d+) more commands that are not command names in the last minute");
    QTest::newRow("longer than 64 bytes")
        << QByteArray(70, 'a') << false << "Ignored a command of more than 64 bytes"
        << QStringLiteral("Ignored (\\d+) more commands of more than 64 bytes in the last minute");
    QTest::newRow("retained") << QByteArray("power-on") << true << "Ignored a retained command"
                              << QStringLiteral("Ignored (\\d+) more retained commands in the last "
                                                "minute");
}

void TestService::ignoredFloodLogsOncePerMinute()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, retain);
    QFETCH(QString, first);
    QFETCH(QString, summary);
    QVERIFY(startBroker());
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("power")), QByteArray("off"), kStartWait);
    QVERIFY(MqttWatch::publishLines(*broker, topic("command"),
                                    QList<QByteArray>(kBadFloodSize, payload), retain));
    QTRY_VERIFY_WITH_TIMEOUT(markerArrived("ok", kOkFrame), kStartWait);
    QCOMPARE(serviceLog().count(QLatin1String("Ignored")), 1);
    QCOMPARE(serviceLog().count(first), 1);
    // The count is told at the end of the minute, or at the end of the service.
    QSignalSpy finished(service.get(), &QProcess::finished);
    ::kill(pid_t(service->processId()), SIGTERM);
    QVERIFY(finished.wait());
    // A broker may drop part of a flood to a slow client: the count says what arrived.
    const QRegularExpressionMatch told = QRegularExpression(summary).match(serviceLog());
    QVERIFY2(told.hasMatch(), qPrintable(serviceLog()));
    QVERIFY(told.captured(1).toInt() > 0 && told.captured(1).toInt() <= kBadFloodSize - 1);
    QCOMPARE(serviceLog().count(QLatin1String("Ignored")), 2);
}

void TestService::lineOptions_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("frame"); // one the projector gets; empty for none
    QTest::addColumn<QString>("logged");
    QTest::newRow("a command set")
        << QStringList {"--protocol", LUMIVOX_SOURCE_DIR "/tests/fixtures/testset.ini"} << "PWR?j"
        << ": opened";
    QTest::newRow("a rate the system cannot set")
        << QStringList {"--baud", "12345"} << ""
        << ": 12345 baud is not a rate this system can set (tried again every 5 s)";
}

void TestService::lineOptions()
{
    QFETCH(QStringList, options);
    QFETCH(QString, frame);
    QFETCH(QString, logged);
    QVERIFY(startBroker());
    QVERIFY(startService(options));
    QTRY_VERIFY2_WITH_TIMEOUT(serviceLog().contains(logged), qPrintable(serviceLog()), kStartWait);
    if (!frame.isEmpty())
        QTRY_VERIFY2_WITH_TIMEOUT(frames().contains(frame), qPrintable(frames().join(' ')),
                                  kStartWait);
}

void TestService::results_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("logged");
    QTest::newRow("done") << QByteArray("power-on") << "done"
                          << ""
                          << ""
                          << "Command power-on from the broker: done";
    QTest::newRow("an answer") << QByteArray("lamp-time") << "done"
                               << ""
                               << "1234"
                               << "Command lamp-time from the broker: Lamp hours: 1234";
    QTest::newRow("refused by the projector")
        << QByteArray("hdmi") << "not-available"
        << "Command not available at the moment."
        << ""
        << "Command hdmi from the broker: Command not available at the moment.";
    QTest::newRow("errors, which a serial projector does not tell")
        << QByteArray("errors") << "not-available"
        << "Command not available at the moment."
        << ""
        << "Command errors from the broker: Command not available at the moment.";
    QTest::newRow("an unknown name") << QByteArray("blah") << "unknown-command"
                                     << "not a command name of lumivox --list"
                                     << ""
                                     << "Ignored a command that is not a command name ('blah')";
    QTest::newRow("bytes, not a name") << QByteArray("\xff\x01") << "unknown-command"
                                       << "not a command name of lumivox --list"
                                       << ""
                                       << "Ignored a command that is not a command name (2 bytes)";
}

void TestService::results()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, status);
    QFETCH(QString, reason);
    QFETCH(QString, answer);
    QFETCH(QString, logged);
    QVERIFY(startBroker());
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("power")), QByteArray("off"), kStartWait);
    QVERIFY(MqttWatch::publish(*broker, topic("command"), payload));
    QTRY_VERIFY(!watch->payloads(topic("result")).isEmpty());
    const QList<MqttWatch::Message> &messages = watch->messages();
    const auto result = std::find_if(messages.cbegin(), messages.cend(), [](const auto &message) {
        return message.topic == topic("result");
    });
    QVERIFY(!result->retained);
    const QJsonObject object = jsonOf(result->payload);
    if (payload.startsWith('\xff'))
        QCOMPARE(object.value("size").toInt(), int(payload.size()));
    else
        QCOMPARE(object.value("command").toString(), QString::fromLatin1(payload));
    QCOMPARE(object.value("status").toString(), status);
    QCOMPARE(object.value("reason").toString(), reason);
    QCOMPARE(object.value("answer").toString(), answer);
    QVERIFY2(serviceLog().contains(logged), qPrintable(serviceLog()));
    // Every answer is named: no line of the log is a bare value.
    if (!answer.isEmpty())
        QVERIFY2(!serviceLog().split(QLatin1Char('\n')).contains(answer), qPrintable(serviceLog()));
}

void TestService::idTakenByAnotherService()
{
    QVERIFY(startBroker());
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("availability")), QByteArray("online"), kStartWait);
    QByteArray otherOutput;
    const std::unique_ptr<QProcess> other
        = serviceProcess({"--serve", "--mqtt", broker->url(), "--port",
                          runtime.filePath("no-such-port"), "--id", kId},
                         &otherOutput);
    QSignalSpy otherFinished(other.get(), &QProcess::finished);
    QVERIFY(otherFinished.wait(kStartWait));
    QCOMPARE(other->exitCode(), kIdTakenStatus);
    QVERIFY2(otherOutput.contains("Another service serves test-room on the broker"),
             otherOutput.constData());
    // The first serves on, undisturbed: one connection each, never "offline".
    QCOMPARE(service->state(), QProcess::Running);
    QCOMPARE(broker->connectionsOf(QStringLiteral("lumivox-test-room-")), 2);
    QVERIFY(MqttWatch::publish(*broker, topic("command"), "power-on"));
    QTRY_VERIFY(sawFrame(kPowerOnFrame));
    QVERIFY(!watch->payloads(topic("availability")).contains("offline"));
    QCOMPARE(broker->connectionsOf(QStringLiteral("lumivox-test-room-")), 2);
}

void TestService::commandLineGoesThroughTheService()
{
    QVERIFY(startBroker());
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("contact")), QByteArray("ON"), kStartWait);
    const testsupport::CommandLineRun run = testsupport::runCommandLine(
        {QStringLiteral("--status"), QStringLiteral("--json"), QStringLiteral("--port"), pty},
        runtime.path());
    QCOMPARE(run.status, 0);
    const QJsonObject result = jsonOf(run.out.toUtf8());
    QCOMPARE(result.value("via").toString(), "service");
    QCOMPARE(result.value("lamp").toString(), "off");
    QCOMPARE(result.value("port").toString(), pty);
}

void TestService::windowSaysTheServiceHoldsThePort()
{
    QVERIFY(startBroker());
    QVERIFY(startService());
    QTRY_COMPARE_WITH_TIMEOUT(watch->last(topic("contact")), QByteArray("ON"), kStartWait);
    // Wired as the window program wires it.
    Lumivox window;
    PortHolderLookup holder;
    connect(&window, &Lumivox::openFailed, &holder, &PortHolderLookup::lookUp);
    connect(&holder, &PortHolderLookup::found, &window, &Lumivox::showHolder);
    QVERIFY(testsupport::runSettings(
        window, [this](Settings *dialog) { testsupport::applyName(dialog, pty); }));
    QTRY_VERIFY(testsupport::logText(window).contains("The Lumivox service holds it."));
    QVERIFY(testsupport::logText(window).contains("Failed to initialize Com-port!"));
    QCOMPARE(service->state(), QProcess::Running);
}

QTEST_MAIN(TestService)
#include "tst_service.moc"
