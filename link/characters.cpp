#include "link/characters.h"

namespace characters {

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

QString escapedBytes(const QByteArray &bytes)
{
    constexpr int kFirstAscii = 0x20;
    constexpr int kLastAscii = 0x7e;
    constexpr int kHex = 16;
    QString text;
    for (const char byte : bytes) {
        const int value = uchar(byte);
        if (byte == '\r')
            text += QStringLiteral("\\r");
        else if (byte == '\n')
            text += QStringLiteral("\\n");
        else if (value < kFirstAscii || value > kLastAscii)
            text += QStringLiteral("\\x%1").arg(value, 2, kHex, QLatin1Char('0'));
        else
            text += QChar(value);
    }
    return text;
}

} // namespace characters
