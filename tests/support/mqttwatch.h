#ifndef MQTTWATCH_H
#define MQTTWATCH_H

#include "mosquittobroker.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

// Everything that appears under the given topic filters, as seen by a real mosquitto_sub:
// each message with its retained flag, in order. Publishes with mosquitto_pub.
class MqttWatch : public QObject
{
    Q_OBJECT

public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

    MqttWatch(const MosquittoBroker &broker, const QStringList &filters);
    ~MqttWatch() override;

    // True once mosquitto_sub runs and has subscribed (a message of its own came back).
    bool start();
    const QList<Message> &messages() const { return seen; }
    // The payloads seen on the topic, in order.
    QList<QByteArray> payloads(const QString &topic) const;
    // The last payload seen on the topic; empty when none.
    QByteArray last(const QString &topic) const;
    int count(const QString &topicPrefix) const;

    // Publishes the bytes as they are (QoS 1), retained or not; true once it is out.
    static bool publish(const MosquittoBroker &broker, const QString &topic,
                        const QByteArray &payload, bool retain = false);
    // Publishes every line as a message of its own, all on one connection.
    static bool publishLines(const MosquittoBroker &broker, const QString &topic,
                             const QList<QByteArray> &lines, bool retain = false);

private:
    void readLines();

    quint16 port;
    QStringList filters;
    QProcess process;
    QByteArray partial;
    QList<Message> seen;
};

} // namespace testsupport

#endif // MQTTWATCH_H
