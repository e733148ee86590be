#ifndef LOADFREETICKWATCH_H
#define LOADFREETICKWATCH_H

#include <QList>
#include <QObject>

class Lumivox;

namespace testsupport {

// The gaps between the window's ticks as the tick watch records them, each less the time
// the test's thread waited for a CPU within it: a tick held by the program shows, a
// machine busy with other tests does not.
class LoadFreeTickWatch : public QObject
{
public:
    explicit LoadFreeTickWatch(const Lumivox *window);
    ~LoadFreeTickWatch() override;

    // Forgets the gaps so far, for example those of a warm-up.
    void restart() { gaps.clear(); }
    const QList<double> &gapsMs() const { return gaps; }
    double longestGapMs() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const char *begin;
    const char *end;
    qint64 last = -1; // ns of the load-free clock at the tick before
    QList<double> gaps;
};

} // namespace testsupport

#endif // LOADFREETICKWATCH_H
