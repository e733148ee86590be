#include "link/protocol.h"

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
    {C::PowerOn, "power-on", kPowerOn, A::Acknowledgement},
    {C::PowerOff, "power-off", kPowerOff, A::Acknowledgement},
    {C::Vga, "vga", kAnalogRgb, A::Acknowledgement},
    {C::Hdmi, "hdmi", kHdmi, A::Acknowledgement},
    {C::Dvi, "dvi", kDvi, A::Acknowledgement},
    {C::SVideo, "s-video", kSVideo, A::Acknowledgement},
    {C::Composite, "composite", kComposite, A::Acknowledgement},
    {C::SearchAuto, "search-auto", kSearchSource, A::Acknowledgement},
    {C::Brightness, "brightness", kBrightness, A::Acknowledgement},
    {C::Contrast, "contrast", kContrast, A::Acknowledgement},
    {C::ColorTemperature, "color-temperature", kColorTemperature, A::Acknowledgement},
    {C::Freeze, "freeze", kFreeze, A::Acknowledgement},
    {C::ShowHide, "show-hide", kHide, A::Acknowledgement},
    {C::Zoom, "zoom", kZoom, A::Acknowledgement},
    {C::Aspect16To9, "16-9", kAspect16To9, A::Acknowledgement},
    {C::Aspect4To3, "4-3", kAspect4To3, A::Acknowledgement},
    // The keystone group's "Up", "Down" and "Menu" are not the arrow pad's nor the
    // menu button's.
    {C::KeystoneUp, "keystone-up", kKeystoneUp, A::Acknowledgement},
    {C::KeystoneDown, "keystone-down", kKeystoneDown, A::Acknowledgement},
    {C::KeystoneMenu, "keystone-menu", kKeystoneMenu, A::Acknowledgement},
    {C::Menu, "menu", kMenu, A::Acknowledgement},
    {C::Up, "up", kUp, A::Acknowledgement},
    {C::Down, "down", kDown, A::Acknowledgement},
    {C::Left, "left", kLeft, A::Acknowledgement},
    {C::Right, "right", kRight, A::Acknowledgement},
    {C::Ok, "ok", kOk, A::Acknowledgement},
    {C::EKey, "e-key", kEKey, A::Acknowledgement},
    {C::LampTime, "lamp-time", kLampTime, A::Text},
    {C::Model, "model", kQueryModel, A::Text},
    {C::Resolution, "resolution", kResolution, A::Resolution},
    {C::Company, "company", kCompany, A::Acknowledgement},
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
    case Answer::Text:
        // Lamp states answer the window's own poll, and an acknowledgement tells nothing.
        answered = reply.kind == ReplyKind::Other;
        break;
    case Answer::Resolution:
        // A report too short to decode shows nothing in the log: no answer either.
        answered = reply.kind == ReplyKind::Resolution;
        break;
    case Answer::ErrorStatus:
        break; // no serial reply tells it
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
        return visibleText(line);
    }
}

namespace {
constexpr char16_t kReplacement = 0xfffd;

bool isDirectionControl(char32_t code)
{
    constexpr char32_t kArabicLetterMark = 0x061c;
    constexpr char32_t kLeftToRightMark = 0x200e;
    constexpr char32_t kRightToLeftMark = 0x200f;
    constexpr char32_t kFirstEmbedding = 0x202a; // LRE, RLE, PDF, LRO, RLO
    constexpr char32_t kLastEmbedding = 0x202e;
    constexpr char32_t kFirstIsolate = 0x2066; // LRI, RLI, FSI, PDI
    constexpr char32_t kLastIsolate = 0x2069;
    return code == kArabicLetterMark || code == kLeftToRightMark || code == kRightToLeftMark
        || (code >= kFirstEmbedding && code <= kLastEmbedding)
        || (code >= kFirstIsolate && code <= kLastIsolate);
}

bool isShown(char32_t code)
{
    switch (QChar::category(code)) {
    case QChar::Other_Control: // C0, DEL, C1 (NEL among them)
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:
        return false;
    default:
        return !QChar::isNonCharacter(code) && !isDirectionControl(code);
    }
}
} // namespace

QString visibleText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, text.at(i + 1));
            if (isShown(code)) {
                shown.append(c);
                shown.append(text.at(i + 1));
            } else {
                shown.append(QChar(kReplacement));
            }
            ++i;
        } else {
            shown.append(isShown(c.unicode()) ? c : QChar(kReplacement));
        }
    }
    return shown;
}

QString logLineText(const QString &line)
{
    if (line.startsWith(QLatin1Char('\n')))
        return QLatin1Char('\n') + visibleText(line.mid(1));
    return visibleText(line);
}

} // namespace protocol
