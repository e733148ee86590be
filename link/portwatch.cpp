#include "link/portwatch.h"

#include <utility>

PortWatch::PortWatch(Opener opener)
    : open(std::move(opener))
{ }

void PortWatch::opened(const QString &name, Probe check)
{
    portName = name;
    probe = std::move(check);
    watching = false;
}

void PortWatch::vanished()
{
    if (portName.isNull() || !probe)
        return;
    watching = true;
    ticks = 0;
    answerPending = false;
    refusalSaid = false;
    otherSaid = false;
}

void PortWatch::stop()
{
    watching = false;
}

PortWatch::Event PortWatch::tick(QString *reason)
{
    if (!watching || (!answerPending && ++ticks < kPeriod))
        return Event::None;
    ticks = 0;
    answerPending = false;
    // While the device is away this look is all it costs.
    switch (probe(portName)) {
    case Presence::Pending:
        answerPending = true;
        return Event::None;
    case Presence::Absent:
        otherSaid = false;
        return Event::None;
    case Presence::Other:
        if (otherSaid)
            return Event::None;
        otherSaid = true;
        return Event::CameBackAsOther;
    case Presence::Same:
        otherSaid = false;
        break;
    }
    QString why;
    // The opener may stop the watch itself (a port open ends it); the copy outlives that.
    const QString name = portName;
    if (open(name, &why)) {
        watching = false;
        return Event::Reopened;
    }
    // Back but busy or refused: said once, then tried again quietly.
    if (refusalSaid)
        return Event::None;
    refusalSaid = true;
    if (reason)
        *reason = why;
    return Event::Refused;
}
