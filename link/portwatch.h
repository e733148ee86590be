#ifndef PORTWATCH_H
#define PORTWATCH_H

#include <QString>

#include <functional>

// Looks for a port that vanished (a pulled adapter, a bridge that went away) and opens
// it again when the same device is back under its name. It knows no transport: it is
// told the name a port was opened under and how to tell whether what is under that name
// now is the same device, it is ticked, and it asks its owner to open.
class PortWatch
{
public:
    enum class Presence {
        Absent, // nothing under the name
        Same, // the device that vanished is back
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
    };

    // Ticks between two looks: about once a second at the window's 100 ms tick.
    static constexpr int kPeriod = 10;

    explicit PortWatch(Opener opener);

    // A port is open under `name`; `probe` will tell what comes back under it later.
    void opened(const QString &name, Probe probe);
    // The open port has vanished: look for it from now on.
    void vanished();
    // The user chose what comes next (closed the port, opened another): look for nothing.
    void stop();

    const QString &name() const { return portName; }

    // One tick; every kPeriod-th looks, and opens when the same device is back.
    Event tick(QString *reason = nullptr);

private:
    Opener open;
    Probe probe;
    QString portName;
    bool watching = false;
    int ticks = 0;
    bool refusalSaid = false;
    bool answerPending = false;
    bool otherSaid = false;
};

#endif // PORTWATCH_H
