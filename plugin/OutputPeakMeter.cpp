#include "plugin/OutputPeakMeter.h"

#include "plugin/GainMeter.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace
{
constexpr int kTaps = Dsp::kQuarterSampleTaps;

// The largest magnitude of the samples x[0 .. n-1] and of the three points
// after each of x[-kAhead .. n-1-kAhead]: the point at x[i] + r / 4 reads
// x[i - 5] to x[i + kAhead], so x[-11 .. n-1] must be readable. A NaN leaves
// the maximum alone.
float loudestPlain(const float* x, int n, const Dsp::QuarterSamplePhases& phases)
{
    float largest = 0.0f;
    for (int i = 0; i < n; ++i)
    {
        largest = std::max(largest, std::fabs(x[i]));
        for (const auto& taps : phases)
        {
            float sum = 0.0f;
            for (int k = 0; k < kTaps; ++k)
                sum += taps[static_cast<std::size_t>(k)] * x[i - k];
            largest = std::max(largest, std::fabs(sum));
        }
    }
    return largest;
}

#if defined(__x86_64__) || defined(__i386__)
// Eight points of each phase at a time, their taps' inputs loaded once.
__attribute__((target("avx2,fma"))) float loudestAvx2(const float* x, int n, const Dsp::QuarterSamplePhases& phases)
{
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    __m256 lanes = _mm256_setzero_ps();
    int i = 0;
    for (; i + 8 <= n; i += 8)
    {
        __m256 sums[3] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
        for (int k = 0; k < kTaps; ++k)
        {
            const __m256 in = _mm256_loadu_ps(x + i - k);
            for (int r = 0; r < 3; ++r)
                sums[r] = _mm256_fmadd_ps(_mm256_set1_ps(phases[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)]),
                                          in, sums[r]);
        }
        // max(a, b) with b NaN keeps a.
        lanes = _mm256_max_ps(_mm256_and_ps(_mm256_loadu_ps(x + i), magnitude), lanes);
        for (const __m256 sum : sums)
            lanes = _mm256_max_ps(_mm256_and_ps(sum, magnitude), lanes);
    }
    float each[8];
    _mm256_storeu_ps(each, lanes);
    float largest = *std::max_element(each, each + 8);
    return std::max(largest, i < n ? loudestPlain(x + i, n - i, phases) : 0.0f);
}

float (*chooseLoudest())(const float*, int, const Dsp::QuarterSamplePhases&)
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? &loudestAvx2 : &loudestPlain;
}

const auto loudestPoint = chooseLoudest();
#else
const auto loudestPoint = &loudestPlain;
#endif
} // namespace

OutputPeakMeter::OutputPeakMeter() : phases(Dsp::quarterSamplePhases()) {}

void OutputPeakMeter::setSampleRate(float sampleRate)
{
    if (sampleRate > 0.0f)
        rate = sampleRate;
}

void OutputPeakMeter::restart()
{
    for (auto& channel : buffer)
        channel.fill(0.0f);
    blockDb.store(kFloorDb, std::memory_order_relaxed);
    holdDb.store(kFloorDb, std::memory_order_relaxed);
}

void OutputPeakMeter::measure(const float* const* out, int n)
{
    if (n <= 0)
        return;
    float largest = 0.0f;
    for (int done = 0; done < n;)
    {
        const int piece = std::min(kPiece, n - done);
        for (std::size_t c = 0; c < buffer.size(); ++c)
        {
            float* x = buffer[c].data();
            std::copy(out[c] + done, out[c] + done + piece, x + kHistory);
            largest = std::max(largest, loudestPoint(x + kHistory, piece, phases));
            std::copy(x + piece, x + piece + kHistory, x);
        }
        done += piece;
    }
    const float level = largest > 0.0f ? 20.0f * std::log10(largest) : kFloorDb;
    const float block = std::clamp(level, kFloorDb, kCeilingDb);
    const float fallen = holdDb.load(std::memory_order_relaxed) - GainMeter::kFallDbPerSecond * static_cast<float>(n) / rate;
    blockDb.store(block, std::memory_order_relaxed);
    holdDb.store(std::max(block, fallen), std::memory_order_relaxed);
}
