#ifndef CONNECTIONBUDGET_H
#define CONNECTIONBUDGET_H

#include <QList>

#include <functional>

// How many connections to projectors may be open at once in this process. A gateway that
// holds hundreds of PJLink projectors keeps a bounded number open, and a port that finds
// none free is queued and handed the next slot given back, in the order they asked:
// nobody looks again and again. Unlimited unless a limit is set, as for the window's one
// projector.
class ConnectionBudget
{
public:
    static constexpr int kUnlimited = 0;
    // A gateway's limit: enough for a thousand projectors polled every few seconds, each
    // connection open for a request or two, without a thousand descriptors and sockets.
    static constexpr int kGatewayLimit = 64;

    explicit ConnectionBudget(int limit = kUnlimited);
    ConnectionBudget(const ConnectionBudget &) = delete;
    ConnectionBudget &operator=(const ConnectionBudget &) = delete;

    // The budget every PJLink port of the process draws on.
    static ConnectionBudget &process();

    // A raised limit hands the new slots to those waiting at once; a lowered one closes
    // nothing, and slots given back go on only once fewer than the limit are held.
    void setLimit(int limit);
    int limit() const { return max; }
    int held() const { return used; }
    int waiting() const { return int(queue.size()); }
    bool othersWait() const { return !queue.isEmpty(); }

    // True with a slot held from now on when one is free and nobody waits; else `who` is
    // queued (once) and `granted` is called when its turn comes: it holds the slot from
    // then on.
    bool take(const void *who, std::function<void()> granted);
    // Gives a held slot back; the first waiter gets it.
    void release();
    // A waiter that wants no slot any more (its port is closing) leaves the queue.
    void cancel(const void *who);

private:
    bool isFree() const { return max == kUnlimited || used < max; }
    void handOn();

    int max;
    int used = 0;
    struct Waiting
    {
        const void *who;
        std::function<void()> granted;
    };

    QList<Waiting> queue;
};

#endif // CONNECTIONBUDGET_H
