#ifndef RETRYPOLICY_H
#define RETRYPOLICY_H

// How long to wait before each next try of something that keeps failing: the first wait,
// then, when doubling, each wait twice the one before up to the cap. The waits are in the
// unit its user counts in (milliseconds, or ticks of a session).
class RetryPolicy
{
public:
    // The same wait every time.
    static RetryPolicy flat(int wait) { return RetryPolicy(wait, wait); }
    // first, 2 * first, 4 * first ... up to cap, then cap.
    static RetryPolicy doubling(int first, int cap) { return RetryPolicy(first, cap); }

    // The wait before the next try; the one after is longer where the policy doubles.
    int next();
    // It worked: the next failure waits the first wait again.
    void reset() { current = firstWait; }
    // Whether the waits grow.
    bool doubles() const { return cap > firstWait; }

private:
    RetryPolicy(int first, int cap);

    int firstWait;
    int cap;
    int current;
};

#endif // RETRYPOLICY_H
