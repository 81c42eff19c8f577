// Running maximum over the last `window` values pushed, in O(1) amortised time
// and without data-dependent branches (van Herk / Gil-Werman): the stream is
// cut into blocks of `window` values; the window ending at the current value
// covers the tail of the previous block, whose suffix maxima are computed once
// when that block completes, and the head of the current block, whose prefix
// maximum is kept running. About three comparisons per value, however the
// values are ordered, where a monotonic deque mispredicts on noisy input.
// Buffers are allocated by the constructor; push() never allocates.
// Not thread-safe: one audio thread owns an instance.
#pragma once

#include <algorithm>
#include <cassert>
#include <vector>

class SlidingMaximum
{
public:
    explicit SlidingMaximum(int window)
        : window(window), current(static_cast<std::size_t>(window)), suffix(static_cast<std::size_t>(window) + 1)
    {
        assert(window >= 1);
        reset();
    }

    // Forgets every value pushed so far, as if `window` zeros had been pushed.
    // Values pushed must not be negative.
    void reset()
    {
        std::fill(current.begin(), current.end(), 0.0f);
        std::fill(suffix.begin(), suffix.end(), 0.0f);
        position = 0;
        prefix = 0.0f;
    }

    // Adds a value and answers the maximum of the last `window` values.
    float push(float value)
    {
        current[static_cast<std::size_t>(position)] = value;
        prefix = std::max(prefix, value);
        // suffix[window] is a zero sentinel: at the block's last value the
        // window is exactly the current block.
        const float loudest = std::max(suffix[static_cast<std::size_t>(position) + 1], prefix);
        if (++position == window)
            completeBlock();
        return loudest;
    }

private:
    void completeBlock()
    {
        float running = 0.0f;
        for (int k = window - 1; k >= 0; --k)
        {
            running = std::max(running, current[static_cast<std::size_t>(k)]);
            suffix[static_cast<std::size_t>(k)] = running;
        }
        position = 0;
        prefix = 0.0f;
    }

    int window;
    std::vector<float> current;
    std::vector<float> suffix;
    int position = 0;
    float prefix = 0.0f;
};
