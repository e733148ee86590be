// The service in figures, on loopback with a real mosquitto and projectors on
// pseudo-terminals: a command on the topic, and a PJLink controller's request to the service's
// PJLink face, to its frame on the line; the service's idle CPU
// and private memory beside a window's, both in contact; many services on one broker, all
// online and all switched off by a command each, with the broker's and the services' CPU.
// Prints the figures with their targets; judges nothing.

#include "benchwait.h"
#include "fakeprojector.h"
#include "service/mqttclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {
constexpr int kDefaultServices = 100;
constexpr int kDefaultSamples = 50;
constexpr int kDefaultIdleSeconds = 20;
constexpr int kSampleGap = 150; // ms between two timed commands
constexpr int kOnlineWait = 120000; // ms for every service to be online
constexpr int kSwitchWait = 30000; // ms for every projector to receive its power-off
constexpr int kSettle = 3000; // ms after start-up before idle figures count
constexpr int kStopWait = 10000;
constexpr double kLatencyTarget = 20.0 + 100.0; // ms: 20 ms and one tick
constexpr double kFaceLatencyTarget = 5.0 + 100.0; // ms: one tick and 5 ms
constexpr double kSwitchTarget = 2000.0; // ms for all of them
constexpr double kPercent = 100.0;
constexpr int kKiB = 1024;
constexpr char kPollFrame[] = "* 0 Lamp ?\r";
constexpr char kPowerOffFrame[] = "* 0 IR 002\r";
constexpr char kLampTimeFrame[] = "* 0 Lamp\r";
constexpr char kModelFrame[] = "* 0 IR 035\r";

double percentile(QList<double> values, double share)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(std::min(qsizetype(double(values.size()) * share), values.size() - 1));
}

// A projector that answers its polls with the lamp state, its questions, every other
// command with "*000", and
// switches the lamp off at a power-off.
class Projector : public QObject
{
public:
    Projector()
    {
        connect(&line, &FakeProjector::frameReceived, this, [this](const QByteArray &frame) {
            if (frame == kPollFrame) {
                line.send(lampOn ? "LAMP 1\r" : "LAMP 0\r");
                return;
            }
            // The service's own questions, answered as a projector answers them.
            if (frame == kLampTimeFrame || frame == kModelFrame) {
                line.send(frame == kLampTimeFrame ? "1234\r" : "LV-1\r");
                return;
            }
            if (frame == kPowerOffFrame) {
                lampOn = false;
                if (offAt < 0)
                    offAt = clock.nsecsElapsed();
            }
            lastFrame = frame;
            lastFrameAt = clock.nsecsElapsed();
            line.send("*000\r");
        });
    }
    QString port() const { return line.slavePath(); }
    bool valid() const { return line.isValid(); }

    static QElapsedTimer clock; // one time line for all
    FakeProjector line;
    bool lampOn = true;
    qint64 offAt = -1;
    QByteArray lastFrame;
    qint64 lastFrameAt = -1;
};
QElapsedTimer Projector::clock;

class Bench
{
public:
    Bench(const QString &program, const QString &windowProgram)
        : program(program)
        , windowProgram(windowProgram)
    { }
    ~Bench()
    {
        for (const auto &process : services) {
            process->kill();
            process->waitForFinished(kStopWait);
        }
        if (broker.state() != QProcess::NotRunning) {
            broker.terminate();
            broker.waitForFinished(kStopWait);
        }
    }

    bool startBroker()
    {
        port = bench::freePort();
        QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n"
                                    "persistence false\nmax_connections -1\nlog_dest none\n")
                         .arg(port)
                         .toUtf8());
        config.close();
        broker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config.fileName()});
        if (!broker.waitForStarted())
            return false;
        MqttClient::Settings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = port;
        settings.clientId = QStringLiteral("lumivox-bench");
        QString reason;
        if (!client.configure(settings, &reason))
            return false;
        QObject::connect(&client, &MqttClient::connected, &client, [this] {
            client.subscribe(QStringLiteral("lumivox/+/availability"));
            client.subscribe(QStringLiteral("lumivox/+/power"));
        });
        QObject::connect(&client, &MqttClient::messageReceived, &client,
                         [this](const QString &topic, const QByteArray &payload, bool) {
                             const QString id = topic.section(QLatin1Char('/'), 1, 1);
                             if (topic.endsWith(QLatin1String("/availability")))
                                 availability[id] = payload;
                             else
                                 power[id] = payload;
                         });
        client.setPayloadLimit(kKiB);
        bench::pause(200); // the broker's listening socket
        client.connectToBroker();
        return bench::runUntil([this] { return client.isConnected(); }, kStopWait);
    }

    QProcess *startService(const QString &id, const QString &portName)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString runtime = dir.filePath(id);
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process->setProcessEnvironment(environment);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(program,
                       {QStringLiteral("--serve"), QStringLiteral("--mqtt"),
                        QStringLiteral("mqtt://127.0.0.1:%1").arg(port), QStringLiteral("--port"),
                        portName, QStringLiteral("--id"), id});
        services.push_back(std::move(process));
        return services.back().get();
    }

    void latency(int samples)
    {
        Projector projector;
        QProcess *service = startService(QStringLiteral("latency"), projector.port());
        if (!bench::runUntil([&] { return availability.value("latency") == "online"; },
                             kOnlineWait)) {
            std::printf("latency: the service did not come online\n");
            return;
        }
        bench::pause(kSettle);
        const char *commands[] = {"up", "down"};
        const QByteArray frames[] = {"* 0 IR 009\r", "* 0 IR 010\r"};
        QList<double> delays;
        for (int i = 0; i < samples; ++i) {
            const QByteArray &frame = frames[i % 2];
            const qint64 sent = Projector::clock.nsecsElapsed();
            client.publish(QStringLiteral("lumivox/latency/command"), commands[i % 2], false);
            if (bench::runUntil(
                    [&] { return projector.lastFrame == frame && projector.lastFrameAt > sent; },
                    kStopWait))
                delays.append(double(projector.lastFrameAt - sent) / 1e6);
            bench::pause(kSampleGap);
        }
        std::printf("command on the topic to its frame on the line (%lld samples): median %.1f ms, "
                    "95th percentile %.1f ms, most %.1f ms (target: under %.0f ms)\n",
                    qlonglong(delays.size()), bench::median(delays), percentile(delays, 0.95),
                    delays.isEmpty() ? 0.0 : *std::max_element(delays.begin(), delays.end()),
                    kLatencyTarget);
        service->kill();
        service->waitForFinished(kStopWait);
    }

    // A PJLink controller's request, read by the service's PJLink face, to its frame.
    void faceLatency(int samples)
    {
        Projector projector;
        const quint16 listen = bench::freePort();
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString runtime = dir.filePath(QStringLiteral("face"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        process->setProcessEnvironment(environment);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(program,
                       {QStringLiteral("--serve"), QStringLiteral("--port"), projector.port(),
                        QStringLiteral("--pjlink-listen"),
                        QStringLiteral("127.0.0.1:%1").arg(listen),
                        QStringLiteral("--pjlink-no-auth")});
        QTcpSocket controller;
        QByteArray received;
        QObject::connect(&controller, &QTcpSocket::readyRead, &controller,
                         [&] { received += controller.readAll(); });
        const bool greeted = bench::runUntil(
            [&] {
                if (controller.state() == QAbstractSocket::UnconnectedState)
                    controller.connectToHost(QHostAddress::LocalHost, listen);
                return received.contains("PJLINK 0\r");
            },
            kOnlineWait);
        if (!greeted) {
            std::printf("PJLink face: the service did not greet\n");
            return;
        }
        bench::pause(kSettle);
        const QByteArray requests[] = {"%1INPT 31\r", "%1INPT 11\r"};
        const QByteArray frames[] = {"* 0 IR 050\r", "* 0 IR 015\r"};
        QList<double> delays;
        for (int i = 0; i < samples; ++i) {
            const QByteArray &frame = frames[i % 2];
            received.clear();
            const qint64 sent = Projector::clock.nsecsElapsed();
            controller.write(requests[i % 2]);
            controller.flush();
            if (bench::runUntil(
                    [&] { return projector.lastFrame == frame && projector.lastFrameAt > sent; },
                    kStopWait))
                delays.append(double(projector.lastFrameAt - sent) / 1e6);
            bench::runUntil([&] { return received.endsWith('\r'); }, kStopWait);
            bench::pause(kSampleGap);
        }
        std::printf("PJLink request to its frame on the line (%lld samples): median %.1f ms, "
                    "95th percentile %.1f ms, most %.1f ms (target: under %.0f ms)\n",
                    qlonglong(delays.size()), bench::median(delays), percentile(delays, 0.95),
                    delays.isEmpty() ? 0.0 : *std::max_element(delays.begin(), delays.end()),
                    kFaceLatencyTarget);
        process->kill();
        process->waitForFinished(kStopWait);
    }

    void idle(int seconds)
    {
        Projector forService;
        Projector forWindow;
        QProcess *service = startService(QStringLiteral("idle"), forService.port());
        QProcess window;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("LUMIVOX_BENCH_PORT"), forWindow.port());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        window.setProcessEnvironment(environment);
        window.setStandardOutputFile(QProcess::nullDevice());
        window.setStandardErrorFile(QProcess::nullDevice());
        window.start(windowProgram);
        window.waitForStarted();
        if (!bench::runUntil([&] { return availability.value("idle") == "online"; }, kOnlineWait)) {
            std::printf("idle: the service did not come online\n");
            return;
        }
        bench::pause(kSettle);
        const double serviceBefore = bench::cpuSeconds(service->processId());
        const double windowBefore = bench::cpuSeconds(window.processId());
        bench::pause(seconds * 1000);
        const double serviceCpu = bench::cpuSeconds(service->processId()) - serviceBefore;
        const double windowCpu = bench::cpuSeconds(window.processId()) - windowBefore;
        std::printf("idle in contact over %d s: service %.4f %% of a core, %lld KiB private; "
                    "window (offscreen) %.4f %% of a core, %lld KiB private (target: the "
                    "service no more)\n",
                    seconds, serviceCpu * kPercent / seconds,
                    qlonglong(bench::privateKiB(service->processId())),
                    windowCpu * kPercent / seconds,
                    qlonglong(bench::privateKiB(window.processId())));
        window.kill();
        window.waitForFinished(kStopWait);
        service->kill();
        service->waitForFinished(kStopWait);
    }

    void fleet(int count, int idleSeconds)
    {
        std::vector<std::unique_ptr<Projector>> projectors;
        QElapsedTimer started;
        started.start();
        for (int i = 0; i < count; ++i) {
            projectors.push_back(std::make_unique<Projector>());
            if (!projectors.back()->valid()) {
                std::printf("fleet: no pseudo-terminal for projector %d\n", i);
                return;
            }
            startService(QStringLiteral("room-%1").arg(i), projectors.back()->port());
        }
        const auto online = [&] {
            return std::count_if(availability.cbegin(), availability.cend(),
                                 [](const QByteArray &value) { return value == "online"; });
        };
        const bool all = bench::runUntil([&] { return online() >= count + 0; }, kOnlineWait);
        std::printf("%d services started: %lld online after %.1f s%s\n", count, qlonglong(online()),
                    double(started.elapsed()) / 1000.0, all ? "" : " (not all)");
        bench::pause(kSettle);

        const double brokerBefore = bench::cpuSeconds(broker.processId());
        double servicesBefore = 0;
        for (const auto &process : services)
            servicesBefore += bench::cpuSeconds(process->processId());
        bench::pause(idleSeconds * 1000);
        double servicesIdle = -servicesBefore;
        for (const auto &process : services)
            servicesIdle += bench::cpuSeconds(process->processId());
        const double brokerIdle = bench::cpuSeconds(broker.processId()) - brokerBefore;
        std::printf("idle over %d s: broker %.2f %% of a core; %d services %.2f %% of a core "
                    "together (%.3f %% each)\n",
                    idleSeconds, brokerIdle * kPercent / idleSeconds, count,
                    servicesIdle * kPercent / idleSeconds,
                    servicesIdle * kPercent / idleSeconds / count);

        const double brokerBurst = bench::cpuSeconds(broker.processId());
        const qint64 first = Projector::clock.nsecsElapsed();
        for (int i = 0; i < count; ++i)
            client.publish(QStringLiteral("lumivox/room-%1/command").arg(i), "power-off", false);
        const auto switched = [&] {
            return std::count_if(projectors.cbegin(), projectors.cend(),
                                 [](const auto &projector) { return projector->offAt >= 0; });
        };
        bench::runUntil([&] { return switched() >= count; }, kSwitchWait);
        qint64 last = first;
        for (const auto &projector : projectors)
            last = std::max(last, projector->offAt);
        const bool told = bench::runUntil(
            [&] {
                return std::count_if(power.cbegin(), power.cend(),
                                     [](const QByteArray &value) {
                                         return value == "cooling" || value == "off";
                                     })
                    >= count;
            },
            kSwitchWait);
        std::printf("power-off to each of %d: %lld frames on their lines, the last %.0f ms after "
                    "the first command (target: all within %.0f ms); every power topic "
                    "cooling or off: %s\n",
                    count, qlonglong(switched()), double(last - first) / 1e6, kSwitchTarget,
                    told ? "yes" : "no");
        std::printf("broker CPU for the burst: %.3f s\n",
                    bench::cpuSeconds(broker.processId()) - brokerBurst);
    }

private:
    QString program;
    QString windowProgram;
    QTemporaryDir dir;
    quint16 port = 0;
    QProcess broker;
    MqttClient client;
    QHash<QString, QByteArray> availability;
    QHash<QString, QByteArray> power;
    std::vector<std::unique_ptr<QProcess>> services;
};
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The service's figures on a real mosquitto on loopback."));
    parser.addHelpOption();
    const QCommandLineOption servicesOption(QStringLiteral("services"),
                                            QStringLiteral("Services on one broker (100)."),
                                            QStringLiteral("n"), QString::number(kDefaultServices));
    const QCommandLineOption samplesOption(QStringLiteral("samples"),
                                           QStringLiteral("Timed commands (50)."),
                                           QStringLiteral("n"), QString::number(kDefaultSamples));
    const QCommandLineOption idleOption(QStringLiteral("idle-seconds"),
                                        QStringLiteral("Idle time measured (20)."),
                                        QStringLiteral("s"), QString::number(kDefaultIdleSeconds));
    parser.addOptions({servicesOption, samplesOption, idleOption});
    parser.process(application);
    Projector::clock.start();

    Bench bench(QStringLiteral(LUMIVOX_EXECUTABLE), QStringLiteral(LUMIVOX_BENCH_WINDOW));
    if (!bench.startBroker()) {
        std::printf("no broker: is mosquitto installed?\n");
        return 1;
    }
    bench.latency(parser.value(samplesOption).toInt());
    std::fflush(stdout);
    bench.faceLatency(parser.value(samplesOption).toInt());
    std::fflush(stdout);
    bench.idle(parser.value(idleOption).toInt());
    std::fflush(stdout);
    bench.fleet(parser.value(servicesOption).toInt(), parser.value(idleOption).toInt());
    return 0;
}
