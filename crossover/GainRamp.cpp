#include "crossover/GainRamp.h"

#include <algorithm>
#include <cmath>

void GainRamp::setLength(int frames)
{
    frames = std::max(frames, 1);
    position = static_cast<int>(static_cast<long long>(position) * frames / fadeFrames);
    fadeFrames = frames;
}

void GainRamp::reset(bool on)
{
    rising = on;
    position = on ? fadeFrames : 0;
}

float GainRamp::gainAt(int framesIn) const
{
    if (framesIn <= 0)
        return 0.0f;
    if (framesIn >= fadeFrames)
        return 1.0f;
    return static_cast<float>(0.5 - 0.5 * std::cos(3.14159265358979323846 * framesIn / fadeFrames));
}

void GainRamp::render(float* gains, int n)
{
    for (int i = 0; i < n; ++i) {
        position = std::clamp(position + step(), 0, fadeFrames);
        gains[i] = gainAt(position);
    }
}

void GainRamp::apply(float* const* io, int n)
{
    if (settled() && on())
        return;
    for (int i = 0; i < n; ++i) {
        position = std::clamp(position + step(), 0, fadeFrames);
        const float g = gainAt(position);
        io[0][i] *= g;
        io[1][i] *= g;
    }
}

void GainRamp::mixInto(float* const* sums, const float* const* band, int n)
{
    if (settled()) {
        if (off())
            return;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                sums[c][i] += band[c][i];
        return;
    }
    for (int i = 0; i < n; ++i) {
        position = std::clamp(position + step(), 0, fadeFrames);
        const float g = gainAt(position);
        sums[0][i] += g * band[0][i];
        sums[1][i] += g * band[1][i];
    }
}

void GainRamp::advance(int n)
{
    const long long moved = static_cast<long long>(position) + static_cast<long long>(step()) * n;
    position = static_cast<int>(std::clamp<long long>(moved, 0, fadeFrames));
}
