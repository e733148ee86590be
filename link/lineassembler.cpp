#include "link/lineassembler.h"

#include "link/serialprotocol.h"

#include <algorithm>
#include <utility>

namespace {
bool isLineBreak(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}
} // namespace

void LineAssembler::setEnd(const QByteArray &end)
{
    const QByteArray wanted = end.isEmpty() ? QByteArray(1, serialprotocol::kCarriageReturn) : end;
    if (wanted == ending)
        return;
    for (const char byte : std::exchange(held, QByteArray()))
        keep(byte);
    ending = wanted;
    builtInRule = ending == QByteArray(1, serialprotocol::kCarriageReturn);
    textLines = !builtInRule && !endsBinaryLines(ending);
    promptEnds = isPrompt(ending);
}

bool LineAssembler::isPrompt(const QByteArray &end)
{
    return !end.isEmpty() && !end.contains(serialprotocol::kCarriageReturn) && !end.contains('\n')
        && !endsBinaryLines(end);
}

bool LineAssembler::endsBinaryLines(const QByteArray &end)
{
    constexpr uchar kFirstPrintable = 0x20;
    constexpr uchar kLastPrintable = 0x7e;
    return std::any_of(end.cbegin(), end.cend(), [](char byte) {
        return (uchar(byte) < kFirstPrintable || uchar(byte) > kLastPrintable)
            && byte != serialprotocol::kCarriageReturn && byte != '\n';
    });
}

void LineAssembler::keep(char byte)
{
    if (current.size() < serialprotocol::kMaxReplyLength)
        current.append(QChar(uchar(byte)));
}

bool LineAssembler::feed(char byte)
{
    // The built-in rule, byte for byte as it has always been.
    if (builtInRule)
        return serialprotocol::feedByte(current, byte) == serialprotocol::ByteResult::LineComplete;
    held.append(byte);
    if (held.endsWith(ending)) {
        for (const char kept : held.chopped(ending.size()))
            keep(kept);
        held.clear();
        current = tidied(current);
        // An empty line between two ends is no line: it waits for the next. A prompt alone
        // is one: it is how such a projector says it took a command that has no answer.
        return !current.isEmpty() || promptEnds;
    }
    if (held.size() >= ending.size()) {
        keep(held.at(0));
        held.remove(0, 1);
    }
    return false;
}

QString LineAssembler::take()
{
    return std::exchange(current, QString());
}

QString LineAssembler::tidied(const QString &line) const
{
    if (!textLines)
        return line;
    qsizetype from = 0;
    qsizetype to = line.size();
    while (from < to && isLineBreak(line.at(from)))
        ++from;
    while (to > from && isLineBreak(line.at(to - 1)))
        --to;
    return line.mid(from, to - from);
}
