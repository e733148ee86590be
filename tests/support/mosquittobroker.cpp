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
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(certificate.isEmpty() ? QStringLiteral("mqtt") : QStringLiteral("mqtts"))
        .arg(listenPort);
}

void MosquittoBroker::setTls(const QString &certificateFile, const QString &keyFile)
{
    certificate = certificateFile;
    key = keyFile;
}

QString MosquittoBroker::log()
{
    QFile file(dir.filePath(QStringLiteral("mosquitto.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int MosquittoBroker::connectionsOf(const QString &clientId)
{
    return int(log().count(QStringLiteral(" as %1").arg(clientId)));
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
                              "log_dest stdout\n"
                              // Written at once, unlike standard output into a pipe.
                              "log_dest file %2\n"
                              // Run as root, it stays root: the key is the test's.
                              "user root\n")
                   .arg(listenPort)
                   .arg(dir.filePath(QStringLiteral("mosquitto.log")))
                   .toUtf8());
    if (!certificate.isEmpty())
        file.write(QStringLiteral("certfile %1\nkeyfile %2\n").arg(certificate, key).toUtf8());
    // Last: a bridge's options all belong to the connection begun before them.
    if (!extraConfiguration.isEmpty())
        file.write(extraConfiguration.toUtf8() + '\n');
    file.close();
    QFile::remove(dir.filePath(QStringLiteral("mosquitto.log")));
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
