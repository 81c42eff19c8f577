// True peak of interleaved float frames: the largest magnitude of the signal
// interpolated at sixteenths of a sample, at every sample rate, by four 2x
// half-band stages (Kaiser-windowed sincs):
//  - the first is a +-256-sample sinc with a beta-12 Kaiser window: exactly
//    the half-sample phase of the long windowed sinc a careful offline meter
//    uses, so content up to about 0.49 of the rate (noise, clipped material,
//    edges) and the band next to Nyquist are read as such a meter reads them;
//  - the other three see content below a quarter of their rate and are short
//    (their passband errors are under 1e-5).
// The points fall on the same sixteenths of a sample as a 16-phase meter's,
// so the figure agrees with a +-256-tap 16-phase windowed sinc in double
// precision to within float rounding (checked against one in the tests).
// Points before the first sample and after the last one (where the stream
// is padded with silence) are not counted.
//
// The long stage is a fast convolution: overlap-save with 2048-point
// transforms, two channels in one complex transform, on a fixed grid of hops
// counted from the stream's start, so every half-sample point is the same
// whatever blocks the audio arrives in. The short stages run over whole hops
// in single precision, in tiles that stay in registers (256-bit where the
// processor has AVX).
//
// Where it cannot change the figure, the short stages are skipped: none of
// their points exceeds the largest half-sample-rate point it is made from
// times their gain bound (the sum of the magnitudes of their taps, the
// largest over their 8 phases, with a margin for float rounding), so a hop
// whose half-sample-rate points, with those before it that its points read,
// stay under the largest true peak found so far divided by that bound is not
// interpolated further. The next hop interpolated starts the short stages
// afresh early enough to compute every point it would have computed, with
// the same arithmetic: the figure is the same to the last bit.
// Allocates at construction only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class TruePeakMeter
{
public:
    static constexpr int kStages = 4;
    static constexpr int kFactor = 1 << kStages;
    // Tap pairs per stage, first (input rate) to last.
    static constexpr std::array<int, kStages> kPairs = {256, 12, 8, 6};

    // allowAvx: use the processor's 256-bit instructions where it has them;
    // skipQuiet: skip the blocks that cannot reach the peak (the figures are
    // the same either way).
    TruePeakMeter(int channels, int sampleRate, bool allowAvx = true, bool skipQuiet = true);

    void add(const float* interleaved, std::int64_t frames);
    double peak() const; // linear, at least the sample peak

    // Stage s's odd points: out[2 j + 1] = sum over k of taps[k] * (in[j - k] + in[j + 1 + k]).
    const std::vector<float>& stageTaps(int stage) const { return taps[static_cast<std::size_t>(stage)]; }
    // No point of the interpolation exceeds this times the largest magnitude
    // of the input samples it is made from (with a margin for rounding).
    double gainBound() const { return bound; }
    // Frames, counted per channel, that the short stages skipped.
    std::int64_t framesSkipped() const { return state.skippedFrames; }

private:
    // The long stage's transform, the input samples each of its points reads
    // (2 kPairs[0]), and the points one transform yields.
    static constexpr std::size_t kFftSize = 2048;
    static constexpr std::size_t kSpan = 2 * static_cast<std::size_t>(kPairs[0]);
    static constexpr std::size_t kHop = kFftSize - kSpan + 1;
    // Half-sample points computed before the first sample: the short stages
    // read this far back (their first stream starts with them).
    static constexpr std::int64_t kLead = 64;
    // Points of the half-sample-rate stream that the short stages' points at
    // and after a hop's first read before it, and that a fresh start of the
    // short stages reads first.
    static constexpr std::size_t kReach = 2 * static_cast<std::size_t>(kPairs[1]) - 1 + 64;

    // One channel: the long stage's input window, then each short stage's
    // input stream holding its history (the 2 kPairs[s] - 1 points its next
    // odd point needs) followed by new points.
    struct Channel
    {
        std::vector<float> window; // input samples from the hop's first point - (kPairs[0] - 1)
        std::array<std::vector<float>, kStages> streams; // [1] .. [kStages - 1]
        std::array<std::size_t, kStages> used{};        // points held per stream
        std::array<std::int64_t, kStages> position{};  // of streams[s][0], in 1/2^s samples
        float maximum = 0.0f;
        std::vector<float> recent; // the last kReach points of streams[1]'s input
        bool skipped = false;      // the short stages stopped at a skipped hop
    };

    // What a measurement holds between calls (peak() finishes a copy).
    struct State
    {
        std::vector<Channel> channels;
        std::size_t windowUsed = 0;   // samples held in each window
        std::int64_t hopStart = 0;    // the next hop's first half-sample point, in samples
        std::int64_t skippedFrames = 0;
    };

    struct Scratch
    {
        std::vector<float> transform; // kFftSize complex values
        std::vector<float> doubled;   // one channel's half-sample-rate points of a hop
        std::vector<float> odd;       // the largest short stage's odd points
    };
    Scratch makeScratch() const;

    // Runs the long stage over every window (full) and the short ones over
    // its points, counting top-rate points before `end` (in sixteenths of a
    // sample), then moves the windows on by a hop.
    void hop(State& state, Scratch& scratch, std::int64_t end) const;
    // Feeds a hop's half-sample-rate points (`count`, the first at 2 x
    // `first` in half samples) to a channel's short stages, or skips them.
    void feed(State& state, Channel& channel, const float* points, std::size_t count, std::int64_t first,
              std::int64_t end, Scratch& scratch) const;
    // Runs the short stages over what their streams hold.
    void run(Channel& channel, std::int64_t end, std::vector<float>& odd) const;
    // Whether `count` new points, with the kReach before them, cannot yield
    // a top-rate point above the largest found so far.
    bool cannotReachPeak(const State& state, const Channel& channel, const float* points, std::size_t count) const;

    bool useAvx;
    bool skipQuiet;
    double bound = 0.0;      // of the whole interpolator
    double shortBound = 0.0; // of the short stages, from the half-sample-rate stream
    int channels;
    std::int64_t frames = 0;
    std::array<std::vector<float>, kStages> taps;
    std::vector<float> spectrum; // the long stage's kernel, transformed and scaled by 1 / kFftSize
    State state;
    Scratch work;
};
