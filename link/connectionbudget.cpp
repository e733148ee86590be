#include "link/connectionbudget.h"

ConnectionBudget::ConnectionBudget(int limit)
    : max(limit < 0 ? kUnlimited : limit)
{ }

ConnectionBudget &ConnectionBudget::process()
{
    static ConnectionBudget budget;
    return budget;
}

void ConnectionBudget::setLimit(int limit)
{
    max = limit < 0 ? kUnlimited : limit;
    handOn();
}

bool ConnectionBudget::take(Waiter *waiter)
{
    // Those queued first go first: a newcomer never overtakes them.
    if (queue.isEmpty() && isFree()) {
        ++used;
        return true;
    }
    if (!queue.contains(waiter))
        queue.append(waiter);
    return false;
}

void ConnectionBudget::release()
{
    if (used > 0)
        --used;
    handOn();
}

void ConnectionBudget::cancel(Waiter *waiter)
{
    queue.removeOne(waiter);
}

void ConnectionBudget::handOn()
{
    while (!queue.isEmpty() && isFree()) {
        ++used;
        // Off the queue before it is told: whatever it does next, it is no longer waiting.
        queue.takeFirst()->slotGranted();
    }
}
