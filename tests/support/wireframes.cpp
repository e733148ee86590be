#include "wireframes.h"

#include "link/serialprotocol.h"

namespace testsupport {

namespace {
constexpr unsigned kPollLength = 10; // characters of the poll text before the CR
} // namespace

QByteArray frameOf(const char *text, unsigned length)
{
    return QByteArray(text, int(length)) + serialprotocol::kCarriageReturn;
}

QByteArray frameOf(const char *text)
{
    return frameOf(text, unsigned(qstrlen(text)));
}

QByteArray pollFrame()
{
    return frameOf(serialprotocol::kLampPoll, kPollLength);
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
