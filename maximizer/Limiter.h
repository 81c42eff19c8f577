// Stereo brickwall lookahead limiter: the DSP core of the maximizer plug-in,
// free of any plug-in interface.
//
// Signal path per channel: input x drive (the threshold), then a delay line of
// kLatency samples, times the gain from a GainComputer, then a final clamp to
// the ceiling (a safety net: the gain already keeps the samples under it).
// The side chain sees the driven input through the TruePeakDetector (sample or
// true peak, the same delay either way), so the gain has reached its value by
// the time a peak leaves the delay line. Channels are linked by letting each
// channel's detector also see `link` times the other channel's peak.
// In true-peak mode each sample's gain also answers for the inter-sample peaks
// up to kHold samples (and one interval) on either side of it, so the gain is
// flat over the samples next to every peak, where the interpolation has most
// of its weight, and the output's interpolated peak is the input's scaled by
// that gain. Two samples are enough for the tests' stress signals to stay
// within 0.02 dB; each longer hold lowers the loudness of bright, densely
// limited material (by about 0.2 LU at 16 samples).
//
// Latency: kLatency (216) samples at every sample rate and setting, in both
// peak modes.
// Every output sample stays at or under the ceiling. True-peak mode also holds
// the output's true peak at the ceiling, because the side chain reads each
// sample's neighbourhood no lower than the meters that check it do:
//  - the 16x interpolation reads every sixteenth of a sample, within
//    kFilterError of the ideal interpolation for content up to 0.488 of the
//    rate, and is scaled up by that error;
//  - the content above 0.488 of the rate, which it reads with between half
//    and full gain, adds half its band-passed level on top;
//  - the common 4x, 49-tap meter's points are read as that meter reads them,
//    so a meter of that design never reads the output above the ceiling.
// (See TruePeakDetector.h.) Between sixteenths of a sample the ideal
// interpolation can rise by 1 / cos(pi B / 16) over the largest grid point
// (B the content's bandwidth): meters that read sixteenths, quarters or
// halves of a sample read the same points.
// With a gain of 1 (nothing above the ceiling within reach) the output is the
// input delayed by kLatency samples, bit for bit.
// Non-finite input samples are processed as silence.
// All buffers are allocated by the constructor; process() never allocates and
// takes blocks of any length. Not thread-safe: the owner serialises calls.
#pragma once

#include "GainComputer.h"
#include "SlidingMaximum.h"
#include "TruePeakDetector.h"

#include <array>
#include <cstdint>
#include <vector>

struct LimiterSettings
{
    float thresholdDb = 0.0f; // 0 to -30: lowering it drives the input up by as much
    float ceilingDb = -0.1f;  // -30 to 0: the output's peak never exceeds it
    float releaseMs = 100.0f; // 1 to 1000: time constant of the recovery
    float link = 1.0f;        // 0 (independent channels) to 1 (one common gain)
    bool truePeak = false;    // detect inter-sample peaks by 16x interpolation
    bool autoRelease = false; // program-dependent release

    bool operator==(const LimiterSettings& o) const
    {
        return thresholdDb == o.thresholdDb && ceilingDb == o.ceilingDb && releaseMs == o.releaseMs &&
               link == o.link && truePeak == o.truePeak && autoRelease == o.autoRelease;
    }
    bool operator!=(const LimiterSettings& o) const { return !(*this == o); }
};

class Limiter
{
public:
    static constexpr int kChannels = 2;
    // Samples over which the gain ramps down ahead of a peak.
    static constexpr int kLookahead = 81;
    // Samples on either side of a true peak over which its gain is held.
    static constexpr int kHold = 2;
    static constexpr int kLatency = TruePeakDetector::kDelay + kHold + kLookahead - 1;
    static_assert(kLatency >= TruePeakDetector::kDelay + kHold, "the sample-peak detector reads inside the delay");

    Limiter();

    // Both recompute the time constants; neither touches the audio state.
    // Once audio runs, a new threshold ramps in over 20 ms, and a lowered
    // ceiling reaches the final clamp when the samples limited for the old
    // one have left the delay line.
    void setSampleRate(double rate);
    void setSettings(const LimiterSettings& settings);
    const LimiterSettings& getSettings() const { return settings; }

    // Clears the delay line and the gain state (silence in, unity gain).
    void reset();

    // Processes `frames` frames of two channels. Input and output channels may
    // be the same buffers. With `accumulate` the result is added to the
    // outputs instead of replacing them. Null channel pointers read as silence
    // and are not written.
    void process(const float* const* inputs, float* const* outputs, int frames, bool accumulate);

    // Output samples the final clamp had to bring to the ceiling since reset().
    std::uint64_t clampedSamples() const { return clamped; }

private:
    static constexpr int kChunk = TruePeakDetector::kMaxBlock;
    // Samples kept before each chunk: the delay, or the true-peak detector's
    // history where that reaches further back.
    static constexpr int kKept = kLatency > TruePeakDetector::kHistory ? kLatency : TruePeakDetector::kHistory;

    void updateCoefficients();
    void processChunk(const float* const* inputs, float* const* outputs, int offset, int n, bool accumulate);
    void loadInput(const float* input, float* history, int offset, int n) const;
    void advanceDriveRamp(int n);
    // The drive of the last sample loaded, and the ramp's drive k samples in.
    float currentDrive() const;
    float rampedDrive(int k) const { return driveFrom + driveStep * static_cast<float>(k); }
    void detectPeaks(int n);
    void linkPeaks(int n);
    void writeOutput(const float* delayed, const float* gain, float* output, int n, bool accumulate);
    // Writes delayed x gain clamped to +-limit; answers how many were clamped.
    static std::uint32_t clampTo(float limit, const float* delayed, const float* gain, float* output, int n,
                                 bool accumulate);

    LimiterSettings settings;
    double sampleRate = 44100.0;
    // The drive the threshold asks for, and a ramp towards it from driveFrom
    // over driveRampLength samples (driveRampLeft of them to go).
    float drive = 1.0f;
    float driveFrom = 1.0f;
    float driveStep = 0.0f;
    int driveRampLength = 0;
    int driveRampLeft = 0;
    float ceiling = 1.0f;
    // The final clamp's ceiling: after the ceiling is lowered, the old one
    // for the clampHoldLeft samples still in the delay line.
    float clampCeiling = 1.0f;
    int clampHoldLeft = 0;
    // False until the first samples after construction or reset(): until
    // then new settings apply at once.
    bool running = false;
    // One chain for both channels; while linking, samples for which both
    // chains have been fed the common peaks.
    bool linked = true;
    int commonPeaksFor = 0;

    TruePeakDetector detector;
    // Per channel: kKept samples of history followed by the current chunk.
    std::array<std::vector<float>, kChannels> history;
    std::array<std::vector<float>, kChannels> peaks;
    std::array<std::vector<float>, kChannels> gains;
    std::array<GainComputer, kChannels> computers;
    // Per channel, true-peak mode: the largest true peak within kHold samples
    // and one interval of the sample whose gain is being computed.
    std::array<SlidingMaximum, kChannels> holds;
    std::uint64_t clamped = 0;
};
