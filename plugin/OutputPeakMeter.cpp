#include "plugin/OutputPeakMeter.h"

#include "dsp/VectorLevel.h"
#include "plugin/GainMeter.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace
{
constexpr int kTaps = Dsp::kQuarterSampleTaps;
constexpr int kFold = OutputPeakMeter::Folded::kPairs;

// The largest magnitude of the samples x[0 .. n-1] and of the three points
// after each of x[-kAhead .. n-1-kAhead]: those points read x[i - 11] to
// x[i], so x[-11 .. n-1] must be readable. The taps are folded (see Folded):
// with s = x[i - k] + x[i - 11 + k] and d = x[i - k] - x[i - 11 + k], the half
// point is the sum of half[k] s, and the quarter and three-quarter points are
// S + D and S - D for S the sum of sum[k] s and D that of difference[k] d,
// so the louder of them is |S| + |D|. A NaN leaves the maximum alone.
float loudestPlain(const float* x, int n, const OutputPeakMeter::Folded& taps)
{
    // A few points of each kind at a time, pair by pair, in loops over the
    // points that compilers vectorize; each point sums its pairs in order.
    constexpr int kChunk = 64;
    float largest = 0.0f;
    for (int start = 0; start < n; start += kChunk)
    {
        const int count = std::min(kChunk, n - start);
        const float* at = x + start;
        float half[kChunk] = {};
        float sum[kChunk] = {};
        float difference[kChunk] = {};
        for (int k = 0; k < kFold; ++k)
            for (int j = 0; j < count; ++j)
            {
                const float s = at[j - k] + at[j - (kTaps - 1) + k];
                const float d = at[j - k] - at[j - (kTaps - 1) + k];
                half[j] += taps.half[k] * s;
                sum[j] += taps.sum[k] * s;
                difference[j] += taps.difference[k] * d;
            }
        for (int j = 0; j < count; ++j)
        {
            largest = std::max(largest, std::fabs(at[j]));
            largest = std::max(largest, std::fabs(half[j]));
            largest = std::max(largest, std::fabs(sum[j]) + std::fabs(difference[j]));
        }
    }
    return largest;
}

#if defined(__x86_64__) || defined(__i386__)
// Eight points of each kind at a time, each pair of inputs loaded once.
__attribute__((target("avx2,fma"))) float loudestAvx2(const float* x, int n, const OutputPeakMeter::Folded& taps)
{
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    __m256 lanes = _mm256_setzero_ps();
    int i = 0;
    for (; i + 8 <= n; i += 8)
    {
        __m256 half = _mm256_setzero_ps();
        __m256 sum = _mm256_setzero_ps();
        __m256 difference = _mm256_setzero_ps();
        for (int k = 0; k < kFold; ++k)
        {
            const __m256 early = _mm256_loadu_ps(x + i - k);
            const __m256 late = _mm256_loadu_ps(x + i - (kTaps - 1) + k);
            const __m256 s = _mm256_add_ps(early, late);
            half = _mm256_fmadd_ps(_mm256_set1_ps(taps.half[k]), s, half);
            sum = _mm256_fmadd_ps(_mm256_set1_ps(taps.sum[k]), s, sum);
            difference = _mm256_fmadd_ps(_mm256_set1_ps(taps.difference[k]), _mm256_sub_ps(early, late), difference);
        }
        // max(a, b) with b NaN keeps a.
        lanes = _mm256_max_ps(_mm256_and_ps(_mm256_loadu_ps(x + i), magnitude), lanes);
        lanes = _mm256_max_ps(_mm256_and_ps(half, magnitude), lanes);
        lanes = _mm256_max_ps(_mm256_add_ps(_mm256_and_ps(sum, magnitude), _mm256_and_ps(difference, magnitude)), lanes);
    }
    float each[8];
    _mm256_storeu_ps(each, lanes);
    float largest = *std::max_element(each, each + 8);
    return std::max(largest, i < n ? loudestPlain(x + i, n - i, taps) : 0.0f);
}

// Sixteen points of each kind at a time; x[-16 .. -1] must be readable. The
// inputs of a pair are this vector's sixteen samples shifted back k and
// 11 - k places, cut from it and the vector before rather than loaded again:
// every load of sixteen samples at an odd place straddles two cache lines.
// The masked forms of the instructions throughout: the unmasked ones trip an
// uninitialized-value warning in GCC's header.
constexpr auto kAll = static_cast<__mmask16>(0xffffu);

// x[i - back .. i - back + 15], from current = x[i ..] and previous = x[i - 16 ..].
template <int Back>
__attribute__((target("avx512f"), always_inline)) inline __m512 shiftedBack(__m512i current, __m512i previous)
{
    if constexpr (Back == 0)
        return _mm512_castsi512_ps(current);
    else
        return _mm512_castsi512_ps(_mm512_mask_alignr_epi32(current, kAll, current, previous, 16 - Back));
}

struct Sums512
{
    __m512 half, sum, difference;
};

template <int K>
__attribute__((target("avx512f"), always_inline)) inline void addPair(Sums512& sums, __m512i current, __m512i previous,
                                                                      const OutputPeakMeter::Folded& taps)
{
    const __m512 early = shiftedBack<K>(current, previous);
    const __m512 late = shiftedBack<kTaps - 1 - K>(current, previous);
    const __m512 s = _mm512_mask_add_ps(early, kAll, early, late);
    sums.half = _mm512_fmadd_ps(_mm512_set1_ps(taps.half[K]), s, sums.half);
    sums.sum = _mm512_fmadd_ps(_mm512_set1_ps(taps.sum[K]), s, sums.sum);
    sums.difference = _mm512_fmadd_ps(_mm512_set1_ps(taps.difference[K]), _mm512_mask_sub_ps(early, kAll, early, late), sums.difference);
}

__attribute__((target("avx512f"), always_inline)) inline __m512 absolute512(__m512 v)
{
    return _mm512_castsi512_ps(_mm512_and_epi32(_mm512_castps_si512(v), _mm512_set1_epi32(0x7fffffff)));
}

__attribute__((target("avx512f"))) float loudestAvx512(const float* x, int n, const OutputPeakMeter::Folded& taps)
{
    static_assert(kFold == 6 && kTaps - 1 < 16, "six pairs, all within the vector before");
    __m512 lanes = _mm512_setzero_ps();
    int i = 0;
    __m512i previous = _mm512_loadu_si512(x - 16);
    for (; i + 16 <= n; i += 16)
    {
        const __m512i current = _mm512_loadu_si512(x + i);
        Sums512 sums{_mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps()};
        addPair<0>(sums, current, previous, taps);
        addPair<1>(sums, current, previous, taps);
        addPair<2>(sums, current, previous, taps);
        addPair<3>(sums, current, previous, taps);
        addPair<4>(sums, current, previous, taps);
        addPair<5>(sums, current, previous, taps);
        // max(a, b) with b NaN keeps a.
        lanes = _mm512_mask_max_ps(lanes, kAll, absolute512(_mm512_castsi512_ps(current)), lanes);
        lanes = _mm512_mask_max_ps(lanes, kAll, absolute512(sums.half), lanes);
        lanes = _mm512_mask_max_ps(lanes, kAll, _mm512_mask_add_ps(sums.sum, kAll, absolute512(sums.sum), absolute512(sums.difference)), lanes);
        previous = current;
    }
    float each[16];
    _mm512_storeu_ps(each, lanes);
    float largest = *std::max_element(each, each + 16);
    return std::max(largest, i < n ? loudestAvx2(x + i, n - i, taps) : 0.0f);
}

const auto loudestPoint = Dsp::widest(&loudestAvx512, &loudestAvx2, &loudestPlain);
#else
const auto loudestPoint = &loudestPlain;
#endif

OutputPeakMeter::Folded fold(const Dsp::QuarterSamplePhases& phases)
{
    // The half-sample phase is symmetric; the quarter and three-quarter
    // phases mirror each other.
    OutputPeakMeter::Folded taps{};
    for (int k = 0; k < kFold; ++k)
    {
        const auto early = static_cast<std::size_t>(k);
        const auto late = static_cast<std::size_t>(kTaps - 1 - k);
        taps.half[k] = phases[1][early];
        taps.sum[k] = 0.5f * (phases[0][early] + phases[0][late]);
        taps.difference[k] = 0.5f * (phases[0][early] - phases[0][late]);
    }
    return taps;
}
} // namespace

OutputPeakMeter::OutputPeakMeter() : taps(fold(Dsp::quarterSamplePhases())) {}

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
            largest = std::max(largest, loudestPoint(x + kHistory, piece, taps));
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
