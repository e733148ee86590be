#include "ser2netbridge.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QThread>

namespace testsupport {

namespace {
constexpr int kStartWait = 10000; // ms for ser2net to start listening
constexpr int kStopWait = 5000; // ms for it to end after SIGTERM
constexpr int kProbePause = 20; // ms between two looks

constexpr int kHexBase = 16;
const char kListenState[] = "0A"; // TCP_LISTEN in /proc/net/tcp

// Whether something listens on the loopback port, told by the kernel's socket table: a
// probing connection would make ser2net open the line, and its late close would give
// the line the settings back that it found, over those a test's own connection set.
bool listening(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    table.readLine(); // the heading
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        // "sl local_address rem_address st ...", the address as HEXIP:HEXPORT
        if (fields.size() < 4 || fields.at(3) != kListenState)
            continue;
        const QByteArray local = fields.at(1);
        bool ok = false;
        if (local.mid(local.indexOf(':') + 1).toUInt(&ok, kHexBase) == port && ok)
            return true;
    }
    return false;
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
    while (!listening(rawPort) || !listening(rfc2217Port)) {
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
