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
    wanting = false;
}

void PortWatch::vanished()
{
    if (portName.isNull() || !probe)
        return;
    watching = true;
    wanting = false;
    retry = RetryPolicy::flat(kPeriod);
    wait = retry.next();
    ticks = 0;
    answerPending = false;
    refusalSaid = false;
    otherSaid = false;
}

void PortWatch::want(const QString &name, Probe check, const RetryPolicy &policy)
{
    portName = name;
    probe = std::move(check);
    watching = true;
    wanting = true;
    retry = policy;
    wait = 0; // the first try is at once
    ticks = 0;
    answerPending = false;
}

void PortWatch::tryNow()
{
    retry.reset();
    wait = 0;
}

void PortWatch::stop()
{
    watching = false;
    wanting = false;
}

PortWatch::Event PortWatch::tick(QString *reason)
{
    if (!watching || (!answerPending && ++ticks < wait))
        return Event::None;
    ticks = 0;
    answerPending = false;
    if (wanting)
        return lookForWanted(reason);
    wait = retry.next();
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

PortWatch::Event PortWatch::lookForWanted(QString *reason)
{
    const Presence presence = probe(portName);
    if (presence == Presence::Pending) {
        answerPending = true;
        return Event::None;
    }
    // The wait runs from the outcome of this try, whatever it took.
    wait = retry.next();
    if (presence != Presence::Same)
        return Event::NotOpened;
    QString why;
    const QString name = portName;
    if (open(name, &why)) {
        watching = false;
        wanting = false;
        return Event::Opened;
    }
    if (reason)
        *reason = why;
    return Event::NotOpened;
}
