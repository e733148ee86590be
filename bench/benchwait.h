#ifndef BENCHWAIT_H
#define BENCHWAIT_H

#include <QList>
#include <QtGlobal>

#include <functional>

namespace bench {

// Runs the event loop, sleeping while nothing happens, until `done` holds or `msecs`
// have passed; false on time-out. The condition is looked at every few milliseconds, so
// that a benchmark waiting costs next to nothing of the processor it measures.
bool runUntil(const std::function<bool()> &done, int msecs);

// CPU time (user and system, all threads) a process has had so far, in seconds, to the
// nanosecond where the system keeps it so (the scheduler's own count), else to its clock
// tick.
double cpuSeconds(qint64 pid);

// Runs the event loop for `ms`, doing nothing else.
void pause(int ms);

// Memory of the process's own (private clean and dirty), in KiB.
qint64 privateKiB(qint64 pid);

// A TCP port of the loopback address that was free a moment ago; 0 when none is.
quint16 freePort();

double median(QList<double> values);

} // namespace bench

#endif // BENCHWAIT_H
