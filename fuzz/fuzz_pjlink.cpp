// Arbitrary byte streams from a PJLink projector, through what the session makes of
// them: the greeting and reply grammar, what each reply means, and the requests it asks
// to send next. Bytes below 0x20 at the start of a line also ask for a command, so that
// replies meet requests of every kind.

#include "link/pjlink.h"
#include "session/pjlinkprojector.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
// Requests one reply may ask for: the inputs' names of class 2, at most.
constexpr int kMaxFollowUps = PjlinkProjector::kMaxNamedInputs + 2;
constexpr int kMaxLogLines = pjlink::kErrorFields + 1;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_pjlink: %s\n", what);
    std::abort();
}

bool hasLineEnd(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

void hear(PjlinkProjector &projector, const QByteArray &line)
{
    const pjlink::Greeting greeting = pjlink::parseGreeting(line);
    if (greeting.kind == pjlink::Greeting::Kind::Challenge && greeting.random.size() != 8)
        fail("a challenge without its eight digits");
    const PjlinkProjector::Heard heard = projector.hear(line);
    if (heard.next.size() > kMaxFollowUps)
        fail("one reply asked for too many requests");
    if (heard.log.size() > kMaxLogLines)
        fail("one reply made too many log lines");
    for (const QString &text : heard.logTexts())
        if (hasLineEnd(text) || text.size() > pjlink::kMaxLine * 2)
            fail("a log line that could forge another, or without bound");
    for (const QByteArray &request : heard.next)
        if (!request.startsWith('%') || request.contains('\r') || request.contains('\n'))
            fail("a request that is no frame");
    for (const PjlinkProjector::Completion &done : heard.completed)
        if (hasLineEnd(done.answer))
            fail("an answer across lines");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    PjlinkProjector projector;
    projector.opened();
    QByteArray line;
    for (std::size_t i = 0; i < size; ++i) {
        const char byte = char(data[i]);
        if (byte == '\r' || byte == '\n') {
            if (!line.isEmpty())
                hear(projector, line);
            line.clear();
        } else if (line.isEmpty() && data[i] < commands::kCommandCount) {
            projector.frames(commands::Command(data[i]));
        } else if (line.size() < pjlink::kMaxLine) {
            line.append(byte);
        }
    }
    return 0;
}
