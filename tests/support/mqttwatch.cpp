#include "mqttwatch.h"

#include <QDeadlineTimer>
#include <QSignalSpy>

namespace testsupport {

namespace {
constexpr int kStartWait = 10000; // ms for mosquitto_sub to subscribe
constexpr int kPublishWait = 30000; // ms for mosquitto_pub to be done (32 MB to a broker that
                                    // refuses them takes a while on a busy machine)
constexpr int kReadyPause = 100; // ms between two marks while waiting for the subscription
constexpr char kReadyTopic[] = "lumivox-test/watch-ready";

QStringList connection(quint16 port)
{
    return {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
            QString::number(port)};
}

bool runPublisher(quint16 port, const QStringList &options, const QByteArray &input)
{
    QProcess publisher;
    publisher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    publisher.start(QStringLiteral("mosquitto_pub"), connection(port) + options);
    if (!publisher.waitForStarted())
        return false;
    publisher.write(input);
    publisher.closeWriteChannel();
    return publisher.waitForFinished(kPublishWait) && publisher.exitStatus() == QProcess::NormalExit
        && publisher.exitCode() == 0;
}
} // namespace

MqttWatch::MqttWatch(const MosquittoBroker &broker, const QStringList &filters)
    : port(broker.port())
    , filters(filters)
{
    connect(&process, &QProcess::readyReadStandardOutput, this, &MqttWatch::readLines);
}

MqttWatch::~MqttWatch()
{
    process.kill();
    process.waitForFinished();
}

bool MqttWatch::start()
{
    QStringList arguments = connection(port);
    // The retained flag, the topic and the payload in hexadecimal: one line each.
    arguments << QStringLiteral("-F") << QStringLiteral("%r %t %x");
    for (const QString &filter : filters + QStringList {QLatin1String(kReadyTopic)})
        arguments << QStringLiteral("-t") << filter;
    process.start(QStringLiteral("mosquitto_sub"), arguments);
    if (!process.waitForStarted())
        return false;
    const QDeadlineTimer deadline(kStartWait);
    while (count(QLatin1String(kReadyTopic)) == 0) {
        if (deadline.hasExpired() || process.state() != QProcess::Running)
            return false;
        runPublisher(port,
                     {QStringLiteral("-t"), QLatin1String(kReadyTopic), QStringLiteral("-m"),
                      QStringLiteral("ready")},
                     {});
        QSignalSpy output(&process, &QProcess::readyReadStandardOutput);
        output.wait(kReadyPause);
    }
    return true;
}

void MqttWatch::readLines()
{
    partial += process.readAllStandardOutput();
    qsizetype end = 0;
    while ((end = partial.indexOf('\n')) >= 0) {
        const QList<QByteArray> fields = partial.left(end).split(' ');
        partial.remove(0, end + 1);
        if (fields.size() == 3 || fields.size() == 2)
            seen.append({QString::fromUtf8(fields.at(1)),
                         fields.size() == 3 ? QByteArray::fromHex(fields.at(2)) : QByteArray(),
                         fields.at(0) == "1"});
    }
}

QList<QByteArray> MqttWatch::payloads(const QString &topic) const
{
    QList<QByteArray> found;
    for (const Message &message : seen)
        if (message.topic == topic)
            found.append(message.payload);
    return found;
}

QByteArray MqttWatch::last(const QString &topic) const
{
    const QList<QByteArray> found = payloads(topic);
    return found.isEmpty() ? QByteArray() : found.constLast();
}

int MqttWatch::count(const QString &topicPrefix) const
{
    return int(std::count_if(seen.cbegin(), seen.cend(), [&](const Message &message) {
        return message.topic.startsWith(topicPrefix);
    }));
}

bool MqttWatch::publish(const MosquittoBroker &broker, const QString &topic,
                        const QByteArray &payload, bool retain)
{
    QStringList options {QStringLiteral("-t"), topic, QStringLiteral("-q"), QStringLiteral("1")};
    if (retain)
        options << QStringLiteral("-r");
    // -s sends standard input as it is, whatever its bytes; -n an empty message.
    options << (payload.isEmpty() ? QStringLiteral("-n") : QStringLiteral("-s"));
    return runPublisher(broker.port(), options, payload);
}

bool MqttWatch::publishLines(const MosquittoBroker &broker, const QString &topic,
                             const QList<QByteArray> &lines, bool retain)
{
    QByteArray input;
    for (const QByteArray &line : lines)
        input += line + '\n';
    QStringList options {QStringLiteral("-t"), topic, QStringLiteral("-q"), QStringLiteral("1"),
                         QStringLiteral("-l")};
    if (retain)
        options << QStringLiteral("-r");
    return runPublisher(broker.port(), options, input);
}

} // namespace testsupport
