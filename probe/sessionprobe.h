#ifndef SESSIONPROBE_H
#define SESSIONPROBE_H

#include "session/projectorsession.h"

#include <QString>

namespace testsupport {

// What a session keeps to itself, read for tests and benchmarks: the program has no use
// for it.
class SessionProbe
{
public:
    // Ticks since the last reply line; ProjectorSession::kNoContact while there is none.
    static quint32 noContactTicks(const ProjectorSession &session)
    {
        return session.noContactCount;
    }
    // The reply line read so far, its carriage return not yet arrived.
    static const QString &pendingReply(const ProjectorSession &session)
    {
        return session.replyLine.line();
    }
};

} // namespace testsupport

#endif // SESSIONPROBE_H
