#include "link/retrypolicy.h"

#include <algorithm>

RetryPolicy::RetryPolicy(int first, int last)
    : firstWait(first)
    , cap(std::max(first, last))
    , current(first)
{ }

int RetryPolicy::next()
{
    const int wait = current;
    // Halved first, so that a cap near the largest int cannot overflow.
    current = current > cap / 2 ? cap : current * 2;
    return wait;
}
