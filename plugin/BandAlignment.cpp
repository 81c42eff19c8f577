#include "plugin/BandAlignment.h"

#include "crossover/Crossover.h"

#include <algorithm>
#include <cmath>

void BandAlignment::reserve(float sampleRate, int maxBlock)
{
    const int room = static_cast<int>(std::lround(static_cast<double>(sampleRate)));
    for (BandDelay& line : lines)
        line.reserve(room, std::max(maxBlock, 1));
    ramp.setLength(static_cast<int>(Crossover::kFadeSeconds * static_cast<double>(sampleRate)));
}

void BandAlignment::restart()
{
    for (BandDelay& line : lines)
        line.clear();
    alignment = target;
    ramp.reset(true);
}

bool BandAlignment::follow(const Latencies& latencies, int maxBlock, bool atOnce)
{
    if (latencies == current)
        return false;
    current = latencies;
    largestBand = *std::max_element(current.begin(), current.begin() + kBands);
    for (int b = 0; b < kBands; ++b)
        target[b] = std::min(largestBand - current[b], lines[b].longestDelay(maxBlock));
    if (atOnce) {
        alignment = target;
        ramp.reset(true);
    } else {
        ramp.target(target == alignment);
    }
    return true;
}

void BandAlignment::fade(float* const* sums, int n)
{
    ramp.apply(sums, n);
    if (ramp.off() && target != alignment) {
        alignment = target;
        ramp.target(true);
    }
}
