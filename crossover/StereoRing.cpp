#include "crossover/StereoRing.h"

#include <climits>
#include <cstring>

bool StereoRing::reserve(int frames)
{
    frames = std::max(frames, 1);
    if (static_cast<long long>(frames) * static_cast<long long>(sizeof(float)) > INT_MAX)
        return false;
    const int bytes = frames * static_cast<int>(sizeof(float));
    bool complete = true;
    // A failed resize leaves a channel as it was, so the old room stays whole.
    for (GrowableBuffer& channel : ring) {
        channel.resize(bytes);
        complete &= channel.size() == bytes;
    }
    if (!complete)
        return false;
    reserved = frames;
    use(frames);
    return true;
}

void StereoRing::use(int frames)
{
    capacity = std::clamp(frames, std::min(reserved, 1), reserved);
    end = 0;
    written = 0;
}

void StereoRing::write(const float* const* inputs, int n)
{
    if (capacity == 0 || n <= 0)
        return;
    const int skipped = std::max(0, n - capacity);
    for (int c = 0; c < kChannels; ++c) {
        const float* from = inputs != nullptr && inputs[c] != nullptr ? inputs[c] + skipped : nullptr;
        float* line = ring[c].as<float>();
        int at = static_cast<int>((static_cast<long long>(end) + skipped) % capacity);
        for (int left = n - skipped; left > 0;) {
            const int run = std::min(left, capacity - at);
            if (from != nullptr) {
                std::memcpy(line + at, from, static_cast<std::size_t>(run) * sizeof(float));
                from += run;
            } else {
                std::memset(line + at, 0, static_cast<std::size_t>(run) * sizeof(float));
            }
            left -= run;
            at = (at + run) % capacity;
        }
    }
    end = static_cast<int>((static_cast<long long>(end) + n) % capacity);
    written = static_cast<int>(std::min<long long>(capacity, static_cast<long long>(written) + n));
}

void StereoRing::read(float* const* out, int age, int n) const
{
    if (n <= 0)
        return;
    age = std::max(age, 0);
    // Of the n frames, the oldest `silent` lie before what the ring holds.
    const long long reach = static_cast<long long>(age) + n;
    const int silent = static_cast<int>(std::min<long long>(n, std::max<long long>(0, reach - written)));
    for (int c = 0; c < kChannels; ++c) {
        std::fill(out[c], out[c] + silent, 0.0f);
        if (silent == n)
            continue;
        const float* line = ring[c].as<float>();
        int at = start(n - silent, age);
        for (int i = silent; i < n;) {
            const int run = std::min(n - i, capacity - at);
            std::memcpy(out[c] + i, line + at, static_cast<std::size_t>(run) * sizeof(float));
            i += run;
            at = (at + run) % capacity;
        }
    }
}
