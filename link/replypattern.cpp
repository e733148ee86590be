#include "link/replypattern.h"

#include "link/characters.h"

#include <algorithm>

namespace {
constexpr int kByteShift = 256;
constexpr int kDecimal = 10;
constexpr int kHexBase = 16;

struct Placeholder
{
    const char *name;
    ReplyPattern::Capture capture;
    int width; // bytes, or 0 for decimal digits
};

constexpr Placeholder kPlaceholders[] = {
    {"n", ReplyPattern::Capture::LampNumber, 0},
    {"hours", ReplyPattern::Capture::Hours, 0},
    {"width", ReplyPattern::Capture::Width, 0},
    {"height", ReplyPattern::Capture::Height, 0},
    {"rate", ReplyPattern::Capture::Rate, 0},
    {"width16", ReplyPattern::Capture::Width16, 2},
    {"height16", ReplyPattern::Capture::Height16, 2},
    {"rate-code", ReplyPattern::Capture::RateCode, 1},
};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

int hexValue(char c)
{
    if (characters::isDigit(uchar(c)))
        return c - '0';
    return lower(c) - 'a' + kDecimal;
}
} // namespace

ReplyPattern ReplyPattern::parse(const QString &text, bool anyCase, QString *error)
{
    ReplyPattern pattern;
    pattern.source = text;
    pattern.anyCase = anyCase;
    error->clear();
    const QByteArray bytes = text.toUtf8();
    QList<Element> *into = &pattern.head;
    for (int i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        Element element;
        if (c == '*') {
            if (pattern.hasStar) {
                *error = QStringLiteral("more than one \"*\" in a pattern");
                return {};
            }
            pattern.hasStar = true;
            into = &pattern.tail;
            continue;
        }
        if (c == '?') {
            element.kind = Kind::AnyByte;
        } else if (c == '{') {
            const int close = bytes.indexOf('}', i);
            const QByteArray name = close < 0 ? QByteArray() : bytes.mid(i + 1, close - i - 1);
            const auto found = std::find_if(std::begin(kPlaceholders), std::end(kPlaceholders),
                                            [&](const Placeholder &p) { return name == p.name; });
            if (found == std::end(kPlaceholders)) {
                *error = close < 0
                    ? QStringLiteral("\"{\" without \"}\" (write \\{ for the "
                                     "character)")
                    : QStringLiteral("unknown placeholder {%1}").arg(QString::fromUtf8(name));
                return {};
            }
            element.kind = found->width == 0 ? Kind::Digits
                : found->width == 2          ? Kind::TwoBytes
                                             : Kind::OneByte;
            element.capture = found->capture;
            i = close;
        } else if (c == '\\') {
            if (i + 1 >= bytes.size()) {
                *error = QStringLiteral("\"\\\" at the end of a pattern");
                return {};
            }
            const char next = bytes.at(++i);
            if (next == 'x') {
                if (i + 2 >= bytes.size() || !characters::isHexDigit(uchar(bytes.at(i + 1)))
                    || !characters::isHexDigit(uchar(bytes.at(i + 2)))) {
                    *error = QStringLiteral("\\x needs two hexadecimal digits");
                    return {};
                }
                element.byte
                    = char(hexValue(bytes.at(i + 1)) * kHexBase + hexValue(bytes.at(i + 2)));
                i += 2;
            } else if (next == 's') {
                element.byte = ' '; // the value is trimmed: a space at either end needs it
            } else if (next == '\\' || next == '*' || next == '?' || next == '{' || next == '}'
                       || next == '|') {
                element.byte = next;
            } else {
                *error = QStringLiteral("unknown escape \\%1").arg(QLatin1Char(next));
                return {};
            }
        } else {
            element.byte = c;
        }
        // Digits are read greedily: what follows them must not be a digit, or they
        // would never leave it one.
        if (!into->isEmpty() && into->constLast().kind == Kind::Digits
            && (element.kind == Kind::Digits
                || (element.kind == Kind::Literal && characters::isDigit(uchar(element.byte))))) {
            *error = QStringLiteral("a digit or number right after a number placeholder");
            return {};
        }
        into->append(element);
    }
    return pattern;
}

bool ReplyPattern::matchElement(const Element &element, const QByteArray &line, int &at, int step,
                                bool anyCase, Match &result)
{
    // Forwards, at is the next byte to read; backwards, one past it.
    const auto within = [&](int count) {
        return step > 0 ? at + count <= line.size() : at - count >= 0;
    };
    const auto byteAt = [&](int offset) {
        return uchar(step > 0 ? line.at(at + offset) : line.at(at - 1 - offset));
    };
    switch (element.kind) {
    case Kind::Literal: {
        if (!within(1))
            return false;
        const char c = char(byteAt(0));
        if (c != element.byte && !(anyCase && lower(c) == lower(element.byte)))
            return false;
        at += step;
        return true;
    }
    case Kind::AnyByte:
        if (!within(1))
            return false;
        at += step;
        return true;
    case Kind::Digits: {
        int count = 0;
        while (within(count + 1) && characters::isDigit(byteAt(count)))
            if (++count > kMaxDigits)
                return false;
        if (count == 0)
            return false;
        const int first = step > 0 ? at : at - count;
        result.kinds.append(element.capture);
        result.values.append(line.mid(first, count).toInt());
        at += step * count;
        return true;
    }
    case Kind::TwoBytes:
    case Kind::OneByte: {
        const int count = element.kind == Kind::TwoBytes ? 2 : 1;
        if (!within(count))
            return false;
        const int first = step > 0 ? at : at - count;
        int value = 0;
        for (int k = 0; k < count; ++k)
            value = value * kByteShift + uchar(line.at(first + k));
        result.kinds.append(element.capture);
        result.values.append(value);
        at += step * count;
        return true;
    }
    }
    return false;
}

ReplyPattern::Match ReplyPattern::match(const QByteArray &line) const
{
    Match result;
    int at = 0;
    for (const Element &element : head)
        if (!matchElement(element, line, at, 1, anyCase, result))
            return {};
    if (!hasStar) {
        result.matched = at == line.size();
        return result.matched ? result : Match();
    }
    Match backwards;
    int end = int(line.size());
    for (auto it = tail.crbegin(); it != tail.crend(); ++it)
        if (!matchElement(*it, line, end, -1, anyCase, backwards))
            return {};
    if (end < at)
        return {};
    std::reverse(backwards.kinds.begin(), backwards.kinds.end());
    std::reverse(backwards.values.begin(), backwards.values.end());
    result.kinds += backwards.kinds;
    result.values += backwards.values;
    result.rest = line.mid(at, end - at);
    result.matched = true;
    return result;
}

void ReplyPattern::render(const Element &element, int value, QByteArray *line)
{
    switch (element.kind) {
    case Kind::Literal:
        line->append(element.byte);
        return;
    case Kind::AnyByte:
        line->append(kAnyByte);
        return;
    case Kind::Digits:
        line->append(QByteArray::number(value));
        return;
    case Kind::TwoBytes:
        line->append(char((value / kByteShift) % kByteShift)).append(char(value % kByteShift));
        return;
    case Kind::OneByte:
        line->append(char(value % kByteShift));
        return;
    }
}

QByteArray ReplyPattern::sample(const QList<int> &values, const QByteArray &star) const
{
    QByteArray line;
    int next = 0;
    const auto renderAll = [&](const QList<Element> &elements) {
        for (const Element &element : elements) {
            const bool placeholder = element.kind != Kind::Literal && element.kind != Kind::AnyByte;
            render(element, placeholder ? values.value(next++) : 0, &line);
        }
    };
    renderAll(head);
    if (hasStar)
        line += star;
    renderAll(tail);
    return line;
}

QList<ReplyPattern::Capture> ReplyPattern::captures() const
{
    QList<Capture> kinds;
    for (const QList<Element> *elements : {&head, &tail})
        for (const Element &element : *elements)
            if (element.kind != Kind::Literal && element.kind != Kind::AnyByte)
                kinds.append(element.capture);
    return kinds;
}
