#include "loadfreetickwatch.h"

#include "loadfreeclock.h"
#include "probe/tickwatch.h"
#include "ui/lumivox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <algorithm>

namespace testsupport {

namespace {
constexpr double kNanosPerMilli = 1e6;

qint64 loadFreeNowNs()
{
    static QElapsedTimer wall;
    if (!wall.isValid())
        wall.start();
    return wall.nsecsElapsed() - cpuWaitNs();
}
} // namespace

LoadFreeTickWatch::LoadFreeTickWatch(const Lumivox *window)
    : begin(reinterpret_cast<const char *>(window))
    , end(begin + sizeof(Lumivox))
{
    QCoreApplication::instance()->installEventFilter(this);
}

LoadFreeTickWatch::~LoadFreeTickWatch()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

double LoadFreeTickWatch::longestGapMs() const
{
    return gaps.isEmpty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
}

bool LoadFreeTickWatch::eventFilter(QObject *watched, QEvent *event)
{
    // The window's own timer, found as the tick watch finds it.
    const char *address = reinterpret_cast<const char *>(watched);
    if (event->type() == QEvent::Timer && address >= begin && address < end) {
        auto *timer = qobject_cast<QTimer *>(watched);
        if (timer && timer->interval() == TickWatch::kTickInterval) {
            const qint64 now = loadFreeNowNs();
            if (last >= 0)
                gaps.append(double(now - last) / kNanosPerMilli);
            last = now;
        }
    }
    return false;
}

} // namespace testsupport
