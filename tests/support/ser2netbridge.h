#ifndef SER2NETBRIDGE_H
#define SER2NETBRIDGE_H

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A real ser2net serving one pseudo-terminal on 127.0.0.1: one raw TCP accepter and one
// Telnet RFC 2217 accepter, each on a free port, configured from a file in a private
// folder. Stopped by its process id; never points at a device the test did not create.
class Ser2netBridge
{
public:
    // The RFC 2217 accepter serves the line as 1200 baud, 7 data bits, even parity,
    // 2 stop bits and both kinds of flow control until a client asks for another.
    explicit Ser2netBridge(const QString &ptyPath);
    ~Ser2netBridge();

    // Starts it and waits until both accepters take connections; false with the reason.
    bool start();
    // Ends it (SIGTERM, then SIGKILL) and waits for it.
    void stop();
    QString errorString() const { return error; }

    QString rawName() const;
    QString rfc2217Name() const;

private:
    QTemporaryDir dir;
    QString pty;
    quint16 rawPort = 0;
    quint16 rfc2217Port = 0;
    QProcess process;
    QString error;
};

// A TCP port of 127.0.0.1 on which nothing listens at the moment.
quint16 freeLoopbackPort();

} // namespace testsupport

#endif // SER2NETBRIDGE_H
