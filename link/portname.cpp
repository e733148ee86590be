#include "portname.h"

#include <QFile>

#include <algorithm>

namespace portname {

namespace {
constexpr char kRawScheme[] = "socket://";
constexpr char kRfc2217Scheme[] = "rfc2217://";
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
    constexpr char16_t kFirstPrintable = 0x20;
    constexpr char16_t kDelete = 0x7f; // C1 controls follow it up to kLastC1
    constexpr char16_t kLastC1 = 0x9f;
    return std::any_of(name.cbegin(), name.cend(), [](QChar c) {
        return c.unicode() < kFirstPrintable || (c.unicode() >= kDelete && c.unicode() <= kLastC1);
    });
}

namespace {
bool isAsciiLetterOrDigit(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
        || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

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
        if (!isAsciiLetterOrDigit(c) && c != QLatin1Char('+') && c != QLatin1Char('-')
            && c != QLatin1Char('.'))
            return 0;
    }
    return end + 3;
}
} // namespace

bool isNetworkPortName(const QString &name)
{
    return schemeLength(name) > 0;
}

std::optional<NetworkPortName> parseNetworkPortName(const QString &name, QString *reason)
{
    NetworkPortName parsed;
    if (name.startsWith(QLatin1String(kRawScheme), Qt::CaseInsensitive))
        parsed.bridge = Bridge::Raw;
    else if (name.startsWith(QLatin1String(kRfc2217Scheme), Qt::CaseInsensitive))
        parsed.bridge = Bridge::Rfc2217;
    else
        return refuse(reason, QStringLiteral("Only socket:// and rfc2217:// lead to the network"));
    if (hasControlCharacter(name))
        return refuse(reason, QStringLiteral("The name holds a control character"));
    const QString rest = name.mid(schemeLength(name));
    if (rest.contains(QLatin1Char(' ')))
        return refuse(reason, QStringLiteral("The name holds a space"));

    // The host ends at the last colon, or after the brackets of an IPv6 address.
    int portStart = 0;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = int(rest.indexOf(QLatin1Char(']')));
        if (close < 0)
            return refuse(reason, QStringLiteral("The IPv6 address has no closing bracket"));
        parsed.host = rest.mid(1, close - 1);
        const bool address
            = parsed.host.contains(QLatin1Char(':'))
            && std::all_of(parsed.host.cbegin(), parsed.host.cend(), [](QChar c) {
                   return isHexDigit(c) || c == QLatin1Char(':') || c == QLatin1Char('.');
               });
        if (!address)
            return refuse(reason, QStringLiteral("Between the brackets is no IPv6 address"));
        if (rest.mid(close + 1, 1) != QLatin1String(":"))
            return refuse(reason, QStringLiteral("No port number after the host"));
        portStart = close + 2;
    } else {
        const int colon = int(rest.lastIndexOf(QLatin1Char(':')));
        if (colon < 0)
            return refuse(reason, QStringLiteral("No port number after the host"));
        parsed.host = rest.left(colon);
        if (parsed.host.contains(QLatin1Char(':')))
            return refuse(reason, QStringLiteral("An IPv6 address must be in brackets"));
        const bool hostName = std::all_of(parsed.host.cbegin(), parsed.host.cend(), [](QChar c) {
            return isAsciiLetterOrDigit(c) || c == QLatin1Char('-') || c == QLatin1Char('.')
                || c == QLatin1Char('_');
        });
        if (!hostName)
            return refuse(reason, QStringLiteral("The host holds a character no host name has"));
        portStart = colon + 1;
    }
    if (parsed.host.isEmpty())
        return refuse(reason, QStringLiteral("No host before the port number"));
    if (parsed.host.size() > kMaxHostLength)
        return refuse(reason, QStringLiteral("The host name is too long"));

    const QString port = rest.mid(portStart);
    if (port.isEmpty())
        return refuse(reason, QStringLiteral("No port number after the host"));
    const bool digits = std::all_of(port.cbegin(), port.cend(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (!digits)
        return refuse(reason, QStringLiteral("The port is not a number"));
    const uint number = port.size() <= kMaxPortDigits ? port.toUInt() : kMaxPort + 1;
    if (number == 0 || number > kMaxPort)
        return refuse(reason, QStringLiteral("The port number must be 1 to 65535"));
    parsed.port = quint16(number);
    return parsed;
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
