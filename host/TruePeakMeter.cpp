#include "TruePeakMeter.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <immintrin.h>
#define ORVEX_TRUE_PEAK_X86 1
#endif

// Each interpolated point is summed tap by tap from zero, in the same order
// on every path, so the paths agree exactly. Tiles of consecutive outputs
// stay in registers across all taps, in independent sums that keep the adder
// busy.
namespace
{
constexpr std::size_t kTaps = TruePeakMeter::kTaps;

float tailPeak(const float* line, const float* taps, std::size_t from, std::size_t count, float peak)
{
    for (std::size_t n = from; n < count; ++n)
    {
        float sum = 0.0f;
        for (std::size_t tap = 0; tap < kTaps; ++tap)
            sum += taps[tap] * line[n + (kTaps - 1 - tap)];
        peak = std::max(peak, std::fabs(sum));
    }
    return peak;
}

bool processorHasAvx()
{
#ifdef ORVEX_TRUE_PEAK_X86
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
#else
    return false;
#endif
}
} // namespace

#ifndef ORVEX_TRUE_PEAK_X86
float TruePeakMeter::phasePeakBaseline(const float* line, const float* taps, std::size_t count)
{
    return tailPeak(line, taps, 0, count, 0.0f);
}

float TruePeakMeter::phasePeakAvx(const float* line, const float* taps, std::size_t count)
{
    return tailPeak(line, taps, 0, count, 0.0f);
}
#else

float TruePeakMeter::phasePeakBaseline(const float* line, const float* taps, std::size_t count)
{
    const __m128 sign = _mm_set1_ps(-0.0f);
    __m128 peak = _mm_setzero_ps();
    std::size_t n = 0;
    for (; n + 16 <= count; n += 16)
    {
        __m128 sum[4] = {_mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps()};
        for (std::size_t tap = 0; tap < kTaps; ++tap)
        {
            const __m128 coefficient = _mm_set1_ps(taps[tap]);
            const float* x = line + n + (kTaps - 1 - tap);
            for (int k = 0; k < 4; ++k)
                sum[k] = _mm_add_ps(sum[k], _mm_mul_ps(coefficient, _mm_loadu_ps(x + 4 * k)));
        }
        for (int k = 0; k < 4; ++k)
            peak = _mm_max_ps(_mm_andnot_ps(sign, sum[k]), peak); // NaN sums leave the peak alone
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, peak);
    return tailPeak(line, taps, n, count, std::max({lanes[0], lanes[1], lanes[2], lanes[3]}));
}

__attribute__((target("avx"))) float TruePeakMeter::phasePeakAvx(const float* line, const float* taps,
                                                                 std::size_t count)
{
    const __m256 sign = _mm256_set1_ps(-0.0f);
    __m256 peak = _mm256_setzero_ps();
    std::size_t n = 0;
    for (; n + 32 <= count; n += 32)
    {
        __m256 sum[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
        for (std::size_t tap = 0; tap < kTaps; ++tap)
        {
            const __m256 coefficient = _mm256_set1_ps(taps[tap]);
            const float* x = line + n + (kTaps - 1 - tap);
            for (int k = 0; k < 4; ++k)
                sum[k] = _mm256_add_ps(sum[k], _mm256_mul_ps(coefficient, _mm256_loadu_ps(x + 8 * k)));
        }
        for (int k = 0; k < 4; ++k)
            peak = _mm256_max_ps(_mm256_andnot_ps(sign, sum[k]), peak);
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, peak);
    return tailPeak(line, taps, n, count, *std::max_element(lanes, lanes + 8));
}
#endif

TruePeakMeter::TruePeakMeter(int channelCount, int sampleRate, bool allowAvx)
    : useAvx(allowAvx && processorHasAvx()), channels(channelCount), phases(sampleRate < 96000 ? 4 : (sampleRate < 192000 ? 2 : 1)),
      history(static_cast<std::size_t>(channelCount)), maximum(static_cast<std::size_t>(channelCount), 0.0f)
{
    // Hann-windowed sinc, cut off at the original Nyquist frequency; each
    // phase scaled to unity gain at DC so oversampling adds no level.
    const double pi = std::acos(-1.0);
    // An odd length centres the filter on an input sample, so the
    // interpolated points fall at exact fractions of a sample.
    const int length = (kTaps - 1) * phases + 1;
    const double centre = (length - 1) / 2.0;
    for (int phase = 0; phase < phases; ++phase)
    {
        double sum = 0.0;
        double taps[kTaps] = {};
        for (int tap = 0; tap < kTaps && tap * phases + phase < length; ++tap)
        {
            const double m = tap * phases + phase;
            const double x = (m - centre) / phases;
            // Exact zeros where the sinc crosses zero, so phase 0 is the input itself.
            const double sinc = x == 0.0 ? 1.0 : (x == std::floor(x) ? 0.0 : std::sin(pi * x) / (pi * x));
            taps[tap] = sinc * (0.5 - 0.5 * std::cos(2.0 * pi * (m + 1) / (length + 1)));
            sum += taps[tap];
        }
        for (int tap = 0; tap < kTaps; ++tap)
            phaseTaps[static_cast<std::size_t>(phase)][static_cast<std::size_t>(tap)] = static_cast<float>(taps[tap] / sum);
    }
    for (auto& channel : history)
        channel.fill(0.0f);
}

void TruePeakMeter::add(const float* interleaved, std::int64_t frames)
{
    if (frames <= 0)
        return;
    const std::size_t count = static_cast<std::size_t>(frames);
    if (line.size() < kTaps - 1 + count)
        line.resize(kTaps - 1 + count); // grow to the largest block, once
    for (int c = 0; c < channels; ++c)
    {
        std::array<float, kTaps - 1>& past = history[static_cast<std::size_t>(c)];
        std::copy(past.begin(), past.end(), line.begin());
        float peak = 0.0f;
        for (std::size_t n = 0; n < count; ++n)
        {
            line[kTaps - 1 + n] = interleaved[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
            peak = std::max(peak, std::fabs(line[kTaps - 1 + n]));
        }
        // Phase 0 falls on the samples themselves: its peak is the sample peak.
        for (std::size_t p = 1; p < static_cast<std::size_t>(phases); ++p)
            peak = std::max(peak, useAvx ? phasePeakAvx(line.data(), phaseTaps[p].data(), count)
                                         : phasePeakBaseline(line.data(), phaseTaps[p].data(), count));
        std::copy(line.begin() + static_cast<std::ptrdiff_t>(count), line.begin() + static_cast<std::ptrdiff_t>(count) + kTaps - 1,
                  past.begin());
        float& channelMaximum = maximum[static_cast<std::size_t>(c)];
        channelMaximum = std::max(channelMaximum, peak);
    }
}

double TruePeakMeter::peak() const
{
    return maximum.empty() ? 0.0 : *std::max_element(maximum.begin(), maximum.end());
}
