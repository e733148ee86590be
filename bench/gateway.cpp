// The campus gateway in figures: one gateway on a mosquitto of its own with many simulated
// PJLink class 2 projectors (one simulator process, an address each from 127.0.1.1, telling
// their changes to the gateway's UDP port 4352): how soon all are in contact, how soon a
// command to each is done, the gateway's idle CPU and private memory per projector, how soon
// a power change the gateway did not ask for reaches the broker, and how soon a search lists
// 254 projectors. It runs in a private network namespace of its own (the port 4352 and the
// 127.x addresses are its own), entered by running itself again through unshare.
// Prints the figures with their targets; judges nothing.

#include "benchwait.h"
#include "service/mqttclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {
constexpr int kDefaultProjectors = 1000;
constexpr int kDefaultIdleSeconds = 30;
constexpr double kDefaultPollSeconds = 3.1; // the gateway's own default
constexpr char kLongPollSeconds[] = "60"; // only a notification brings a change sooner
constexpr int kHandful = 5; // the gateway whose memory is taken off
constexpr int kSearched = 254; // a /24 of projectors
constexpr int kNoticeRepeats = 7;
constexpr quint32 kFleetFirst = 0x7f000101U; // 127.0.1.1
constexpr quint32 kSearchFirst = 0x7f000901U; // 127.0.9.1
constexpr char kSearchBroadcast[] = "127.255.255.255";
constexpr char kPoker[] = "127.0.0.2"; // the other PJLink client's own address
constexpr quint16 kPjlinkPort = 4352;
constexpr char kNetworkMark[] = "LUMIVOX_BENCH_PRIVATE_NETWORK";

constexpr int kReadyWait = 60000; // ms for a simulator to listen on all its addresses
constexpr int kContactWait = 120000; // ms for every projector to be in contact
constexpr int kCommandWait = 60000; // ms for every result
constexpr int kNoticeWait = 10000; // ms for one notified change
constexpr int kSearchWait = 60000;
constexpr int kSettle = 5000; // ms after contact before idle figures count
constexpr int kStopWait = 10000;
constexpr int kQuiet = 500; // ms for a stopped gateway's last messages to arrive
constexpr int kNoticeGap = 300; // ms between two notified changes

constexpr double kContactTarget = 60.0; // s
constexpr double kCommandTarget = 2.0; // s
constexpr double kCpuTarget = 0.01; // % of a core per projector
constexpr double kMemoryTarget = 64.0; // KiB per projector
constexpr double kNoticeTarget = 1.0; // s
constexpr double kSearchTarget = 5.0; // s
constexpr double kPercent = 100.0;
constexpr double kNanosPerSecond = 1e9;
constexpr int kKiB = 1024;

QString idOf(int index)
{
    return QStringLiteral("p%1").arg(index + 1);
}

QHostAddress fleetAddress(int index)
{
    return QHostAddress(kFleetFirst + quint32(index));
}

// What the broker last said on one topic of a projector, and when it came.
struct Heard
{
    QByteArray payload;
    qint64 at = -1; // ns on the bench's clock
};

class Bench
{
public:
    Bench(int count, double pollSeconds)
        : count(count)
        , pollSeconds(pollSeconds)
    {
        clock.start();
    }
    ~Bench()
    {
        for (QProcess *process : {&gateway, &simulator, &broker}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(kStopWait))
                process->kill();
            process->waitForFinished(kStopWait);
        }
    }

    bool startBroker()
    {
        port = bench::freePort();
        QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        // Root of the private namespace only: there is no other user to become.
        config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n"
                                    "persistence false\nmax_connections -1\nlog_dest none\n"
                                    "user root\n")
                         .arg(port)
                         .toUtf8());
        config.close();
        // It warns of running as root, which it does only in the private namespace.
        broker.setStandardOutputFile(QProcess::nullDevice());
        broker.setStandardErrorFile(QProcess::nullDevice());
        broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config.fileName()});
        if (!broker.waitForStarted())
            return false;
        MqttClient::Settings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = port;
        settings.clientId = QStringLiteral("lumivox-gateway-bench");
        QString reason;
        if (!client.configure(settings, &reason))
            return false;
        QObject::connect(&client, &MqttClient::connected, &client, [this] {
            for (const char *leaf : {"contact", "power", "result"})
                client.subscribe(QStringLiteral("lumivox/+/%1").arg(QLatin1String(leaf)));
        });
        QObject::connect(&client, &MqttClient::messageReceived, &client,
                         [this](const QString &topic, const QByteArray &payload, bool) {
                             const QString id = topic.section(QLatin1Char('/'), 1, 1);
                             const QString leaf = topic.section(QLatin1Char('/'), 2, 2);
                             Heard heard {payload, clock.nsecsElapsed()};
                             if (leaf == QLatin1String("contact"))
                                 contact[id] = heard;
                             else if (leaf == QLatin1String("power"))
                                 power[id] = heard;
                             else
                                 result[id] = heard;
                         });
        client.setPayloadLimit(kKiB);
        bench::pause(200); // the broker's listening socket
        client.connectToBroker();
        return bench::runUntil([this] { return client.isConnected(); }, kStopWait);
    }

    // 254 projectors of another range, alone on the network, found by `lumivox --search`.
    void search()
    {
        QProcess others;
        if (!startSimulator(&others, kSearched, kSearchFirst))
            return;
        QProcess search;
        search.setProcessEnvironment(environment());
        search.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer took;
        took.start();
        search.start(QStringLiteral(LUMIVOX_EXECUTABLE),
                     {QStringLiteral("--search"), QStringLiteral("--json"), QStringLiteral("--on"),
                      QLatin1String(kSearchBroadcast)});
        const bool ended
            = bench::runUntil([&] { return search.state() == QProcess::NotRunning; }, kSearchWait);
        const double seconds = double(took.elapsed()) / 1000.0;
        int listed = 0;
        int named = 0;
        const QJsonArray found = QJsonDocument::fromJson(search.readAllStandardOutput()).array();
        for (const QJsonValue &value : found) {
            const QJsonObject projector = value.toObject();
            const quint32 address
                = QHostAddress(projector.value(QStringLiteral("address")).toString())
                      .toIPv4Address();
            if (address < kSearchFirst || address >= kSearchFirst + kSearched)
                continue;
            ++listed;
            if (projector.contains(QStringLiteral("name")))
                named += 1;
        }
        std::printf("search on %s: %d of %d listed (%d with their names) by `lumivox --search "
                    "--json` ending after %.2f s%s (target: all within %.0f s)\n",
                    kSearchBroadcast, listed, kSearched, named, seconds,
                    ended ? "" : " (still running: stopped)", kSearchTarget);
        std::fflush(stdout);
        if (!ended)
            search.kill();
        search.waitForFinished(kStopWait);
        stop(&others);
    }

    bool startFleet()
    {
        if (!startSimulator(&simulator, count, kFleetFirst))
            return false;
        writeFleet(QStringLiteral("handful.ini"), std::min(kHandful, count));
        writeFleet(QStringLiteral("fleet.ini"), count);
        return true;
    }

    // A gateway with a handful of the projectors: what it holds without them.
    void handful()
    {
        const int few = std::min(kHandful, count);
        startGateway(QStringLiteral("handful.ini"), QString::number(pollSeconds));
        if (!bench::runUntil([&] { return inContact() >= few; }, kContactWait))
            std::printf("handful: %d of %d in contact\n", inContact(), few);
        bench::pause(kSettle);
        handfulKiB = bench::privateKiB(gateway.processId());
        stopGateway();
    }

    // All of them: contact, idle, and a command to each.
    void fleet(int idleSeconds)
    {
        const qint64 started
            = startGateway(QStringLiteral("fleet.ini"), QString::number(pollSeconds));
        const bool all = bench::runUntil([&] { return inContact() >= count; }, kContactWait);
        std::printf("%d projectors, polled every %.1f s: %d in contact (contact ON) after %.1f s%s "
                    "(target: all within %.0f s)\n",
                    count, pollSeconds, inContact(), seconds(lastOf(contact) - started),
                    all ? "" : " (not all)", kContactTarget);
        std::fflush(stdout);

        bench::pause(kSettle);
        const qint64 pid = gateway.processId();
        const double before = bench::cpuSeconds(pid);
        bench::pause(idleSeconds * 1000);
        const double cpu = (bench::cpuSeconds(pid) - before) * kPercent / idleSeconds;
        const qint64 kib = bench::privateKiB(pid);
        std::printf("idle over %d s: the gateway %.3f %% of a core, %.5f %% a projector "
                    "(target: at most %.2f %%)\n",
                    idleSeconds, cpu, cpu / count, kCpuTarget);
        const int few = std::min(kHandful, count);
        if (count > few)
            std::printf("private memory: %lld KiB with %d projectors, %lld KiB with %d: %.1f KiB "
                        "a projector (target: at most %.0f KiB)\n",
                        qlonglong(kib), count, qlonglong(handfulKiB), few,
                        double(kib - handfulKiB) / (count - few), kMemoryTarget);
        std::fflush(stdout);

        result.clear();
        const qint64 sent = clock.nsecsElapsed();
        for (int i = 0; i < count; ++i)
            client.publish(QStringLiteral("lumivox/%1/command").arg(idOf(i)), "power-on", false);
        const qint64 published = clock.nsecsElapsed();
        const bool done = bench::runUntil([&] { return resultsDone() >= count; }, kCommandWait);
        QMap<QByteArray, int> outcomes;
        for (const Heard &heard : std::as_const(result))
            ++outcomes[QJsonDocument::fromJson(heard.payload)
                           .object()
                           .value(QStringLiteral("status"))
                           .toString()
                           .toUtf8()];
        QStringList tally;
        for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
            tally.append(QStringLiteral("%1 %2").arg(it.value()).arg(QLatin1String(it.key())));
        qint64 lastDone = sent;
        for (const Heard &heard : std::as_const(result))
            if (isDone(heard))
                lastDone = std::max(lastDone, heard.at);
        std::printf("power-on to each of %d (published in %.0f ms): %d results done, the last "
                    "%.2f s after the first command%s [%s] (target: all within %.0f s)\n",
                    count, (published - sent) / 1e6, resultsDone(), seconds(lastDone - sent),
                    done ? "" : " (not all)", qPrintable(tally.join(QStringLiteral(", "))),
                    kCommandTarget);
        std::fflush(stdout);
        stopGateway();
    }

    // A power change made by another PJLink client, with polls far apart: only the
    // projector's notification can bring it to the broker soon.
    void notified()
    {
        const qint64 started
            = startGateway(QStringLiteral("fleet.ini"), QLatin1String(kLongPollSeconds));
        const bool all = bench::runUntil([&] { return inContact() >= count; }, kContactWait);
        std::printf("again polled every %s s: %d in contact after %.1f s%s\n", kLongPollSeconds,
                    inContact(), seconds(lastOf(contact) - started), all ? "" : " (not all)");
        std::fflush(stdout);
        QList<double> delays;
        int missed = 0;
        // Each on a projector of its own, none warming or cooling from the one before.
        const int repeats = std::min(kNoticeRepeats, count);
        for (int repeat = 0; repeat < repeats; ++repeat) {
            const int index = int(qint64(repeat) * count / repeats);
            const QString id = idOf(index);
            // Its power as this gateway has told it.
            if (!bench::runUntil(
                    [&] {
                        const Heard heard = power.value(id);
                        return heard.at > started
                            && (heard.payload == "on" || heard.payload == "off");
                    },
                    kNoticeWait)) {
                std::printf("%s: no power told\n", qPrintable(id));
                ++missed;
                continue;
            }
            const bool on = power.value(id).payload == "on";
            qint64 changed = -1;
            if (!poke(fleetAddress(index), on ? "%1POWR 0\r" : "%1POWR 1\r", &changed)) {
                std::printf("%s: the projector did not take the power command\n", qPrintable(id));
                ++missed;
                continue;
            }
            const QByteArray coming = on ? "cooling" : "warming";
            if (bench::runUntil(
                    [&] {
                        const Heard heard = power.value(id);
                        return heard.at > changed && heard.payload == coming;
                    },
                    kNoticeWait))
                delays.append(seconds(power.value(id).at - changed));
            else {
                std::printf("%s: power still %s\n", qPrintable(id),
                            power.value(id).payload.constData());
                ++missed;
            }
            bench::pause(kNoticeGap);
        }
        std::printf(
            "a power change by another client to its power topic (%lld of %d): median "
            "%.3f s, worst %.3f s%s (target: within %.0f s)\n",
            qlonglong(delays.size()), repeats, bench::median(delays),
            delays.isEmpty() ? 0.0 : *std::max_element(delays.cbegin(), delays.cend()),
            missed == 0
                ? ""
                : qPrintable(
                    QStringLiteral("; %1 not within %2 s").arg(missed).arg(kNoticeWait / 1000)),
            kNoticeTarget);
        std::fflush(stdout);
        stopGateway();
    }

private:
    QProcessEnvironment environment()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString runtime = dir.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        environment.remove(QStringLiteral("DISPLAY"));
        return environment;
    }

    bool startSimulator(QProcess *process, int many, quint32 first)
    {
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(QStringLiteral(LUMIVOX_SIMULATOR),
                       {QStringLiteral("--pjlink"), QStringLiteral("--class"), QStringLiteral("2"),
                        QStringLiteral("--many"), QString::number(many),
                        QStringLiteral("--address"), QHostAddress(first).toString(),
                        QStringLiteral("--notify"), QStringLiteral("127.0.0.1")});
        // It names its ports once it listens on all of them.
        if (!bench::runUntil(
                [&] { return process->canReadLine() || process->state() == QProcess::NotRunning; },
                kReadyWait)
            || !process->canReadLine()) {
            std::printf("the simulator of %d projectors from %s did not start\n", many,
                        qPrintable(QHostAddress(first).toString()));
            return false;
        }
        return true;
    }

    void stop(QProcess *process)
    {
        process->terminate();
        if (!process->waitForFinished(kStopWait))
            process->kill();
        process->waitForFinished(kStopWait);
    }

    void writeFleet(const QString &name, int projectors)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return;
        for (int i = 0; i < projectors; ++i)
            file.write(QStringLiteral("[%1]\nport = pjlink://%2\n")
                           .arg(idOf(i), fleetAddress(i).toString())
                           .toUtf8());
    }

    // Starts the gateway on a fleet file, with what the broker said before forgotten; the
    // time it started.
    qint64 startGateway(const QString &fleetFile, const QString &pollInterval)
    {
        contact.clear();
        power.clear();
        result.clear();
        gateway.setProcessEnvironment(environment());
        gateway.setStandardOutputFile(QProcess::nullDevice());
        gateway.setStandardErrorFile(dir.filePath(fleetFile + QStringLiteral(".log")));
        const qint64 started = clock.nsecsElapsed();
        gateway.start(QStringLiteral(LUMIVOX_SERVE),
                      {QStringLiteral("--serve"), QStringLiteral("--mqtt"),
                       QStringLiteral("mqtt://127.0.0.1:%1").arg(port), QStringLiteral("--fleet"),
                       dir.filePath(fleetFile), QStringLiteral("--id"), QStringLiteral("bench"),
                       QStringLiteral("--poll-interval"), pollInterval});
        gateway.waitForStarted();
        return started;
    }

    void stopGateway()
    {
        stop(&gateway);
        bench::pause(kQuiet);
    }

    // Connects to the projector from an address of its own, asks for the power and marks
    // the moment the projector has taken it.
    bool poke(const QHostAddress &projector, const QByteArray &request, qint64 *changed)
    {
        QTcpSocket socket;
        QByteArray received;
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] {
            received += socket.readAll();
            if (received.contains("POWR=") && *changed < 0)
                *changed = clock.nsecsElapsed();
        });
        if (!socket.bind(QHostAddress(QLatin1String(kPoker))))
            return false;
        socket.connectToHost(projector, kPjlinkPort);
        if (!bench::runUntil([&] { return received.contains("PJLINK 0\r"); }, kNoticeWait))
            return false;
        socket.write(request);
        const bool taken = bench::runUntil([&] { return *changed >= 0; }, kNoticeWait)
            && received.contains("POWR=OK");
        socket.disconnectFromHost();
        return taken;
    }

    int inContact() const
    {
        return int(std::count_if(contact.cbegin(), contact.cend(),
                                 [](const Heard &heard) { return heard.payload == "ON"; }));
    }

    static bool isDone(const Heard &heard) { return heard.payload.contains("\"status\":\"done\""); }

    int resultsDone() const
    {
        return int(std::count_if(result.cbegin(), result.cend(), &Bench::isDone));
    }

    static qint64 lastOf(const QHash<QString, Heard> &heard)
    {
        qint64 last = 0;
        for (const Heard &each : heard)
            last = std::max(last, each.at);
        return last;
    }

    static double seconds(qint64 nanos) { return double(nanos) / kNanosPerSecond; }

    int count;
    double pollSeconds;
    QElapsedTimer clock;
    QTemporaryDir dir;
    quint16 port = 0;
    QProcess broker;
    QProcess simulator;
    QProcess gateway;
    MqttClient client;
    qint64 handfulKiB = 0;
    QHash<QString, Heard> contact;
    QHash<QString, Heard> power;
    QHash<QString, Heard> result;
};

// Runs this program again in a private network namespace with its loopback up, where the
// system allows one: UDP 4352 and the 127.x addresses are then the benchmark's alone.
void enterPrivateNetwork(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kNetworkMark))
        return;
    qputenv(kNetworkMark, "1");
    if (QProcess::execute(QStringLiteral("unshare"),
                          {QStringLiteral("-rn"), QStringLiteral("true")})
        != 0) {
        std::printf("unshare -rn is refused here: running on this host's network\n");
        return;
    }
    const QByteArray self = QCoreApplication::applicationFilePath().toLocal8Bit();
    std::vector<char *> arguments {const_cast<char *>("unshare"),
                                   const_cast<char *>("-rn"),
                                   const_cast<char *>("sh"),
                                   const_cast<char *>("-c"),
                                   const_cast<char *>("ip link set lo up && exec \"$0\" \"$@\""),
                                   const_cast<char *>(self.constData())};
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    std::fflush(stdout);
    execvp("unshare", arguments.data());
    std::printf("unshare did not run: running on this host's network\n");
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The campus gateway's figures with simulated PJLink projectors, in a "
                       "private network namespace with a mosquitto of its own."));
    parser.addHelpOption();
    const QCommandLineOption projectorsOption(
        QStringLiteral("projectors"), QStringLiteral("Projectors of the gateway (1000)."),
        QStringLiteral("n"), QString::number(kDefaultProjectors));
    const QCommandLineOption idleOption(QStringLiteral("idle-seconds"),
                                        QStringLiteral("Idle time measured (30)."),
                                        QStringLiteral("s"), QString::number(kDefaultIdleSeconds));
    const QCommandLineOption pollOption(
        QStringLiteral("poll-interval"),
        QStringLiteral("The gateway's poll interval for all but the notifications (3.1)."),
        QStringLiteral("s"), QString::number(kDefaultPollSeconds));
    parser.addOptions({projectorsOption, idleOption, pollOption});
    parser.process(application);
    const int count = parser.value(projectorsOption).toInt();
    const int idleSeconds = parser.value(idleOption).toInt();
    const double pollSeconds = parser.value(pollOption).toDouble();
    if (count < 1 || count > int(kSearchFirst - kFleetFirst) || idleSeconds < 1
        || pollSeconds <= 0) {
        std::printf("--projectors takes 1 to %d, --idle-seconds and --poll-interval more than "
                    "0\n",
                    int(kSearchFirst - kFleetFirst));
        return 2;
    }
    enterPrivateNetwork(argc, argv);

    Bench bench(count, pollSeconds);
    if (!bench.startBroker()) {
        std::printf("no broker: is mosquitto installed?\n");
        return 1;
    }
    // Before the fleet is there: only the 254 answer the search.
    bench.search();
    if (!bench.startFleet())
        return 1;
    bench.handful();
    bench.fleet(idleSeconds);
    bench.notified();
    return 0;
}
