#include "mosquittobroker.h"

#include "ser2netbridge.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>

namespace testsupport {

namespace {
constexpr int kStartWait = 10000; // ms for the broker to take connections
constexpr int kStopWait = 5000; // ms for it to end after SIGTERM
constexpr int kProbeWait = 100; // ms for one probing connection
} // namespace

MosquittoBroker::MosquittoBroker()
    : listenPort(freeLoopbackPort())
{
    process.setProcessChannelMode(QProcess::MergedChannels);
}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

QString MosquittoBroker::url() const
{
    return QStringLiteral("mqtt://127.0.0.1:%1").arg(listenPort);
}

bool MosquittoBroker::start()
{
    if (!dir.isValid() || listenPort == 0) {
        error = QStringLiteral("no folder or no free port");
        return false;
    }
    const QString config = dir.filePath(QStringLiteral("mosquitto.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    file.write(QStringLiteral("listener %1 127.0.0.1\n"
                              "allow_anonymous true\n"
                              "persistence false\n"
                              "log_dest stdout\n")
                   .arg(listenPort)
                   .toUtf8());
    file.close();
    process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config});
    if (!process.waitForStarted()) {
        error = QStringLiteral("mosquitto: ") + process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(kStartWait);
    for (;;) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), listenPort);
        if (probe.waitForConnected(kProbeWait))
            return true;
        if (deadline.hasExpired() || process.state() != QProcess::Running) {
            error = QStringLiteral("mosquitto did not listen: ")
                + QString::fromLocal8Bit(process.readAll());
            stop();
            return false;
        }
        process.waitForFinished(kProbeWait);
    }
}

void MosquittoBroker::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(kStopWait)) {
        process.kill();
        process.waitForFinished(kStopWait);
    }
}

} // namespace testsupport
