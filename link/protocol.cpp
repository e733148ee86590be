#include "protocol.h"

#include <algorithm>

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

} // namespace protocol
