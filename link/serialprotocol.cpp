#include "link/serialprotocol.h"

namespace serialprotocol {

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

ByteResult feedByte(QString &line, char byte)
{
    if (byte == kCarriageReturn)
        return ByteResult::LineComplete;
    if (line.size() >= kMaxReplyLength)
        return ByteResult::Dropped;
    line.append(QChar(uchar(byte)));
    return ByteResult::Stored;
}

Reply classifyReply(const QString &line)
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

QString formatResolution(const Resolution &resolution)
{
    return QStringLiteral("%1 x %2 @ %3 Hz")
        .arg(resolution.width)
        .arg(resolution.height)
        .arg(resolution.refreshRate);
}

} // namespace serialprotocol
