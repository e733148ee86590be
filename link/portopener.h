#ifndef PORTOPENER_H
#define PORTOPENER_H

#include "link/portdevice.h"
#include "link/serialline.h"

#include <QString>

#include <memory>

class NetworkPort;
class PjlinkPort;

// The one way a port is opened by name: "socket://HOST:PORT" and "rfc2217://HOST:PORT"
// lead to a bridge's port, "pjlink://HOST[:PORT]" to a projector that speaks PJLink on the
// network, any other name to a serial port of this computer. A serial
// port is open (or refused) as soon as the opener is made; a bridge's connection is
// made in steps that never wait, moved on by advance() until it stands or fails, within
// a few seconds. A serial port and an rfc2217:// bridge get the line settings given; a
// raw socket:// bridge has its own, and PJLink has none. A name with a control
// character never reaches the system.
class PortOpener
{
public:
    enum class State { Pending, Open, Failed };

    explicit PortOpener(const QString &name, const SerialLine &line = {});
    ~PortOpener();
    PortOpener(const PortOpener &) = delete;
    PortOpener &operator=(const PortOpener &) = delete;

    // Looks at the attempt once, waiting for nothing; Open and Failed are final.
    State advance();
    State state() const { return current; }
    // The open port, once: the opener holds nothing afterwards.
    std::unique_ptr<PortDevice> takePort();
    // Why the attempt failed, starting with where the name leads.
    QString failure() const { return reason; }
    const QString &name() const { return portName; }

    // Why a name can never lead to a port (a control character, a name the system would
    // get altered, a malformed network name); empty for a name that may. Decided from the
    // name alone: nothing is looked up or opened.
    static QString refusal(const QString &name);
    // Where a name leads (/dev/ttyUSB0, \\.\COM3, socket://10.0.0.5:4001, pjlink://hall-a),
    // opening nothing. A refused name leads nowhere: it is given back as it is.
    static QString locationOf(const QString &name);
    // The device a name leads to now, in one spelling for every name of it: the device
    // numbers on Linux (a link, /dev/./x and pts/0 lead to the one they name), the
    // system's device on Windows (case and the \\.\ prefix do not count), a bridge's
    // address in its canonical spelling. Equal to key() of the port opened under it. A
    // refused name never reaches the system: it is its own key.
    static QString keyOf(const QString &name);

private:
    // Moves a bridge's or a projector's opening on once; the port is taken when it stands.
    template<typename Pending>
    State moveOn(std::unique_ptr<Pending> &pending);

    QString portName;
    State current = State::Pending;
    std::unique_ptr<PortDevice> port;
    std::unique_ptr<NetworkPort> connection;
    std::unique_ptr<PjlinkPort> projector;
    QString reason;
};

#endif // PORTOPENER_H
