#include "ser2netbridge.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace testsupport {

namespace {
constexpr int kStartWait = 10000; // ms for ser2net to start listening
constexpr int kStopWait = 5000; // ms for it to end after SIGTERM
constexpr int kProbeWait = 200; // ms one look at an accepter may take
constexpr int kProbePause = 20; // ms between two looks

bool accepts(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), port);
    const bool connected = probe.waitForConnected(kProbeWait);
    probe.abort();
    return connected;
}
} // namespace

quint16 freeLoopbackPort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

Ser2netBridge::Ser2netBridge(const QString &ptyPath)
    : pty(ptyPath)
    , rawPort(freeLoopbackPort())
    , rfc2217Port(freeLoopbackPort())
{
    process.setProcessChannelMode(QProcess::MergedChannels);
}

Ser2netBridge::~Ser2netBridge()
{
    stop();
}

QString Ser2netBridge::rawName() const
{
    return QStringLiteral("socket://127.0.0.1:%1").arg(rawPort);
}

QString Ser2netBridge::rfc2217Name() const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(rfc2217Port);
}

bool Ser2netBridge::start()
{
    if (!dir.isValid() || rawPort == 0 || rfc2217Port == 0) {
        error = QStringLiteral("no folder or no free port");
        return false;
    }
    const QString config = dir.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    file.write(QStringLiteral("%YAML 1.1\n---\n"
                              "connection: &raw\n"
                              "  accepter: tcp,127.0.0.1,%1\n"
                              "  connector: serialdev,%3,9600n81,local\n"
                              "connection: &rfc2217\n"
                              "  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                              "  connector: serialdev,%3,1200e72,local,rtscts,xonxoff\n")
                   .arg(rawPort)
                   .arg(rfc2217Port)
                   .arg(pty)
                   .toUtf8());
    file.close();
    // In the foreground, logging to its own output; no UUCP lock files in /var/lock.
    process.start(QStringLiteral("ser2net"),
                  {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-u"),
                   QStringLiteral("-c"), config});
    if (!process.waitForStarted()) {
        error = process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(kStartWait);
    while (!accepts(rawPort) || !accepts(rfc2217Port)) {
        if (deadline.hasExpired() || process.state() != QProcess::Running) {
            error = QStringLiteral("ser2net did not listen: ")
                + QString::fromLocal8Bit(process.readAll());
            stop();
            return false;
        }
        QThread::msleep(kProbePause);
    }
    return true;
}

void Ser2netBridge::stop()
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
