#include "loadfreeclock.h"

#include <QByteArray>
#include <QFile>

namespace testsupport {

namespace {
constexpr qint64 kNanosPerMilli = 1000000;
} // namespace

qint64 cpuWaitNs()
{
    // cpu time, time waiting on a run queue, time slices (all of this thread)
    QFile schedstat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!schedstat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = schedstat.readAll().simplified().split(' ');
    return fields.size() >= 2 ? fields.at(1).toLongLong() : 0;
}

void LoadFreeClock::start()
{
    waitedAtStart = cpuWaitNs();
    wall.start();
}

qint64 LoadFreeClock::elapsed() const
{
    return (wall.nsecsElapsed() - (cpuWaitNs() - waitedAtStart)) / kNanosPerMilli;
}

qint64 LoadFreeClock::restart()
{
    const qint64 ms = elapsed();
    start();
    return ms;
}

} // namespace testsupport
