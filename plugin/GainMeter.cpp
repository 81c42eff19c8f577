#include "plugin/GainMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

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
// and infinity, as the bits of a float, read as a signed integer: ratios are
// non-negative (or positive NaNs, whose bits order above everything), and
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

// The division dominates: where the processor has AVX2 the same loop runs
// twice as wide, and SSE4.1 has the integer minimum SSE2 lacks; the version
// is chosen once, at load.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) std::int32_t lowestRatioAvx2(const float* x, const float* y, int n)
{
    return lowestRatioBody(x, y, n);
}

__attribute__((target("sse4.1"))) std::int32_t lowestRatioSse41(const float* x, const float* y, int n)
{
    return lowestRatioBody(x, y, n);
}

std::int32_t lowestRatioPlain(const float* x, const float* y, int n)
{
    return lowestRatioBody(x, y, n);
}

std::int32_t (*chooseLowestRatio())(const float*, const float*, int)
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return &lowestRatioAvx2;
    if (__builtin_cpu_supports("sse4.1"))
        return &lowestRatioSse41;
    return &lowestRatioPlain;
}

const auto lowestRatio = chooseLowestRatio();
#else
std::int32_t lowestRatio(const float* x, const float* y, int n)
{
    return lowestRatioBody(x, y, n);
}
#endif
} // namespace

void GainMeter::reserve(float sampleRate, int maxBlock)
{
    if (sampleRate > 0.0f)
        rate = sampleRate;
    const long long frames = std::llround(static_cast<double>(rate)) + std::max(maxBlock, 1);
    if (frames > inputs.room() && frames < (1LL << 30))
        inputs.reserve(static_cast<int>(frames));
    restart();
}

void GainMeter::restart()
{
    inputs.clear();
    blockDb.store(0.0f, std::memory_order_relaxed);
    holdDb.store(0.0f, std::memory_order_relaxed);
}

void GainMeter::measure(const float* const* in, const float* const* out, int n, int latency, float driveDb)
{
    if (n <= 0 || n > inputs.room())
        return;
    inputs.write(in, n);
    // The smallest ratio |out| / |in| of the block over the samples heard.
    std::int32_t lowest = INT32_MAX;
    // Frames from before the history starts (or beyond its room) are not read.
    latency = std::max(latency, 0);
    const int available = std::clamp(inputs.held() - latency, 0, n);
    int at = n - available;
    inputs.visit(latency, available, [&](const float* const* delayed, int count) {
        for (int c = 0; c < StereoRing::kChannels; ++c)
            lowest = std::min(lowest, lowestRatio(delayed[c], out[c] + at, count));
        at += count;
    });
    float reduction = 0.0f;
    if (lowest < static_cast<std::int32_t>(kInfinityBits)) {
        const double gain = std::max(static_cast<double>(floatOf(static_cast<std::uint32_t>(lowest))), 1e-10);
        // max(0, ...) first: a reduction of -0 (no drive, unity gain) reads +0.
        reduction = static_cast<float>(std::min(std::max(0.0, driveDb - 20.0 * std::log10(gain)), static_cast<double>(kMaxDb)));
    }
    const float fallen = holdDb.load(std::memory_order_relaxed) - kFallDbPerSecond * static_cast<float>(n) / rate;
    blockDb.store(reduction, std::memory_order_relaxed);
    holdDb.store(std::max(reduction, fallen), std::memory_order_relaxed);
}
