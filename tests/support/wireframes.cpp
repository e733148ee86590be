#include "wireframes.h"

#include "link/protocol.h"

namespace testsupport {

namespace {
constexpr unsigned kPollLength = 10; // characters of the poll text before the CR
} // namespace

QByteArray pollFrame()
{
    return protocol::frame(protocol::kLampPoll, kPollLength);
}

QList<QByteArray> withoutPolls(const QList<QByteArray> &frames)
{
    const QByteArray poll = pollFrame();
    QList<QByteArray> rest;
    for (const QByteArray &frame : frames)
        if (frame != poll)
            rest.append(frame);
    return rest;
}

} // namespace testsupport
