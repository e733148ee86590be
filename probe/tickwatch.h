#ifndef TICKWATCH_H
#define TICKWATCH_H

#include "ui/lumivox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QList>
#include <QTimer>

#include <algorithm>

namespace testsupport {

// Records the gaps between the timeouts of the window's own 100 ms timer, which is a
// member of the window object and the only timer of that interval inside it. Header
// only, so that the benchmark can use it without the test library.
class TickWatch : public QObject
{
public:
    static constexpr int kTickInterval = 100; // ms of the window's timer

    explicit TickWatch(const Lumivox *window)
        : begin(reinterpret_cast<const char *>(window))
        , end(begin + sizeof(Lumivox))
    {
        clock.start();
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~TickWatch() override { QCoreApplication::instance()->removeEventFilter(this); }

    // Forgets the gaps so far, for example those of a warm-up.
    void restart() { gaps.clear(); }
    const QList<double> &gapsMs() const { return gaps; }
    double longestGapMs() const
    {
        return gaps.isEmpty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        constexpr double kNanosPerMilli = 1e6;
        const char *address = reinterpret_cast<const char *>(watched);
        if (event->type() == QEvent::Timer && address >= begin && address < end) {
            auto *timer = qobject_cast<QTimer *>(watched);
            if (timer && timer->interval() == kTickInterval) {
                const qint64 now = clock.nsecsElapsed();
                if (last >= 0)
                    gaps.append(double(now - last) / kNanosPerMilli);
                last = now;
            }
        }
        return false;
    }

private:
    const char *begin;
    const char *end;
    QElapsedTimer clock;
    qint64 last = -1;
    QList<double> gaps;
};

} // namespace testsupport

#endif // TICKWATCH_H
