#include "plugin/BandAlignment.h"

#include "crossover/Crossover.h"
#include "crossover/RaisedCosine.h"

#include <algorithm>
#include <cmath>

void BandAlignment::reserve(float sampleRate, int maxBlock)
{
    const int room = static_cast<int>(std::lround(static_cast<double>(sampleRate)));
    for (BandDelay& line : lines)
        line.reserve(room, std::max(maxBlock, 1));
    fadeFrames = std::max(1, static_cast<int>(Crossover::kFadeSeconds * static_cast<double>(sampleRate)));
}

bool BandAlignment::follow(const Latencies& latencies, int maxBlock)
{
    if (started && latencies == current)
        return false;
    current = latencies;
    largestBand = *std::max_element(current.begin(), current.begin() + kBands);
    for (int b = 0; b < kBands; ++b)
        target[b] = std::min(largestBand - current[b], lines[b].longestDelay(maxBlock));
    if (!started) {
        alignment = target;
    } else if (target != alignment && fading != Fade::out) {
        fading = Fade::out;
        position = 0;
    }
    started = true;
    return true;
}

void BandAlignment::advance(int n)
{
    if (fading == Fade::none)
        return;
    position += n;
    if (position < fadeFrames)
        return;
    position = 0;
    if (fading == Fade::out) {
        alignment = target;
        fading = Fade::in;
    } else {
        fading = Fade::none;
    }
}

bool BandAlignment::active() const
{
    return fading != Fade::none || std::any_of(alignment.begin(), alignment.end(), [](int d) { return d != 0; });
}

// Raised cosine, down to silence before the switch and back up after it.
void BandAlignment::fade(float* const* sums, int n) const
{
    if (fading == Fade::none)
        return;
    for (int i = 0; i < n; ++i) {
        const double rise = raisedCosineRise(position + i, fadeFrames);
        const float gain = static_cast<float>(fading == Fade::out ? 1.0 - rise : rise);
        sums[0][i] *= gain;
        sums[1][i] *= gain;
    }
}

void BandAlignment::clear()
{
    for (BandDelay& line : lines)
        line.clear();
}
