#include "plugin/BandDelay.h"

#include <algorithm>
#include <climits>
#include <cstring>

bool BandDelay::reserve(int maxDelay, int maxBlock)
{
    const long long frames = static_cast<long long>(std::max(maxDelay, 0)) + std::max(maxBlock, 1);
    if (frames <= capacity)
        return true;
    if (frames * static_cast<long long>(sizeof(float)) > INT_MAX)
        return false;
    const int bytes = static_cast<int>(frames * static_cast<long long>(sizeof(float)));
    for (GrowableBuffer& channel : ring) {
        channel.resize(bytes, true);
        if (channel.size() != bytes)
            return false;
    }
    capacity = static_cast<int>(frames);
    end = 0;
    written = 0;
    return true;
}

void BandDelay::run(float* const* io, int n, int delay)
{
    if (n <= 0 || n > capacity)
        return;
    delay = std::clamp(delay, 0, capacity - n);
    const int start = end;
    for (int c = 0; c < 2; ++c) {
        float* line = ring[c].as<float>();
        float* x = io[c];
        // Write the block, then read it back `delay` frames earlier.
        for (int i = 0, at = start; i < n; ++i, at = at + 1 == capacity ? 0 : at + 1)
            line[at] = x[i];
        const int fresh = std::min(written + n, capacity);
        for (int i = 0; i < n; ++i) {
            const int age = n - i + delay; // frames back from the block's end
            int at = (start + i - delay) % capacity;
            at = at < 0 ? at + capacity : at;
            x[i] = age <= fresh ? line[at] : 0.0f;
        }
    }
    end = (start + n) % capacity;
    written = std::min(written + n, capacity);
}
