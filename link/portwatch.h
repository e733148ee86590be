#ifndef PORTWATCH_H
#define PORTWATCH_H

#include "link/retrypolicy.h"

#include <QString>

#include <functional>

// Keeps a port open: looks for a port that vanished (a pulled adapter, a bridge that went
// away) and opens it again when the same device is back under its name, and tries a port
// that was asked for and has not opened yet (an adapter plugged in later, a bridge not up
// yet) until it opens. It knows no transport: it is told the name, how to tell whether
// what is under that name now is the device to open, it is ticked, and it asks its owner
// to open.
class PortWatch
{
public:
    enum class Presence {
        Absent, // nothing under the name
        Same, // the device that vanished is back (or, for a port not opened yet, one is there)
        Other, // something else has the name now: never opened by itself
        Pending, // the answer is on its way (a connection being made): asked again next tick
    };
    // Answers for the name, opening nothing; called about once a second while watching.
    using Probe = std::function<Presence(const QString &name)>;
    // Opens the name as the port; false with the reason when it cannot.
    using Opener = std::function<bool(const QString &name, QString *reason)>;

    enum class Event {
        None,
        Reopened, // the port is open again
        Refused, // the same device is back but would not open: the reason, said once
        CameBackAsOther, // a different device took the name: said once for each arrival
        Opened, // the port asked for has opened for the first time
        NotOpened, // the port asked for did not open this time (the reason, when the opener
                   // gave one): said at every try
    };

    // Ticks between two looks for a vanished port: about once a second at the window's
    // 100 ms tick.
    static constexpr int kPeriod = 10;

    explicit PortWatch(Opener opener);

    // A port is open under `name`; `probe` will tell what comes back under it later.
    void opened(const QString &name, Probe probe);
    // The open port has vanished: look for it from now on.
    void vanished();
    // A port asked for under `name` and not open: tried at the next tick and, until it
    // opens, again after each wait of `retry` (in ticks).
    void want(const QString &name, Probe probe, const RetryPolicy &retry);
    // The user chose what comes next (closed the port, opened another): look for nothing.
    void stop();
    // The device is said to be back: the next tick looks, and the waits start over.
    void tryNow();

    const QString &name() const { return portName; }
    // Whether a port asked for is being tried that has not opened yet.
    bool isWanting() const { return watching && wanting; }

    // One tick; looks when the wait is over, and opens when the device is there.
    Event tick(QString *reason = nullptr);

private:
    Event lookForWanted(QString *reason);

    Opener open;
    Probe probe;
    QString portName;
    RetryPolicy retry = RetryPolicy::flat(kPeriod);
    bool watching = false;
    bool wanting = false; // the port has not opened yet
    int ticks = 0;
    int wait = kPeriod; // ticks from one look to the next
    bool refusalSaid = false;
    bool answerPending = false;
    bool otherSaid = false;
};

#endif // PORTWATCH_H
