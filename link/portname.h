#ifndef PORTNAME_H
#define PORTNAME_H

#include <QString>
#include <QtGlobal>

#include <optional>

// The names a port is chosen by, free of ports: serial port names, the network forms
// of a bridge's port, and what is refused before any name reaches the system.
namespace portname {

// Where a port name leads on Linux: a name starting with "/", "./" or "../" is a path
// as typed, any other name is looked for in /dev (ttyUSB0 is /dev/ttyUSB0).
QString portLocation(const QString &name);

// True when the name holds a control character: C0 (below U+0020), DEL (U+007F) or C1
// (U+0080 to U+009F). Such a name is never handed to the system (a NUL would cut it
// short) nor echoed into the log (a carriage return would forge a line).
bool hasControlCharacter(const QString &name);

// A port on a serial-to-network bridge: "socket://HOST:PORT" carries the line's bytes
// as they are, "rfc2217://HOST:PORT" speaks Telnet with the serial port control option.
// HOST is a name, an IPv4 address or an IPv6 address in brackets.
enum class Bridge { Raw, Rfc2217 };

struct NetworkPortName
{
    Bridge bridge = Bridge::Raw;
    QString host; // without the brackets of an IPv6 address
    quint16 port = 0;
};

// True when the name is written as a URL ("scheme://..."): such a name never leads to
// a device, whether or not its scheme is one the link knows.
bool isNetworkPortName(const QString &name);

// The bridge, host and port of a network port name; nothing, with the reason in
// *reason, for a name that is not one of the two forms.
std::optional<NetworkPortName> parseNetworkPortName(const QString &name, QString *reason = nullptr);

// The network name in its one spelling: the scheme in lower case, the host as written
// but lower-cased, IPv6 in brackets, the port without leading zeros.
QString canonicalName(const NetworkPortName &name);

// A projector that speaks PJLink itself on the network: "pjlink://HOST[:PORT]", HOST as a
// bridge's, PORT 4352 when left out. The connection is raw TCP (Bridge::Raw).
constexpr quint16 kPjlinkPort = 4352;

// True for a name of the pjlink:// form, well formed or not.
bool isPjlinkName(const QString &name);

// The host and port of a pjlink:// name; nothing, with the reason in *reason, for a
// malformed one (the bridges' rules and reasons).
std::optional<NetworkPortName> parsePjlinkName(const QString &name, QString *reason = nullptr);

// "pjlink://host", with ":PORT" only when it is not 4352: every spelling of one projector
// gives the same name.
QString canonicalPjlinkName(const NetworkPortName &name);

// True when the name survives the way to the system and back unchanged (Linux file names
// are bytes in the locale's encoding): a name that does not could open another device.
bool reachesSystemIntact(const QString &name);

} // namespace portname

#endif // PORTNAME_H
