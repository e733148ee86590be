#include "link/connectionbudget.h"

#include <algorithm>

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

bool ConnectionBudget::take(const void *who, std::function<void()> granted)
{
    // Those queued first go first: a newcomer never overtakes them.
    if (queue.isEmpty() && isFree()) {
        ++used;
        return true;
    }
    const bool queued = std::any_of(queue.cbegin(), queue.cend(),
                                    [who](const Waiting &each) { return each.who == who; });
    if (!queued)
        queue.append({who, std::move(granted)});
    return false;
}

void ConnectionBudget::release()
{
    if (used > 0)
        --used;
    handOn();
}

void ConnectionBudget::cancel(const void *who)
{
    queue.removeIf([who](const Waiting &each) { return each.who == who; });
}

void ConnectionBudget::handOn()
{
    while (!queue.isEmpty() && isFree()) {
        ++used;
        // Off the queue before it is told: whatever it does next, it is no longer waiting.
        const Waiting first = queue.takeFirst();
        first.granted();
    }
}
