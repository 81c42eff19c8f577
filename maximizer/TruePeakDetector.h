// Peak detection for the limiter's side chain, on a stream held in a history
// buffer. Two modes:
//  - sample peak: |x| of the sample kDelay positions back;
//  - true peak: the largest magnitude among that sample and the 15 points at
//    sixteenths of a sample after it, from a 16x interpolation built as four
//    2x half-band stages (Kaiser-windowed sincs). The first stage does the
//    hard work: 128 tap pairs (+-128 samples), flat within 3e-5 up to 0.488
//    of the sample rate, images 90 dB down, so full-band content (noise,
//    clipped material, edges) reads as a long high-quality interpolator
//    reads it.
//    The other stages see content below a quarter of their rate and need
//    7, 5 and 3 tap pairs.
//
// How close the answer is to the signal's true peak (the largest magnitude
// of its ideal band-limited interpolation), for content up to 0.488 of the
// sample rate:
//  - filter error: the four stages' passband errors add up to under
//    kFilterError of the signal's peak (their images are further down);
//  - grid error: a band-limited signal is within cos(pi B / 16) of its
//    maximum at the nearest sixteenth of a sample (B its bandwidth in cycles
//    per sample): at most 0.040 dB low at B = 0.488, 0.017 dB at 20 kHz of
//    44.1 kHz. A meter that also reads sixteenths (or quarters, or halves) of
//    a sample reads the same points, so only the filter error remains.
// The interpolated points (not the sample itself) are scaled up by
// 1 + kFilterError, so the answer is never below what the filter error
// allows the ideal interpolation to reach on that grid.
// Content between 0.488 of the rate and Nyquist is read with between half and
// full gain (the ideal interpolator has no bound on a suddenly starting
// Nyquist tone; long ones read it nearly in full): a band-pass takes out that
// band and half its level nearby is added to the interpolated points. The
// band-pass starts a little lower (it rejects only what lies below 0.46):
// a gain that moves quickly between dense peaks spreads their content
// towards Nyquist, and fast-release limiting of white noise needs that margin.
// Meters built to the common design (4x, one 49-tap Hann-windowed sinc, not
// scaled to unity gain) read up to 0.33 dB above the signal between 6 and
// 15 kHz at 44.1 kHz; their three fractional points are computed too, so the
// answer is never below such a meter's reading either.
//
// Both modes answer with the same delay of kDelay samples, so switching modes
// never changes the limiter's latency. The coefficients are built by the
// constructor; detection allocates nothing. truePeak() works in the
// instance's scratch buffers: one caller at a time.
#pragma once

#include "dsp/QuarterSampleTaps.h"

#include <array>
#include <cstddef>
#include <vector>

// The interpolator's stages and how far each reaches, at compile time.
namespace TruePeakStages
{
constexpr int kCount = 4;
// Tap pairs per half-band stage, first (input rate) to last.
constexpr std::array<int, kCount> kPairs = {128, 7, 5, 3};

// Points a stage's input stream must hold before and after the span that
// stage's output covers, counted at the input stream's rate.
struct Reach
{
    int before;
    int after;
};

// reaches()[s] for stream s (0 the input, kCount the top rate). Stage s makes
// stream s + 1 from stream s; its odd points need kPairs[s] inputs on either
// side. The last stage only makes odd points, of the block itself; each reach
// is rounded up to even so that it lands on the slower stream's samples.
constexpr std::array<Reach, kCount + 1> reaches()
{
    std::array<Reach, kCount + 1> r{};
    r[kCount] = {0, 0};
    for (int s = kCount - 1; s >= 0; --s)
    {
        const int before = r[static_cast<std::size_t>(s) + 1].before / 2 + kPairs[static_cast<std::size_t>(s)] - 1;
        const int after = r[static_cast<std::size_t>(s) + 1].after / 2 + kPairs[static_cast<std::size_t>(s)];
        r[static_cast<std::size_t>(s)] = s == 0 ? Reach{before, after} : Reach{before + before % 2, after + after % 2};
    }
    return r;
}
} // namespace TruePeakStages

class TruePeakDetector
{
public:
    static constexpr int kMaxBlock = 256;
    static constexpr int kStages = TruePeakStages::kCount;
    static constexpr int kFactor = 1 << kStages;
    static constexpr std::array<int, kStages> kPairs = TruePeakStages::kPairs;
    // Bound on the summed passband error of the stages, as a fraction of the
    // input's peak; checked against the designed filters by the tests.
    static constexpr float kFilterError = 5.0e-4f;
    using Reach = TruePeakStages::Reach;
    // Samples between the newest input and the position whose peak is answered.
    static constexpr int kDelay = TruePeakStages::reaches()[0].after;
    // Samples of history the caller must keep before x[0].
    static constexpr int kHistory = kDelay + TruePeakStages::reaches()[0].before;
    // The meter's points at x[i] + r / 4 read x[i - 5] to x[i + kMeterAhead].
    static constexpr int kMeterAhead = Dsp::kQuarterSampleAhead;
    static_assert(kDelay >= kMeterAhead && kHistory - kDelay >= 5, "the meter reads within the stages' reach");
    // The meter's points are computed in single precision from taps rounded
    // to it: scaled up this little, they are never below the meter's own.
    static constexpr float kMeterScale = 1.0f + 1.0f / (1 << 16);
    // The band next to Nyquist that the stages read with less than full gain
    // is taken out by a band-pass of +-kBandReach taps; its magnitude, the
    // largest within kBandSpan samples either side, is added to the
    // interpolated points.
    static constexpr int kBandReach = 54;
    static constexpr int kBandSpan = 8;
    static_assert(kDelay >= kBandReach + kBandSpan && kHistory - kDelay >= kBandReach + kBandSpan,
                  "the band-pass reads within the stages' reach");

    // `vectors` false keeps the filters to the baseline instruction set even
    // where the processor has AVX (the answers are the same either way).
    explicit TruePeakDetector(bool vectors = true);

    // peak[i] = max |x(i - kDelay + k / 16)| for k = 0 .. 15, where x(t) is the
    // interpolated signal (the interpolated points scaled by 1 + kFilterError);
    // x[-kHistory .. n-1] must be readable; n <= kMaxBlock.
    void truePeak(const float* x, float* peak, int n);

    // peak[i] = |x[i - kDelay]|; x[-kDelay .. n-1] must be readable.
    static void samplePeak(const float* x, float* peak, int n);

    // Stage s's odd points: out[2 j + 1] = sum over k of taps[k] * (in[j - k] + in[j + 1 + k]).
    const std::vector<float>& stageTaps(int stage) const { return taps[static_cast<std::size_t>(stage)]; }

private:
    std::array<std::vector<float>, kStages> taps;
    // Each stage's output stream; the last stage's odd points only.
    std::array<std::vector<float>, kStages> streams;
    // Band-pass taps 0 .. kBandReach (symmetric).
    std::array<float, kBandReach + 1> band;
    // The meter's phases 1/4, 1/2 and 3/4, twelve taps each.
    Dsp::QuarterSamplePhases meter;
    // Whether the processor runs the filters' AVX build.
    bool avx = false;
};
