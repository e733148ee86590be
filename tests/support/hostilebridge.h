#ifndef HOSTILEBRIDGE_H
#define HOSTILEBRIDGE_H

#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>

namespace testsupport {

// A bridge of the test's own on 127.0.0.1 that misbehaves as told, on a thread of its own
// so that an open that waits does not hold it: it takes one connection, sends `greeting`
// once, then `repeated` over and over for as long as the connection takes it. It reads and
// drops what comes when `reads`, else never reads. It ends with the object.
class HostileBridge
{
public:
    HostileBridge(const QByteArray &greeting, const QByteArray &repeated, bool reads);
    ~HostileBridge();
    HostileBridge(const HostileBridge &) = delete;
    HostileBridge &operator=(const HostileBridge &) = delete;

    // 0 when it could not listen.
    quint16 port() const { return listenPort; }
    QString rfc2217Name() const;

private:
    void serve(const QByteArray &greeting, const QByteArray &repeated, bool reads);

    int listener = -1;
    quint16 listenPort = 0;
    std::atomic<int> peer {-1};
    std::atomic<bool> stopping {false};
    std::thread server;
};

} // namespace testsupport

#endif // HOSTILEBRIDGE_H
