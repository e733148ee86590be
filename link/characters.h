#ifndef CHARACTERS_H
#define CHARACTERS_H

#include <QString>

// The character classes the link's grammars and names are read by, and text a projector
// sent made fit for display. Names and protocols are ASCII: a class here never takes a
// letter or digit of another script, whatever the locale says.
namespace characters {

constexpr bool isDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}

constexpr bool isHexDigit(char32_t c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

constexpr bool isAsciiLetterOrDigit(char32_t c)
{
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// C0 (below U+0020), DEL (U+007F) or C1 (U+0080 to U+009F).
constexpr bool isControl(char32_t c)
{
    constexpr char32_t kFirstPrintable = 0x20;
    constexpr char32_t kDelete = 0x7f; // C1 controls follow it up to kLastC1
    constexpr char32_t kLastC1 = 0x9f;
    return c < kFirstPrintable || (c >= kDelete && c <= kLastC1);
}

// Text a projector sent, made fit for display: one line of visible characters. Control
// characters, line and paragraph separators, noncharacters, unpaired surrogates and the
// direction controls (which would turn the rest of a log line around) each become
// U+FFFD, so that no reply can forge a line of the log or disguise one.
QString visibleText(const QString &text);
// A reply line for the log: as visibleText(), but for the line feed a projector that ends
// its lines with CR LF leaves at the start of the next, which the log shows as the line
// break it is (a break at the start cannot forge a line: nothing stands before it).
QString logLineText(const QString &line);
// Bytes as printable ASCII, for frames and binary replies: CR and LF as \r and \n, every
// other byte outside printable ASCII as \xHH. Nothing in it can forge or break a line.
QString escapedBytes(const QByteArray &bytes);

} // namespace characters

#endif // CHARACTERS_H
