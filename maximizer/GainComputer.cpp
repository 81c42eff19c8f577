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
// release towards 1 would only approach it.
constexpr double kSnapDistance = 1.0e-6;
constexpr double kFixedOne = 1073741824.0; // 2^30
} // namespace

GainComputer::GainComputer(int window)
    : window(window), unitySum(static_cast<std::int64_t>(window) << 30), sumToGain(1.0 / (window * kFixedOne)),
      maximum(window), scratch(kBlock), ring(static_cast<std::size_t>(window))
{
    assert(window >= 1);
    reset();
}

double GainComputer::approach(double from, double to, double coefficient)
{
    const double distance = to - from;
    return std::fabs(distance) <= kSnapDistance ? to : from + distance * coefficient;
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
    std::fill(ring.begin(), ring.end(), static_cast<std::int32_t>(kFixedOne));
    ringPos = 0;
    ringSum = unitySum;
}

double GainComputer::recover(double needed)
{
    double goal = needed;
    double coefficient = release.normal;
    if (release.automatic)
    {
        const double rate = needed < sustained ? release.charge : release.slow;
        sustained = approach(sustained, needed, rate);
        goal = std::min(needed, sustained);
        coefficient = release.fast;
    }
    return goal <= envelope ? goal : approach(envelope, goal, coefficient);
}

void GainComputer::process(const float* peak, float* gain, int n)
{
    for (int offset = 0; offset < n; offset += kBlock)
        processBlock(peak + offset, gain + offset, std::min(kBlock, n - offset));
}

void GainComputer::processBlock(const float* peak, float* gain, int n)
{
    float* work = scratch.data();
    // Window maximum, then the gain it needs: separate passes, so that the
    // division runs vectorised and the recursions below stay short.
    for (int i = 0; i < n; ++i)
        work[i] = maximum.push(peak[i]);
    const float limit = ceiling;
    const float aim = target;
    for (int i = 0; i < n; ++i)
        work[i] = work[i] > limit ? aim / work[i] : 1.0f;
    follow(work, work, n);
    smooth(work, gain, n);
}

void GainComputer::follow(const float* needed, float* envelopeOut, int n)
{
    for (int i = 0; i < n; ++i)
    {
        envelope = recover(needed[i]);
        envelopeOut[i] = static_cast<float>(envelope);
    }
}

void GainComputer::smooth(const float* envelopeIn, float* gain, int n)
{
    std::int32_t* values = ring.data();
    int pos = ringPos;
    std::int64_t sum = ringSum;
    for (int i = 0; i < n; ++i)
    {
        // Rounded down, so the average never exceeds any value it covers.
        const auto value = static_cast<std::int32_t>(envelopeIn[i] * kFixedOne);
        sum += value - values[pos];
        values[pos] = value;
        if (++pos == window)
            pos = 0;
        gain[i] = sum == unitySum ? 1.0f : static_cast<float>(static_cast<double>(sum) * sumToGain);
    }
    ringPos = pos;
    ringSum = sum;
}

bool GainComputer::sameFuture(const GainComputer& other) const
{
    return envelope == other.envelope && sustained == other.sustained && ringSum == other.ringSum &&
           ringPos == other.ringPos && ring == other.ring && target == other.target;
}
