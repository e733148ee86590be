// Arbitrary command set files through the reader. A file it takes must keep every bound
// the reader promises; its frames and patterns are then run on the file's own bytes as
// replies, which must match in a bounded time and capture no more than the line holds.

#include "link/commandset.h"
#include "link/commandsetreader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_commandsets: %s\n", what);
    std::abort();
}

void checkSet(const CommandSet &set, const QByteArray &text)
{
    if (set.name.isEmpty())
        fail("a set without a name");
    if (set.replyEnd.isEmpty() || set.replyEnd.size() > CommandSetReader::kMaxReplyEndBytes)
        fail("reply end out of its bounds");
    if (set.lamps < 1 || set.lamps > CommandSetReader::kMaxLamps)
        fail("lamps out of bounds");
    if (set.busyAfterPowerMs < 0 || set.busyAfterPowerMs > CommandSetReader::kMaxBusyMs)
        fail("busy time out of bounds");
    for (int i = 0; i < commands::kCommandCount; ++i) {
        const QByteArray frame = set.frame(commands::Command(i));
        if (frame.size() > CommandSetReader::kMaxFrameBytes)
            fail("a frame beyond its bound");
        if (frame.isEmpty() == set.has(commands::Command(i)))
            fail("a frame for a command the set does not have, or none for one it has");
    }
    // The file's own lines as replies: whatever they are, judging them must end and
    // decode nothing out of range.
    for (const QByteArray &line : text.split('\n')) {
        for (int i = 0; i < commands::kCommandCount; ++i)
            set.judge(commands::Command(i), line);
        set.powerState(line);
        if (const std::optional<CommandSet::Resolution> resolution = set.resolution(line))
            if (resolution->width < 0 || resolution->height < 0 || resolution->refreshRate < 0)
                fail("a negative resolution");
        if (set.lampHours(line).size() > line.size())
            fail("more lamp hours than the line has characters");
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    CommandSet set;
    CommandSetReader::Refusal refusal;
    if (CommandSetReader::read(QStringLiteral("fuzz.ini"), text, &set, &refusal)) {
        checkSet(set, text);
    } else {
        if (refusal.reason.isEmpty())
            fail("a refusal without a reason");
        if (refusal.line < 0 || refusal.line > text.count('\n') + 1)
            fail("a refusal on a line the file does not have");
    }
    return 0;
}
