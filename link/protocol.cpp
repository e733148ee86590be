#include "protocol.h"

#include <algorithm>
#include <iterator>

namespace protocol {

namespace {
constexpr int kResolutionMinimum = 9; // "Res", one unread character, five report bytes
constexpr int kWidthHigh = 4;
constexpr int kWidthLow = 5;
constexpr int kHeightHigh = 6;
constexpr int kHeightLow = 7;
constexpr int kRateCode = 8;
constexpr int kByteShift = 256;
constexpr int kRates[] = {50, 60, 70, 72, 75, 85, 120};
constexpr int kRateCodes = int(sizeof(kRates) / sizeof(kRates[0]));

constexpr char kRawScheme[] = "socket://";
constexpr char kRfc2217Scheme[] = "rfc2217://";
constexpr int kMaxHostLength = 253; // the longest name the DNS can hold
constexpr int kMaxPortDigits = 5;
constexpr uint kMaxPort = 65535;

int byteAt(const QString &line, int index)
{
    return line.at(index).unicode() & 0xff;
}
} // namespace

QByteArray frame(const char *text, unsigned length)
{
    QByteArray bytes(text, int(length));
    bytes.append(kCarriageReturn);
    return bytes;
}

QByteArray frame(const char *text)
{
    return frame(text, unsigned(qstrlen(text)));
}

namespace {
using A = Answer;
using C = Command;
constexpr NamedCommand kCommands[] = {
    {C::PowerOn, "power-on", kPowerOn, "startProjector", A::Acknowledgement},
    {C::PowerOff, "power-off", kPowerOff, "powerOff", A::Acknowledgement},
    {C::Vga, "vga", kAnalogRgb, "analogRGB", A::Acknowledgement},
    {C::Hdmi, "hdmi", kHdmi, "hdmi", A::Acknowledgement},
    {C::Dvi, "dvi", kDvi, "dvi", A::Acknowledgement},
    {C::SVideo, "s-video", kSVideo, "sVideo", A::Acknowledgement},
    {C::Composite, "composite", kComposite, "compositeVideo", A::Acknowledgement},
    {C::SearchAuto, "search-auto", kSearchSource, "searchVideo", A::Acknowledgement},
    {C::Brightness, "brightness", kBrightness, "brightness", A::Acknowledgement},
    {C::Contrast, "contrast", kContrast, "contrast", A::Acknowledgement},
    {C::ColorTemperature, "color-temperature", kColorTemperature, "colorTemperature",
     A::Acknowledgement},
    {C::Freeze, "freeze", kFreeze, "freeze", A::Acknowledgement},
    {C::ShowHide, "show-hide", kHide, "hide", A::Acknowledgement},
    {C::Zoom, "zoom", kZoom, "zoom", A::Acknowledgement},
    {C::Aspect16To9, "16-9", kAspect16To9, "aspect16_9", A::Acknowledgement},
    {C::Aspect4To3, "4-3", kAspect4To3, "aspect4_3", A::Acknowledgement},
    // The keystone group's "Up", "Down" and "Menu" against the arrow pad's and the
    // menu button's.
    {C::KeystoneUp, "keystone-up", kKeystoneUp, "keystoneUpp", A::Acknowledgement},
    {C::KeystoneDown, "keystone-down", kKeystoneDown, "keystoneDown", A::Acknowledgement},
    {C::KeystoneMenu, "keystone-menu", kKeystoneMenu, "keystone", A::Acknowledgement},
    {C::Menu, "menu", kMenu, "menu", A::Acknowledgement},
    {C::Up, "up", kUp, "up", A::Acknowledgement},
    {C::Down, "down", kDown, "down", A::Acknowledgement},
    {C::Left, "left", kLeft, "left", A::Acknowledgement},
    {C::Right, "right", kRight, "right", A::Acknowledgement},
    {C::Ok, "ok", kOk, "ok", A::Acknowledgement},
    {C::EKey, "e-key", kEKey, "eKey", A::Acknowledgement},
    {C::LampTime, "lamp-time", kLampTime, "queryLampTime", A::LampTime},
    {C::Model, "model", kQueryModel, "queryModel", A::Model},
    {C::Resolution, "resolution", kResolution, "resolution", A::Resolution},
    {C::Company, "company", kCompany, "company", A::Acknowledgement},
};
static_assert(int(std::size(kCommands)) == kCommandCount, "one entry per command");

constexpr bool inOrder()
{
    for (int i = 0; i < kCommandCount; ++i)
        if (int(kCommands[i].id) != i)
            return false;
    return true;
}
static_assert(inOrder(), "the table is indexed by Command");
} // namespace

const NamedCommand &command(Command id)
{
    return kCommands[int(id)];
}

const NamedCommand *commandTable()
{
    return kCommands;
}

const NamedCommand *commandNamed(const QString &name)
{
    for (const NamedCommand &entry : kCommands)
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

QStringList commandNames()
{
    QStringList names;
    for (const NamedCommand &entry : kCommands)
        names.append(QLatin1String(entry.name));
    return names;
}

ByteResult feedByte(QString &line, char byte)
{
    if (byte == kCarriageReturn)
        return ByteResult::LineComplete;
    if (line.size() >= kMaxReplyLength)
        return ByteResult::Dropped;
    line.append(QChar(uchar(byte)));
    return ByteResult::Stored;
}

Reply parseReply(const QString &line)
{
    Reply reply;
    const QString upper = line.toUpper();
    if (upper == QLatin1String("LAMP 0")) {
        reply.kind = ReplyKind::LampOff;
    } else if (upper == QLatin1String("LAMP 1")) {
        reply.kind = ReplyKind::LampOn;
    } else if (line == QLatin1String("*001")) {
        reply.kind = ReplyKind::NotAvailable;
    } else if (line == QLatin1String("*000")) {
        reply.kind = ReplyKind::Accepted;
    } else if (line.startsWith(QLatin1String("Res"))) {
        if (line.size() < kResolutionMinimum) {
            reply.kind = ReplyKind::ShortResolution;
        } else {
            reply.kind = ReplyKind::Resolution;
            reply.resolution.width
                = byteAt(line, kWidthHigh) * kByteShift + byteAt(line, kWidthLow);
            reply.resolution.height
                = byteAt(line, kHeightHigh) * kByteShift + byteAt(line, kHeightLow);
            reply.resolution.refreshRate = refreshRate(byteAt(line, kRateCode));
        }
    }
    return reply;
}

int refreshRate(int code)
{
    return code >= 0 && code < kRateCodes ? kRates[code] : 0;
}

QString resolutionText(const Resolution &resolution)
{
    return QStringLiteral("%1 x %2 @ %3 Hz")
        .arg(resolution.width)
        .arg(resolution.height)
        .arg(resolution.refreshRate);
}

Verdict judgeReply(Answer awaited, const Reply &reply)
{
    if (reply.kind == ReplyKind::NotAvailable)
        return Verdict::NotAvailable;
    bool answered = false;
    switch (awaited) {
    case Answer::Acknowledgement:
        answered = reply.kind == ReplyKind::Accepted;
        break;
    case Answer::LampState:
        answered = reply.kind == ReplyKind::LampOn || reply.kind == ReplyKind::LampOff;
        break;
    case Answer::LampTime:
    case Answer::Model:
        // Lamp states answer the window's own poll, and an acknowledgement tells nothing.
        answered = reply.kind == ReplyKind::Other;
        break;
    case Answer::Resolution:
        // A report too short to decode shows nothing in the log: no answer either.
        answered = reply.kind == ReplyKind::Resolution;
        break;
    }
    return answered ? Verdict::Answered : Verdict::Pending;
}

QString answerText(const Reply &reply, const QString &line)
{
    switch (reply.kind) {
    case ReplyKind::LampOn:
        return QStringLiteral("on");
    case ReplyKind::LampOff:
        return QStringLiteral("off");
    case ReplyKind::Resolution:
        return resolutionText(reply.resolution);
    default:
        return line;
    }
}

QColor lampOffColor()
{
    return QColor(255, 0, 0, 255);
}

QColor lampOnColor()
{
    return QColor(0, 255, 0, 255);
}

QColor neutralColor()
{
    return QColor(200, 200, 0, 255);
}

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

} // namespace protocol
