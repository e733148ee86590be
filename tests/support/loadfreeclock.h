#ifndef LOADFREECLOCK_H
#define LOADFREECLOCK_H

#include <QElapsedTimer>
#include <QtGlobal>

namespace testsupport {

// Nanoseconds the calling thread has spent ready to run but waiting for a CPU: what a
// busy machine adds to anything measured by the wall clock. 0 where the kernel does not
// tell (then the clocks below are wall clocks).
qint64 cpuWaitNs();

// The wall clock less the time the calling thread waited for a CPU meanwhile: how long
// something took as the program saw it, not how busy the machine was. Time the thread
// sleeps (msleep, a blocking call, an idle event loop) counts; only queueing does not.
class LoadFreeClock
{
public:
    LoadFreeClock() { start(); }

    void start();
    qint64 elapsed() const; // ms
    qint64 restart(); // ms, as QElapsedTimer::restart()

private:
    QElapsedTimer wall;
    qint64 waitedAtStart = 0;
};

} // namespace testsupport

#endif // LOADFREECLOCK_H
