#include "plugin/GainMeter.h"

#include "dsp/VectorLevel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace
{
constexpr std::uint32_t kMagnitudeBits = 0x7fffffffu;
constexpr std::uint32_t kInfinityBits = 0x7f800000u;
constexpr std::uint32_t kOneBits = 0x3f800000u;

std::uint32_t bitsOf(float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float floatOf(std::uint32_t bits)
{
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The smallest |y| / |x| over the samples whose |x| lies between the floor
// and infinity, as the bits of a float, read as a signed integer: ratios
// are non-negative (or positive NaNs, whose bits order above everything), and
// non-negative floats order as their bits do, so the minimum is taken on
// integers. A sample out of range divides infinity by 1. Written without
// branches or selects, so that compilers vectorize it.
__attribute__((always_inline)) inline std::int32_t lowestRatioBody(const float* x, const float* y, int n)
{
    const std::uint32_t floorBits = bitsOf(GainMeter::kFloor);
    std::int32_t lowest = INT32_MAX;
    for (int i = 0; i < n; ++i) {
        const std::uint32_t a = bitsOf(x[i]) & kMagnitudeBits;
        const std::uint32_t b = bitsOf(y[i]) & kMagnitudeBits;
        const std::uint32_t out = 0u - static_cast<std::uint32_t>((a <= floorBits) | (a >= kInfinityBits));
        const float ratio = floatOf(b | (out & kInfinityBits)) / floatOf((a & ~out) | (out & kOneBits));
        const auto bits = static_cast<std::int32_t>(bitsOf(ratio));
        lowest = bits < lowest ? bits : lowest;
    }
    return lowest;
}

// The lowest ratio as a float: +infinity (or NaN) when no sample was in range.
float lowestRatioPlain(const float* x, const float* y, int n)
{
    return floatOf(static_cast<std::uint32_t>(lowestRatioBody(x, y, n)));
}

// With AVX2, eight ratios at a time, with the floating-point minimum and a
// blend (the same ratios, the same lowest); SSE4.1 has the integer minimum
// SSE2 lacks. The version is chosen once, at load (Dsp::vectorLevel).
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) float lowestRatioAvx2(const float* x, const float* y, int n)
{
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(static_cast<int>(kMagnitudeBits)));
    const __m256 floor = _mm256_set1_ps(GainMeter::kFloor);
    const __m256 none = _mm256_set1_ps(std::numeric_limits<float>::infinity());
    __m256 lowest = none;
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 a = _mm256_and_ps(_mm256_loadu_ps(x + i), magnitude);
        const __m256 b = _mm256_and_ps(_mm256_loadu_ps(y + i), magnitude);
        // Ordered comparisons: a NaN input is out of range.
        const __m256 heard = _mm256_and_ps(_mm256_cmp_ps(a, floor, _CMP_GT_OQ), _mm256_cmp_ps(a, none, _CMP_LT_OQ));
        // min returns its second operand when either is NaN (a NaN output),
        // so such a sample leaves the lowest alone.
        lowest = _mm256_min_ps(_mm256_blendv_ps(none, _mm256_div_ps(b, a), heard), lowest);
    }
    float each[8];
    _mm256_storeu_ps(each, lowest);
    float result = i < n ? lowestRatioPlain(x + i, y + i, n - i) : std::numeric_limits<float>::infinity();
    for (const float lane : each)
        result = lane < result ? lane : result;
    return result;
}

// Sixteen at a time, with masks instead of the blend; the last few through
// a masked load (the lanes left out read 0, which is not heard).
__attribute__((target("avx512f"))) float lowestRatioAvx512(const float* x, const float* y, int n)
{
    const __m512i magnitude = _mm512_set1_epi32(static_cast<int>(kMagnitudeBits));
    const __m512 floor = _mm512_set1_ps(GainMeter::kFloor);
    const __m512 none = _mm512_set1_ps(std::numeric_limits<float>::infinity());
    __m512 lowest = none;
    for (int i = 0; i < n; i += 16) {
        const auto lanes = static_cast<__mmask16>(n - i >= 16 ? 0xffffu : (1u << (n - i)) - 1u);
        const __m512 a = _mm512_castsi512_ps(_mm512_and_epi32(_mm512_castps_si512(_mm512_maskz_loadu_ps(lanes, x + i)), magnitude));
        const __m512 b = _mm512_castsi512_ps(_mm512_and_epi32(_mm512_castps_si512(_mm512_maskz_loadu_ps(lanes, y + i)), magnitude));
        const __mmask16 heard = _mm512_cmp_ps_mask(a, floor, _CMP_GT_OQ) & _mm512_cmp_ps_mask(a, none, _CMP_LT_OQ);
        lowest = _mm512_mask_min_ps(lowest, heard, _mm512_div_ps(b, a), lowest);
    }
    // The lowest lane, halving the lanes four times (the masked forms: the
    // unmasked ones trip an uninitialized-value warning in GCC's header).
    const auto all = static_cast<__mmask16>(0xffffu);
    lowest = _mm512_mask_min_ps(lowest, all, lowest, _mm512_mask_shuffle_f32x4(lowest, all, lowest, lowest, _MM_SHUFFLE(1, 0, 3, 2)));
    lowest = _mm512_mask_min_ps(lowest, all, lowest, _mm512_mask_shuffle_f32x4(lowest, all, lowest, lowest, _MM_SHUFFLE(2, 3, 0, 1)));
    lowest = _mm512_mask_min_ps(lowest, all, lowest, _mm512_mask_permute_ps(lowest, all, lowest, _MM_SHUFFLE(1, 0, 3, 2)));
    lowest = _mm512_mask_min_ps(lowest, all, lowest, _mm512_mask_permute_ps(lowest, all, lowest, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm512_cvtss_f32(lowest);
}

__attribute__((target("sse4.1"))) float lowestRatioSse41(const float* x, const float* y, int n)
{
    return floatOf(static_cast<std::uint32_t>(lowestRatioBody(x, y, n)));
}

// Without AVX2: SSE4.1 where the processor has it.
float (*baselineLowestRatio())(const float*, const float*, int)
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse4.1") ? &lowestRatioSse41 : &lowestRatioPlain;
}

const auto lowestRatio = Dsp::widest(&lowestRatioAvx512, &lowestRatioAvx2, baselineLowestRatio());
#else
const auto lowestRatio = &lowestRatioPlain;
#endif
} // namespace

void GainMeter::reserve(float sampleRate)
{
    if (sampleRate > 0.0f)
        rate = sampleRate;
    const long long frames = std::llround(static_cast<double>(rate));
    if (frames < (1LL << 30))
        inputs.reserve(static_cast<int>(frames));
    restart();
}

void GainMeter::restart()
{
    inputs.clear();
    laidOutFor = -1;
    blockDb.store(0.0f, std::memory_order_relaxed);
    holdDb.store(0.0f, std::memory_order_relaxed);
}

void GainMeter::measure(const float* const* in, const float* const* out, int n, int latency, float driveDb)
{
    if (n <= 0)
        return;
    // Output frame j answers input frame j - latency: the first
    // min(latency, n) frames answer input from before the block, which the
    // history holds; the others answer this block's input, read where it is.
    // A new latency lays the history out again, from silence.
    latency = std::max(latency, 0);
    if (latency != laidOutFor) {
        inputs.use(std::max(latency, 1));
        laidOutFor = latency;
    }
    float lowest = std::numeric_limits<float>::infinity();
    const auto take = [&lowest](const float* delayed, const float* output, int count) {
        const float ratio = lowestRatio(delayed, output, count);
        lowest = ratio < lowest ? ratio : lowest;
    };
    const int fromHistory = std::min(latency, n);
    // Input from before the history starts (or beyond its room) is not read.
    const int held = static_cast<int>(std::clamp<long long>(static_cast<long long>(inputs.held()) - latency + fromHistory, 0, fromHistory));
    int at = fromHistory - held;
    inputs.visit(latency - fromHistory, held, [&](const float* const* delayed, int count) {
        for (int c = 0; c < StereoRing::kChannels; ++c)
            take(delayed[c], out[c] + at, count);
        at += count;
    });
    // The history keeps the newest input a later block can ask for.
    const int kept = std::min(latency, n);
    const float* newest[StereoRing::kChannels] = {};
    for (int c = 0; in != nullptr && c < StereoRing::kChannels; ++c) {
        if (in[c] == nullptr)
            continue;
        if (n > latency)
            take(in[c], out[c] + latency, n - latency);
        newest[c] = in[c] + (n - kept);
    }
    inputs.write(newest, kept);

    float reduction = 0.0f;
    if (lowest < std::numeric_limits<float>::infinity()) {
        const float gain = std::max(lowest, 1e-10f);
        // max(0, ...) first: a reduction of -0 (no drive, unity gain) reads +0.
        reduction = std::min(std::max(0.0f, driveDb - 20.0f * std::log10(gain)), kMaxDb);
    }
    const float fallen = holdDb.load(std::memory_order_relaxed) - kFallDbPerSecond * static_cast<float>(n) / rate;
    blockDb.store(reduction, std::memory_order_relaxed);
    holdDb.store(std::max(reduction, fallen), std::memory_order_relaxed);
}
