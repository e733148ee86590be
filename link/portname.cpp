#include "link/portname.h"

#include "link/characters.h"

#include <QFile>

#include <algorithm>

namespace portname {

namespace {
constexpr char kRawScheme[] = "socket://";
constexpr char kRfc2217Scheme[] = "rfc2217://";
constexpr char kPjlinkScheme[] = "pjlink://";
constexpr int kMaxHostLength = 253; // the longest name the DNS can hold
constexpr int kMaxPortDigits = 5;
constexpr uint kMaxPort = 65535;
} // namespace

QString portLocation(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./"))
        || name.startsWith(QLatin1String("../")))
        return name;
    return QStringLiteral("/dev/") + name;
}

bool hasControlCharacter(const QString &name)
{
    return std::any_of(name.cbegin(), name.cend(),
                       [](QChar c) { return characters::isControl(c.unicode()); });
}

namespace {
std::optional<NetworkPortName> refuse(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return std::nullopt;
}

// The scheme's length including "://", or 0 when the name does not start with one.
int schemeLength(const QString &name)
{
    const int end = int(name.indexOf(QLatin1String("://")));
    if (end <= 0 || !name.at(0).isLetter())
        return 0;
    for (int i = 0; i < end; ++i) {
        const QChar c = name.at(i);
        if (!characters::isAsciiLetterOrDigit(c.unicode()) && c != QLatin1Char('+')
            && c != QLatin1Char('-') && c != QLatin1Char('.'))
            return 0;
    }
    return end + 3;
}
} // namespace

bool isNetworkPortName(const QString &name)
{
    return schemeLength(name) > 0;
}

namespace {
// The host and port after a scheme, by the bridges' rules; a name without a port has
// `defaultPort` when there is one.
std::optional<NetworkPortName> parseAddress(const QString &name, NetworkPortName parsed,
                                            quint16 defaultPort, QString *reason)
{
    if (hasControlCharacter(name))
        return refuse(reason, QStringLiteral("The name holds a control character"));
    const QString rest = name.mid(schemeLength(name));
    if (rest.contains(QLatin1Char(' ')))
        return refuse(reason, QStringLiteral("The name holds a space"));
    if (defaultPort != 0 && rest.isEmpty())
        return refuse(reason, QStringLiteral("No host in the name"));

    // The host ends at the last colon, or after the brackets of an IPv6 address.
    int portStart = 0;
    bool portGiven = true;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = int(rest.indexOf(QLatin1Char(']')));
        if (close < 0)
            return refuse(reason, QStringLiteral("The IPv6 address has no closing bracket"));
        parsed.host = rest.mid(1, close - 1);
        const bool address = parsed.host.contains(QLatin1Char(':'))
            && std::all_of(parsed.host.cbegin(), parsed.host.cend(), [](QChar c) {
                                 return characters::isHexDigit(c.unicode()) || c == QLatin1Char(':')
                                     || c == QLatin1Char('.');
                             });
        if (!address)
            return refuse(reason, QStringLiteral("Between the brackets is no IPv6 address"));
        portGiven = close + 1 < rest.size() || defaultPort == 0;
        if (portGiven && rest.mid(close + 1, 1) != QLatin1String(":"))
            return refuse(reason, QStringLiteral("No port number after the host"));
        portStart = close + 2;
    } else {
        int colon = int(rest.lastIndexOf(QLatin1Char(':')));
        if (colon < 0 && defaultPort == 0)
            return refuse(reason, QStringLiteral("No port number after the host"));
        portGiven = colon >= 0;
        if (!portGiven)
            colon = int(rest.size());
        parsed.host = rest.left(colon);
        if (parsed.host.contains(QLatin1Char(':')))
            return refuse(reason, QStringLiteral("An IPv6 address must be in brackets"));
        const bool hostName = std::all_of(parsed.host.cbegin(), parsed.host.cend(), [](QChar c) {
            return characters::isAsciiLetterOrDigit(c.unicode()) || c == QLatin1Char('-')
                || c == QLatin1Char('.') || c == QLatin1Char('_');
        });
        if (!hostName)
            return refuse(reason, QStringLiteral("The host holds a character no host name has"));
        portStart = colon + 1;
    }
    if (parsed.host.isEmpty())
        return refuse(reason, QStringLiteral("No host before the port number"));
    if (parsed.host.size() > kMaxHostLength)
        return refuse(reason, QStringLiteral("The host name is too long"));
    if (!portGiven) {
        parsed.port = defaultPort;
        return parsed;
    }

    const QString port = rest.mid(portStart);
    if (port.isEmpty())
        return refuse(reason, QStringLiteral("No port number after the host"));
    const bool digits = std::all_of(port.cbegin(), port.cend(),
                                    [](QChar c) { return characters::isDigit(c.unicode()); });
    if (!digits)
        return refuse(reason, QStringLiteral("The port is not a number"));
    const uint number = port.size() <= kMaxPortDigits ? port.toUInt() : kMaxPort + 1;
    if (number == 0 || number > kMaxPort)
        return refuse(reason, QStringLiteral("The port number must be 1 to 65535"));
    parsed.port = quint16(number);
    return parsed;
}
} // namespace

std::optional<NetworkPortName> parseNetworkPortName(const QString &name, QString *reason)
{
    NetworkPortName parsed;
    if (name.startsWith(QLatin1String(kRawScheme), Qt::CaseInsensitive))
        parsed.bridge = Bridge::Raw;
    else if (name.startsWith(QLatin1String(kRfc2217Scheme), Qt::CaseInsensitive))
        parsed.bridge = Bridge::Rfc2217;
    else
        return refuse(reason, QStringLiteral("Only socket:// and rfc2217:// lead to the network"));
    return parseAddress(name, parsed, 0, reason);
}

bool isPjlinkName(const QString &name)
{
    return name.startsWith(QLatin1String(kPjlinkScheme), Qt::CaseInsensitive);
}

std::optional<NetworkPortName> parsePjlinkName(const QString &name, QString *reason)
{
    if (!isPjlinkName(name))
        return refuse(reason, QStringLiteral("The name does not start with pjlink://"));
    return parseAddress(name, NetworkPortName {}, kPjlinkPort, reason);
}

QString canonicalPjlinkName(const NetworkPortName &name)
{
    const QString host = name.host.toLower();
    QString canonical = QLatin1String(kPjlinkScheme)
        + (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host);
    if (name.port != kPjlinkPort)
        canonical += QLatin1Char(':') + QString::number(name.port);
    return canonical;
}

QString canonicalName(const NetworkPortName &name)
{
    const QString host = name.host.toLower();
    const QString bracketed
        = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    const char *scheme = name.bridge == Bridge::Raw ? kRawScheme : kRfc2217Scheme;
    return QLatin1String(scheme) + bracketed + QLatin1Char(':') + QString::number(name.port);
}

bool reachesSystemIntact(const QString &name)
{
    return QFile::decodeName(QFile::encodeName(name)) == name;
}

} // namespace portname
