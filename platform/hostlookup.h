#ifndef HOSTLOOKUP_H
#define HOSTLOOKUP_H

#include <QHostAddress>
#include <QList>
#include <QString>

#include <memory>

// Looks a host name up on a thread of its own that nothing ever waits for: a resolver
// that hangs holds neither the caller nor the program's exit. (The toolkit's own lookups
// run in a pool that the application object waits for when it goes, however long the
// resolver takes.) An abandoned lookup ends by itself when the resolver returns.
class HostLookup
{
public:
    // Starts looking `host` up.
    explicit HostLookup(const QString &host);
    ~HostLookup();
    HostLookup(const HostLookup &) = delete;
    HostLookup &operator=(const HostLookup &) = delete;

    // True once the answer is in; never waits.
    bool isFinished() const;
    // Once finished: the addresses in the resolver's order, or none and why.
    QList<QHostAddress> addresses() const;
    QString errorString() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
};

#endif // HOSTLOOKUP_H
