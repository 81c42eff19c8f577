#include "plugin/BandGate.h"

#include "crossover/RaisedCosine.h"

#include <algorithm>

void BandGate::setFadeFrames(int frames)
{
    frames = std::max(frames, 1);
    position = static_cast<int>(static_cast<long long>(position) * frames / fadeFrames);
    fadeFrames = frames;
}

void BandGate::mixInto(float* const* sums, const float* const* band, int n, bool on)
{
    if (position == (on ? fadeFrames : 0)) {
        if (!on)
            return;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                sums[c][i] += band[c][i];
        return;
    }
    const int step = on ? 1 : -1;
    for (int i = 0; i < n; ++i) {
        position = std::clamp(position + step, 0, fadeFrames);
        const float gain = static_cast<float>(raisedCosineRise(position, fadeFrames));
        sums[0][i] += gain * band[0][i];
        sums[1][i] += gain * band[1][i];
    }
}
