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
// The long stage runs over whole blocks in single precision, in tiles that
// stay in registers (256-bit where the processor has AVX); the 256 tap
// pairs cost about as much as the rest of a render's analysis.
//
// Where it cannot change the figure, the interpolation is skipped: no
// interpolated point exceeds the largest input magnitude it is made from
// times the interpolator's gain bound (the sum of the magnitudes of its taps,
// the largest over the 16 phases: 4.03, +12.1 dB, with a margin for float
// rounding), so a block of input whose magnitudes, with the samples before it
// that its points read, stay under the largest true peak found so far divided
// by that bound is not interpolated. The next block interpolated starts the
// stages afresh early enough to compute every point it would have computed,
// with the same arithmetic: the figure is the same to the last bit.
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
    // No point of the computed interpolation exceeds this times the largest
    // magnitude of the input samples it is made from.
    double gainBound() const { return bound; }
    // Frames, counted per channel, that were not interpolated.
    std::int64_t framesSkipped() const { return skippedFrames; }

private:
    // Input frames run through the stages at a time.
    static constexpr std::size_t kChunk = 1024;
    // Input samples that the points of one run read before its first new
    // sample (2 kPairs[0] - 1 for the first stage and a few for the histories
    // of the short ones), and that a fresh start of the stages reads first.
    static constexpr std::size_t kReach = 2 * static_cast<std::size_t>(kPairs[0]) - 1 + 64;

    // One channel's stages: each holds its input stream's history (the
    // 2 kPairs[s] - 1 points its next odd point needs) followed by new points.
    struct Channel
    {
        std::array<std::vector<float>, kStages> streams;
        std::array<std::size_t, kStages> used{};         // points held per stream
        std::array<std::int64_t, kStages> position{};   // of streams[s][0], in 1/2^s samples
        float maximum = 0.0f;
        std::vector<float> recent; // the last kReach input samples
        bool skipped = false;      // the stages stopped at a skipped block
    };

    // Appends `count` input samples (nullptr: silence) to channel's first
    // stream, runs every stage over what it can compute and counts the
    // top-rate points before `end` (in sixteenths of a sample).
    void run(Channel& channel, const float* in, std::size_t stride, std::size_t count, std::int64_t end,
             std::vector<float>& scratch) const;
    // Whether `count` new samples, with the kReach before them, cannot yield
    // a point above the largest found so far.
    bool cannotReachPeak(const Channel& channel, const float* in, std::size_t stride, std::size_t count) const;
    // Empties the stages and refills the first with the last kReach samples,
    // whose position starts at `first`.
    static void restart(Channel& channel, std::int64_t first);
    static void remember(Channel& channel, const float* in, std::size_t stride, std::size_t count);

    bool useAvx;
    bool skipQuiet;
    double bound = 0.0;
    int channels;
    std::int64_t frames = 0;
    std::int64_t skippedFrames = 0;
    std::array<std::vector<float>, kStages> taps;
    std::vector<Channel> state;
    std::vector<float> odd; // the largest stage's odd points
};
