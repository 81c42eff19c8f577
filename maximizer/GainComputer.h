// Turns a stream of side-chain peaks into the gain that keeps them under the
// ceiling. Per sample:
//  1. the maximum peak over the last `window` samples sets the needed gain
//     r = ceiling / peak (1 when the peak is under the ceiling);
//  2. an envelope falls to r at once and recovers towards it with the release
//     time constant (or the program-dependent release);
//  3. a moving average over `window` samples smooths the envelope into a ramp
//     (summed in fixed point, so the sum is exact and cannot drift).
// The moving average at time t covers exactly the samples during which a peak
// arriving at t - window + 1 was held, so the gain at that instant is at most
// the gain the peak needs: the signal path must delay the audio by window - 1
// samples past the peak's arrival. When nothing needed reduction during the
// last two windows the gain is exactly 1.
// Buffers are allocated by the constructor; nothing else allocates.
// Not thread-safe: owned by the audio thread.
#pragma once

#include "SlidingMaximum.h"

#include <cstdint>
#include <vector>

struct ReleaseCoefficients
{
    // One-pole coefficients per sample: 1 - exp(-1 / (time constant * rate)).
    // Double precision: a float envelope stalls short of 1 when a long release
    // at a high rate moves it by less than half a rounding step per sample.
    double normal = 1.0;
    // Program-dependent release: a sustained gain level charges towards the
    // needed gain while reduction is needed and recovers with `slow`; the
    // envelope recovers with `fast` but never past that level. A short
    // transient barely charges the level, so it is followed by a fast release;
    // long reduction charges it fully and the release is slow.
    double fast = 1.0;
    double slow = 1.0;
    double charge = 1.0;
    bool automatic = false;
};

class GainComputer
{
public:
    explicit GainComputer(int window);

    // Linear ceiling above 0; peaks above it are brought down to just under it.
    void setCeiling(float ceiling);
    void setRelease(const ReleaseCoefficients& release);
    void reset();

    // gain[i] for peak[i]; peak values must be finite and not negative.
    // `gain` may be the same array as `peak`.
    void process(const float* peak, float* gain, int n);

    // True when, fed the same peaks from now on, both give the same gains:
    // the same envelopes and smoothing sum, provided both have been fed the
    // same peaks over the last window.
    bool sameFuture(const GainComputer& other) const;

private:
    static constexpr int kBlock = 256;

    void processBlock(const float* peak, float* gain, int n);
    void follow(const float* needed, float* envelopeOut, int n);
    void smooth(const float* envelopeIn, float* gain, int n);
    double recover(double needed);
    // One-pole step from `from` towards `to`, landing on it when close.
    static double approach(double from, double to, double coefficient);

    int window;
    std::int64_t unitySum;
    double sumToGain;
    SlidingMaximum maximum;
    float ceiling = 1.0f;
    float target = 1.0f;
    ReleaseCoefficients release;

    double envelope = 1.0;
    double sustained = 1.0;
    std::vector<float> scratch;
    // Envelope values in units of 2^-30, rounded down, and their exact sum.
    std::vector<std::int32_t> ring;
    int ringPos = 0;
    std::int64_t ringSum = 0;
};
