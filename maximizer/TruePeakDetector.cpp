#include "TruePeakDetector.h"

#include "dsp/HalfBand.h"
#include "dsp/QuarterSampleTaps.h"

#include <algorithm>
#include <cassert>
#include <cmath>

// The filters are compiled twice: for the baseline instruction set and, where
// the compiler can target it, for AVX, whose eight-lane vectors the processor
// is asked for once. Both do the same arithmetic in the same order (no fused
// multiply-add), so they give the same answers.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ORVEX_DETECTOR_AVX 1
#define ORVEX_DETECTOR_INLINE inline __attribute__((always_inline))
#else
#define ORVEX_DETECTOR_INLINE inline
#endif

namespace
{
constexpr double kPi = 3.14159265358979323846;

// Share of the band level added: the stages read that band with at least
// half of full gain.
constexpr float kBandWeight = 0.5f;

// Kaiser window shape per stage: the first stage's 90 dB images against a
// transition from 0.488 to 0.512 of the input rate; the others trade their
// wide transitions for passband errors of about 1e-4.
constexpr double kBeta[TruePeakDetector::kStages] = {9.0, 8.0, 7.0, 5.0};

// Odd points of one 2x stage: odd[j] = sum over k of c[k] (in[j - k] + in[j + 1 + k]).
// Four tap pairs per pass over the block; time runs in the inner loop, so it
// vectorises over samples.
ORVEX_DETECTOR_INLINE void oddPointsLong(const float* in, float* odd, int count, const float* c, int pairs)
{
    assert(pairs % 4 == 0);
    std::fill(odd, odd + count, 0.0f);
    for (int k = 0; k < pairs; k += 4)
    {
        const float c0 = c[k], c1 = c[k + 1], c2 = c[k + 2], c3 = c[k + 3];
        const float* a = in - k;
        const float* b = in + 1 + k;
        for (int j = 0; j < count; ++j)
            odd[j] += c0 * (a[j] + b[j]) + c1 * (a[j - 1] + b[j + 1]) + c2 * (a[j - 2] + b[j + 2]) +
                      c3 * (a[j - 3] + b[j + 3]);
    }
}

// The same for the short stages: all tap pairs at once per point.
template <int Pairs>
ORVEX_DETECTOR_INLINE void oddPointsShort(const float* in, float* odd, int count, const float* c)
{
    for (int j = 0; j < count; ++j)
    {
        float sum = 0.0f;
        for (int k = 0; k < Pairs; ++k)
            sum += c[k] * (in[j - k] + in[j + 1 + k]);
        odd[j] = sum;
    }
}

ORVEX_DETECTOR_INLINE void oddPoints(int stage, const float* in, float* odd, int count, const float* c)
{
    constexpr auto kPairs = TruePeakDetector::kPairs;
    static_assert(kPairs[1] == 7 && kPairs[2] == 5 && kPairs[3] == 3, "one instantiation per short stage");
    switch (stage)
    {
    case 0: oddPointsLong(in, odd, count, c, kPairs[0]); break;
    case 1: oddPointsShort<kPairs[1]>(in, odd, count, c); break;
    case 2: oddPointsShort<kPairs[2]>(in, odd, count, c); break;
    default: oddPointsShort<kPairs[3]>(in, odd, count, c); break;
    }
}

// Largest magnitude of the meter's three fractional phases for each position:
// phase r at x[i] + r / 4 is sum over k of c[r][k] x[i + kMeterAhead - k].
ORVEX_DETECTOR_INLINE void meterPoints(const float* x, float* largest, int n, const Dsp::QuarterSamplePhases& c)
{
    constexpr int kAhead = TruePeakDetector::kMeterAhead;
    std::fill(largest, largest + n, 0.0f);
    for (const auto& taps : c)
    {
        float sum[TruePeakDetector::kMaxBlock] = {};
        for (int k = 0; k < 12; ++k)
        {
            const float tap = taps[static_cast<std::size_t>(k)];
            const float* in = x + kAhead - k;
            for (int i = 0; i < n; ++i)
                sum[i] += tap * in[i];
        }
        for (int i = 0; i < n; ++i)
            largest[i] = std::max(largest[i], std::fabs(sum[i]));
    }
}

// |band-passed x| at x[-kBandSpan .. n + kBandSpan - 1], then the largest
// within kBandSpan either side of each of x[0 .. n-1].
ORVEX_DETECTOR_INLINE void bandLevel(const float* x, float* level, int n, const float* taps)
{
    constexpr int kReach = TruePeakDetector::kBandReach;
    constexpr int kSpan = TruePeakDetector::kBandSpan;
    float magnitude[TruePeakDetector::kMaxBlock + 2 * kSpan];
    const int count = n + 2 * kSpan;
    const float* in = x - kSpan;
    for (int i = 0; i < count; ++i)
        magnitude[i] = taps[0] * in[i];
    for (int k = 1; k <= kReach; ++k)
    {
        const float tap = taps[k];
        for (int i = 0; i < count; ++i)
            magnitude[i] += tap * (in[i - k] + in[i + k]);
    }
    for (int i = 0; i < count; ++i)
        magnitude[i] = std::fabs(magnitude[i]);
    for (int i = 0; i < n; ++i)
        level[i] = *std::max_element(magnitude + i, magnitude + i + 2 * kSpan + 1);
}

// out[2 j] = in[j], out[2 j + 1] = odd[j].
ORVEX_DETECTOR_INLINE void interleave(const float* in, const float* odd, float* out, int count)
{
    for (int j = 0; j < count; ++j)
    {
        out[2 * j] = in[j];
        out[2 * j + 1] = odd[j];
    }
}
// What one detection reads and writes: the stages' taps and output streams,
// the band-pass and the meter's phases.
struct Filters
{
    std::array<const float*, TruePeakDetector::kStages> taps;
    std::array<float*, TruePeakDetector::kStages> streams;
    const float* band;
    const Dsp::QuarterSamplePhases* meter;
};

ORVEX_DETECTOR_INLINE void detect(const Filters& f, const float* x, float* peak, int n)
{
    constexpr int kStages = TruePeakDetector::kStages;
    constexpr int kFactor = TruePeakDetector::kFactor;
    constexpr int kDelay = TruePeakDetector::kDelay;
    constexpr auto reach = TruePeakStages::reaches();
    // The answered positions are p = i - kDelay for i in [0, n). Stream s
    // (s = 0 the input) is needed from index 2^s (-kDelay) - reach[s].before
    // on, for 2^s n + before + after points; `from` is where that range starts
    // within the stream below it.
    float odd[kFactor / 2 * TruePeakDetector::kMaxBlock + 8];
    const float* in = x - kDelay - reach[0].before;
    for (int s = 0; s < kStages; ++s)
    {
        const TruePeakDetector::Reach& next = reach[static_cast<std::size_t>(s) + 1];
        const TruePeakDetector::Reach& here = reach[static_cast<std::size_t>(s)];
        const int rate = 1 << s;
        const int from = here.before - next.before / 2;
        const int count = rate * n + (next.before + next.after) / 2;
        oddPoints(s, in + from, odd, count, f.taps[static_cast<std::size_t>(s)]);
        if (s + 1 == kStages)
            break;
        float* out = f.streams[static_cast<std::size_t>(s)];
        interleave(in + from, odd, out, count);
        in = out;
    }
    // Now in[] is the stream at half the top rate starting at position
    // -kDelay (its reach before is 0 on the top stream), and odd[] the top
    // stream's odd points: position p's sixteen points are in[8 i .. 8 i + 7]
    // and odd[8 i .. 8 i + 7].
    const int half = kFactor / 2;
    const float scale = 1.0f + TruePeakDetector::kFilterError;
    const float* even = in + (reach[kStages - 1].before - reach[kStages].before / 2);
    float metered[TruePeakDetector::kMaxBlock], level[TruePeakDetector::kMaxBlock];
    meterPoints(x - kDelay, metered, n, *f.meter);
    bandLevel(x - kDelay, level, n, f.band);
    for (int i = 0; i < n; ++i)
    {
        float largest = 0.0f;
        for (int k = 1; k < half; ++k)
            largest = std::max(largest, std::fabs(even[half * i + k]));
        for (int k = 0; k < half; ++k)
            largest = std::max(largest, std::fabs(odd[half * i + k]));
        peak[i] = std::max({std::fabs(x[i - kDelay]), largest * scale + kBandWeight * level[i],
                            metered[i] * TruePeakDetector::kMeterScale});
    }
}

void detectBaseline(const Filters& f, const float* x, float* peak, int n)
{
    detect(f, x, peak, n);
}

#ifdef ORVEX_DETECTOR_AVX
__attribute__((target("avx"))) void detectAvx(const Filters& f, const float* x, float* peak, int n)
{
    detect(f, x, peak, n);
}

#endif
} // namespace

TruePeakDetector::TruePeakDetector(bool vectors)
{
#ifdef ORVEX_DETECTOR_AVX
    avx = vectors && __builtin_cpu_supports("avx") != 0;
#else
    (void)vectors;
#endif
    constexpr auto reach = TruePeakStages::reaches();
    for (int s = 0; s < kStages; ++s)
    {
        const int pairs = kPairs[static_cast<std::size_t>(s)];
        const std::vector<double> h = Dsp::halfBandPairs(pairs, kBeta[s]);
        double sum = 0.0;
        for (double v : h)
            sum += 2.0 * v;
        // Unity gain at DC, so steps and DC are not mistaken for overshoots.
        for (double v : h)
            taps[static_cast<std::size_t>(s)].push_back(static_cast<float>(v / sum));
        // Stream s + 1 spans 2^(s+1) n points plus its reach, at most.
        const int rate = 2 << s;
        const Reach& r = reach[static_cast<std::size_t>(s) + 1];
        streams[static_cast<std::size_t>(s)].assign(static_cast<std::size_t>(rate * kMaxBlock + r.before + r.after), 0.0f);
    }
    // Band-pass: a low-pass (Kaiser-windowed sinc, cut-off 0.028) shifted to
    // Nyquist by alternating its signs: it passes 0.485 to 0.5 of the rate in
    // full and rejects content below 0.46 by 30 dB and more.
    for (int k = 0; k <= kBandReach; ++k)
    {
        const double cutoff = 0.028;
        const double r = static_cast<double>(k) / (kBandReach + 1);
        const double window = Dsp::kaiserWindow(r, 5.0);
        const double lowPass = k == 0 ? 2.0 * cutoff : std::sin(2.0 * kPi * cutoff * k) / (kPi * k);
        band[static_cast<std::size_t>(k)] = static_cast<float>((k % 2 ? -1.0 : 1.0) * lowPass * window);
    }
    meter = Dsp::quarterSamplePhases();
}

void TruePeakDetector::samplePeak(const float* x, float* peak, int n)
{
    for (int i = 0; i < n; ++i)
        peak[i] = std::fabs(x[i - kDelay]);
}

void TruePeakDetector::truePeak(const float* x, float* peak, int n)
{
    assert(n <= kMaxBlock);
    Filters f{};
    for (int s = 0; s < kStages; ++s)
    {
        f.taps[static_cast<std::size_t>(s)] = taps[static_cast<std::size_t>(s)].data();
        f.streams[static_cast<std::size_t>(s)] = streams[static_cast<std::size_t>(s)].data();
    }
    f.band = band.data();
    f.meter = &meter;
#ifdef ORVEX_DETECTOR_AVX
    if (avx)
        return detectAvx(f, x, peak, n);
#endif
    detectBaseline(f, x, peak, n);
}
