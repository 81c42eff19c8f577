#include "GainComputer.h"

#include <algorithm>
#include <cassert>

namespace
{
// Gains are aimed this fraction under the ceiling, so rounding in the gain
// path cannot carry a limited peak over it.
constexpr float kCeilingMargin = 1.0f - 1.0f / (1 << 20);
// An envelope this close to its target has arrived; without snapping, a
// release towards 1 would stall one rounding step below it.
constexpr float kSnapDistance = 1.0e-6f;
} // namespace

GainComputer::GainComputer(int window)
    : window(window), inverseWindow(1.0 / window), maximum(window), ring(static_cast<std::size_t>(window))
{
    assert(window >= 1);
    reset();
}

void GainComputer::setCeiling(float newCeiling)
{
    assert(newCeiling > 0.0f);
    ceiling = newCeiling;
    target = newCeiling * kCeilingMargin;
}

void GainComputer::setRelease(const ReleaseCoefficients& newRelease)
{
    release = newRelease;
}

void GainComputer::reset()
{
    maximum.reset();
    envelope = 1.0f;
    sustained = 1.0f;
    std::fill(ring.begin(), ring.end(), 1.0f);
    ringPos = 0;
    ringSum = window;
    reducedCount = 0;
}

float GainComputer::recover(float needed)
{
    float coefficient = release.normal;
    if (release.automatic)
    {
        // Below the sustained level (a short transient) recover fast; under
        // long reduction the level has caught up and recovery is slow.
        sustained += (envelope - sustained) * release.sustain;
        coefficient = envelope < sustained ? release.fast : release.slow;
    }
    if (needed <= envelope)
        return needed;
    const float distance = needed - envelope;
    return distance <= kSnapDistance ? needed : envelope + distance * coefficient;
}

float GainComputer::smooth(float value)
{
    const float leaving = ring[ringPos];
    ring[ringPos] = value;
    if (++ringPos == window)
        ringPos = 0;
    reducedCount += (value != 1.0f) - (leaving != 1.0f);
    ringSum += static_cast<double>(value) - static_cast<double>(leaving);
    if (reducedCount == 0)
    {
        // Re-anchor the running sum so that rounding drift cannot accumulate.
        ringSum = window;
        return 1.0f;
    }
    return static_cast<float>(ringSum * inverseWindow);
}

void GainComputer::process(const float* peak, float* gain, int n)
{
    for (int i = 0; i < n; ++i)
    {
        const float loudest = maximum.push(peak[i]);
        const float needed = loudest > ceiling ? target / loudest : 1.0f;
        envelope = recover(needed);
        gain[i] = smooth(envelope);
    }
}
