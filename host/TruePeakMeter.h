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

    // allowAvx: use the processor's 256-bit instructions where it has them
    // (the figures are the same either way).
    TruePeakMeter(int channels, int sampleRate, bool allowAvx = true);

    void add(const float* interleaved, std::int64_t frames);
    double peak() const; // linear, at least the sample peak

    // Stage s's odd points: out[2 j + 1] = sum over k of taps[k] * (in[j - k] + in[j + 1 + k]).
    const std::vector<float>& stageTaps(int stage) const { return taps[static_cast<std::size_t>(stage)]; }

private:
    // Input frames run through the stages at a time.
    static constexpr std::size_t kChunk = 1024;

    // One channel's stages: each holds its input stream's history (the
    // 2 kPairs[s] - 1 points its next odd point needs) followed by new points.
    struct Channel
    {
        std::array<std::vector<float>, kStages> streams;
        std::array<std::size_t, kStages> used{};         // points held per stream
        std::array<std::int64_t, kStages> position{};   // of streams[s][0], in 1/2^s samples
        float maximum = 0.0f;
    };

    // Appends `count` input samples (nullptr: silence) to channel's first
    // stream, runs every stage over what it can compute and counts the
    // top-rate points before `end` (in sixteenths of a sample).
    void run(Channel& channel, const float* in, std::size_t stride, std::size_t count, std::int64_t end,
             std::vector<float>& scratch) const;

    bool useAvx;
    int channels;
    std::int64_t frames = 0;
    std::array<std::vector<float>, kStages> taps;
    std::vector<Channel> state;
    std::vector<float> odd; // the largest stage's odd points
};
