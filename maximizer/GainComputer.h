// Turns a stream of side-chain peaks into the gain that keeps them under the
// ceiling. Per sample:
//  1. the maximum peak over the last `window` samples sets the needed gain
//     r = ceiling / peak (1 when the peak is under the ceiling);
//  2. an envelope falls to r at once and recovers towards it with the release
//     time constant (or the program-dependent release);
//  3. a moving average over `window` samples smooths the envelope into a ramp.
// The moving average at time t covers exactly the samples during which a peak
// arriving at t - window + 1 was held, so the gain at that instant is at most
// the gain the peak needs: the signal path must delay the audio by window - 1
// samples past the peak's arrival. When nothing needed reduction during the
// last two windows the gain is exactly 1.
// Buffers are allocated by the constructor; nothing else allocates.
// Not thread-safe: owned by the audio thread.
#pragma once

#include "SlidingMaximum.h"

#include <vector>

struct ReleaseCoefficients
{
    // One-pole coefficients per sample: 1 - exp(-1 / (time constant * rate)).
    float normal = 1.0f;
    // Program-dependent release: fast below the sustained gain level, slow above
    // it, and the rate at which that level follows the envelope.
    float fast = 1.0f;
    float slow = 1.0f;
    float sustain = 1.0f;
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
    void process(const float* peak, float* gain, int n);

private:
    float smooth(float envelope);
    float recover(float needed);

    int window;
    double inverseWindow;
    SlidingMaximum maximum;
    float ceiling = 1.0f;
    float target = 1.0f;
    ReleaseCoefficients release;

    float envelope = 1.0f;
    float sustained = 1.0f;
    std::vector<float> ring;
    int ringPos = 0;
    double ringSum = 0.0;
    int reducedCount = 0;
};
