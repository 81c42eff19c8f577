#include "plugin/BandDelay.h"

#include <algorithm>
#include <climits>

bool BandDelay::reserve(int maxDelay, int maxBlock)
{
    const long long frames = static_cast<long long>(std::max(maxDelay, 0)) + std::max(maxBlock, 1);
    if (frames <= ring.room())
        return true;
    return frames <= INT_MAX && ring.reserve(static_cast<int>(frames));
}

void BandDelay::run(float* const* io, int n, int delay)
{
    if (n <= 0 || n > ring.room())
        return;
    // Written whether delayed or not, so a later delay reads the real stream.
    ring.write(io, n);
    delay = std::clamp(delay, 0, ring.room() - n);
    if (delay > 0)
        ring.read(io, delay, n);
}
