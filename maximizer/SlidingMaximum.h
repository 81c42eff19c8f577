// Running maximum over the last `window` values pushed, in O(1) amortised time
// per value: a monotonic deque of (value, arrival) pairs kept in a fixed ring.
// The ring is allocated by the constructor; push() never allocates.
// Not thread-safe: one audio thread owns an instance.
#pragma once

#include <cassert>
#include <cstdint>
#include <vector>

class SlidingMaximum
{
public:
    explicit SlidingMaximum(int window)
        : window(static_cast<std::uint32_t>(window)), mask(ringSizeFor(window) - 1), values(mask + 1),
          arrivals(mask + 1)
    {
        assert(window >= 1);
        reset();
    }

    // Forgets every value pushed so far, as if `window` zeros had been pushed.
    void reset()
    {
        head = 0;
        tail = 0;
        now = 0;
        push(0.0f);
    }

    // Adds a value and answers the maximum of the last `window` values.
    float push(float value)
    {
        // Older values not larger than the new one can never be the maximum again.
        while (tail != head && values[(tail - 1) & mask] <= value)
            --tail;
        values[tail & mask] = value;
        arrivals[tail & mask] = now;
        ++tail;
        // Values arrive one per push, so at most one leaves the window per push.
        if (now - arrivals[head & mask] >= window)
            ++head;
        ++now;
        return values[head & mask];
    }

private:
    // A power of two above the window: the deque briefly holds window + 1 entries.
    static std::uint32_t ringSizeFor(int window)
    {
        std::uint32_t size = 1;
        while (size < static_cast<std::uint32_t>(window) + 1)
            size <<= 1;
        return size;
    }

    std::uint32_t window;
    std::uint32_t mask;
    std::vector<float> values;
    std::vector<std::uint32_t> arrivals;
    // Unsigned counters: differences stay correct across wrap-around.
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    std::uint32_t now = 0;
};
