#include "GainComputer.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace
{
// Gains are aimed this fraction under the ceiling, so rounding in the gain
// path cannot carry a limited peak over it.
constexpr float kCeilingMargin = 1.0f - 1.0f / (1 << 20);
// An envelope this close to its target has arrived; without snapping, a
// release towards 1 would stall one rounding step below it.
constexpr double kSnapDistance = 1.0e-6;
} // namespace

double GainComputer::approach(double from, double to, double coefficient)
{
    const double distance = to - from;
    return std::fabs(distance) <= kSnapDistance ? to : from + distance * coefficient;
}

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
    envelope = 1.0;
    sustained = 1.0;
    std::fill(ring.begin(), ring.end(), 1.0f);
    ringPos = 0;
    ringSum = window;
    reducedCount = 0;
}

double GainComputer::recover(double needed)
{
    double target = needed;
    double coefficient = release.normal;
    if (release.automatic)
    {
        const double rate = needed < sustained ? release.charge : release.slow;
        sustained = approach(sustained, needed, rate);
        target = std::min(needed, sustained);
        coefficient = release.fast;
    }
    return target <= envelope ? target : approach(envelope, target, coefficient);
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
        gain[i] = smooth(static_cast<float>(envelope));
    }
}
