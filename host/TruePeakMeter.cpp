#include "TruePeakMeter.h"

#include "dsp/HalfBand.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <immintrin.h>
#define ORVEX_TRUE_PEAK_X86 1
#endif

// Each odd point is summed tap pair by tap pair from zero, in the same order
// on every path, so the paths agree exactly. Tiles of consecutive points stay
// in registers across all of a stage's tap pairs.
namespace
{
// Kaiser window shape per stage: the first matches the long reference
// interpolators (images 120 dB down); the short ones keep their passband
// errors under 1e-5 over the band they carry.
constexpr double kBeta[TruePeakMeter::kStages] = {12.0, 9.0, 8.0, 7.0};

// odd[j] = sum over k < pairs of c[k] (in[j - k] + in[j + 1 + k]) for j in [from, count).
void oddTail(const float* in, float* odd, std::size_t from, std::size_t count, const float* c, int pairs)
{
    for (std::size_t j = from; j < count; ++j)
    {
        const float* at = in + j;
        float sum = 0.0f;
        for (int k = 0; k < pairs; ++k)
            sum += c[k] * (at[-k] + at[1 + k]);
        odd[j] = sum;
    }
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

#ifdef ORVEX_TRUE_PEAK_X86
void oddPointsSse(const float* in, float* odd, std::size_t count, const float* c, int pairs)
{
    std::size_t j = 0;
    for (; j + 16 <= count; j += 16)
    {
        __m128 sum[4] = {_mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps()};
        for (int k = 0; k < pairs; ++k)
        {
            const __m128 coefficient = _mm_set1_ps(c[k]);
            const float* a = in + j - k;
            const float* b = in + j + 1 + k;
            for (int t = 0; t < 4; ++t)
                sum[t] = _mm_add_ps(sum[t], _mm_mul_ps(coefficient, _mm_add_ps(_mm_loadu_ps(a + 4 * t), _mm_loadu_ps(b + 4 * t))));
        }
        for (int t = 0; t < 4; ++t)
            _mm_storeu_ps(odd + j + 4 * t, sum[t]);
    }
    oddTail(in, odd, j, count, c, pairs);
}

__attribute__((target("avx"))) void oddPointsAvx(const float* in, float* odd, std::size_t count, const float* c, int pairs)
{
    std::size_t j = 0;
    for (; j + 32 <= count; j += 32)
    {
        __m256 sum[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
        for (int k = 0; k < pairs; ++k)
        {
            const __m256 coefficient = _mm256_set1_ps(c[k]);
            const float* a = in + j - k;
            const float* b = in + j + 1 + k;
            for (int t = 0; t < 4; ++t)
                sum[t] = _mm256_add_ps(sum[t], _mm256_mul_ps(coefficient, _mm256_add_ps(_mm256_loadu_ps(a + 8 * t),
                                                                                        _mm256_loadu_ps(b + 8 * t))));
        }
        for (int t = 0; t < 4; ++t)
            _mm256_storeu_ps(odd + j + 8 * t, sum[t]);
    }
    oddTail(in, odd, j, count, c, pairs);
}
#else
void oddPointsSse(const float* in, float* odd, std::size_t count, const float* c, int pairs)
{
    oddTail(in, odd, 0, count, c, pairs);
}

void oddPointsAvx(const float* in, float* odd, std::size_t count, const float* c, int pairs)
{
    oddTail(in, odd, 0, count, c, pairs);
}
#endif

// Float rounding of the computed points beside their exact values: under
// 2^-24 (pairs + 2) of the sum of magnitudes at each stage, so under 0.2 % of
// the gain bound after all four; 1 % is allowed.
constexpr double kRoundingMargin = 1.01;

// The largest sum of tap magnitudes over the 16 phases of the whole
// interpolator, from the taps the stages use: its response to one input
// sample at the top rate, every 16th point of which is one phase's taps.
double gainBoundOf(const std::array<std::vector<float>, TruePeakMeter::kStages>& taps)
{
    std::vector<double> response{1.0};
    for (const std::vector<float>& c : taps)
    {
        // The stage as one filter at its output rate: the input point at the
        // centre, tap pair k at the odd distances 2 k + 1 either side.
        const std::size_t centre = 2 * c.size() - 1;
        std::vector<double> filter(2 * centre + 1, 0.0);
        filter[centre] = 1.0;
        for (std::size_t k = 0; k < c.size(); ++k)
            filter[centre - 2 * k - 1] = filter[centre + 2 * k + 1] = static_cast<double>(c[k]);
        std::vector<double> upsampled(2 * response.size() - 1 + filter.size() - 1, 0.0);
        for (std::size_t i = 0; i < response.size(); ++i)
            for (std::size_t j = 0; j < filter.size(); ++j)
                upsampled[2 * i + j] += response[i] * filter[j];
        response = std::move(upsampled);
    }
    double bound = 0.0;
    for (std::size_t phase = 0; phase < TruePeakMeter::kFactor; ++phase)
    {
        double sum = 0.0;
        for (std::size_t i = phase; i < response.size(); i += TruePeakMeter::kFactor)
            sum += std::fabs(response[i]);
        bound = std::max(bound, sum);
    }
    return bound;
}

// Largest |points[i]| whose position first + step i is in [0, end).
float largestWithin(const float* points, std::size_t count, std::int64_t first, std::int64_t step, std::int64_t end,
                    float largest)
{
    const std::int64_t last = first + step * (static_cast<std::int64_t>(count) - 1);
    if (count > 0 && first >= 0 && last < end)
    {
        std::size_t i = 0;
#ifdef ORVEX_TRUE_PEAK_X86
        const __m128 sign = _mm_set1_ps(-0.0f);
        __m128 lanes = _mm_set1_ps(largest);
        for (; i + 4 <= count; i += 4)
            lanes = _mm_max_ps(_mm_andnot_ps(sign, _mm_loadu_ps(points + i)), lanes); // NaN leaves the maximum alone
        alignas(16) float each[4];
        _mm_store_ps(each, lanes);
        largest = std::max({each[0], each[1], each[2], each[3]});
#endif
        for (; i < count; ++i)
            largest = std::max(largest, std::fabs(points[i]));
        return largest;
    }
    for (std::size_t i = 0; i < count; ++i)
    {
        const std::int64_t position = first + step * static_cast<std::int64_t>(i);
        if (position >= 0 && position < end)
            largest = std::max(largest, std::fabs(points[i]));
    }
    return largest;
}
} // namespace

TruePeakMeter::TruePeakMeter(int channelCount, int, bool allowAvx, bool skip)
    : useAvx(allowAvx && processorHasAvx()), skipQuiet(skip), channels(channelCount),
      state(static_cast<std::size_t>(channelCount)), odd((kChunk + kReach) << (kStages - 1))
{
    for (int s = 0; s < kStages; ++s)
    {
        const int pairs = kPairs[static_cast<std::size_t>(s)];
        const std::vector<double> h = Dsp::halfBandPairs(pairs, kBeta[s]);
        double sum = 0.0;
        for (double v : h)
            sum += 2.0 * v;
        // The long stage is the reference's own half-sample phase, as it is;
        // the short ones pass DC at unity so their small errors do not add up.
        for (double v : h)
            taps[static_cast<std::size_t>(s)].push_back(static_cast<float>(s == 0 ? v : v / sum));
    }
    bound = kRoundingMargin * gainBoundOf(taps);
    for (Channel& channel : state)
    {
        for (int s = 0; s < kStages; ++s)
        {
            const std::size_t history = 2 * static_cast<std::size_t>(kPairs[static_cast<std::size_t>(s)]) - 1;
            // A fresh start adds up to kReach points at the input rate.
            channel.streams[static_cast<std::size_t>(s)].assign(history + ((kChunk + kReach) << s), 0.0f);
        }
        channel.recent.assign(kReach, 0.0f);
        // The first stream starts with silence before the first sample, as
        // much as the first stage reads.
        channel.used[0] = 2 * kPairs[0] - 1;
        channel.position[0] = -static_cast<std::int64_t>(channel.used[0]);
    }
}

void TruePeakMeter::run(Channel& channel, const float* in, std::size_t stride, std::size_t count, std::int64_t end,
                        std::vector<float>& scratch) const
{
    std::vector<float>& first = channel.streams[0];
    for (std::size_t i = 0; i < count; ++i)
        first[channel.used[0] + i] = in ? in[i * stride] : 0.0f;
    channel.used[0] += count;
    for (int s = 0; s < kStages; ++s)
    {
        const std::size_t pairs = static_cast<std::size_t>(kPairs[static_cast<std::size_t>(s)]);
        std::vector<float>& stream = channel.streams[static_cast<std::size_t>(s)];
        std::size_t& used = channel.used[static_cast<std::size_t>(s)];
        if (used < 2 * pairs)
            return;
        // Odd points j = 0 .. points - 1 lie between stream[pairs - 1 + j] and the point after it.
        const std::size_t points = used - 2 * pairs + 1;
        const float* centre = stream.data() + pairs - 1;
        const float* c = taps[static_cast<std::size_t>(s)].data();
        (useAvx ? oddPointsAvx : oddPointsSse)(centre, scratch.data(), points, c, static_cast<int>(pairs));
        const std::int64_t position = channel.position[static_cast<std::size_t>(s)] + static_cast<std::int64_t>(pairs) - 1;
        if (s + 1 == kStages)
        {
            // The top stream: these points and the odd ones after each, in
            // sixteenths of a sample.
            channel.maximum = largestWithin(centre, points, 2 * position, 2, end, channel.maximum);
            channel.maximum = largestWithin(scratch.data(), points, 2 * position + 1, 2, end, channel.maximum);
        }
        else
        {
            std::vector<float>& next = channel.streams[static_cast<std::size_t>(s) + 1];
            std::size_t& nextUsed = channel.used[static_cast<std::size_t>(s) + 1];
            if (nextUsed == 0)
                channel.position[static_cast<std::size_t>(s) + 1] = 2 * position;
            for (std::size_t j = 0; j < points; ++j)
            {
                next[nextUsed + 2 * j] = centre[j];
                next[nextUsed + 2 * j + 1] = scratch[j];
            }
            nextUsed += 2 * points;
        }
        // Keep the 2 pairs - 1 points the next odd point needs.
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(points), stream.begin() + static_cast<std::ptrdiff_t>(used),
                  stream.begin());
        used -= points;
        channel.position[static_cast<std::size_t>(s)] += static_cast<std::int64_t>(points);
    }
}

bool TruePeakMeter::cannotReachPeak(const Channel& channel, const float* in, std::size_t stride,
                                    std::size_t count) const
{
    float largest = 0.0f;
    for (const Channel& each : state)
        largest = std::max(largest, each.maximum);
    const double threshold = static_cast<double>(largest) / bound;
    // A NaN or anything over the threshold says no.
    for (std::size_t i = 0; i < count; ++i)
        if (!(std::fabs(static_cast<double>(in[i * stride])) <= threshold))
            return false;
    for (float sample : channel.recent)
        if (!(std::fabs(static_cast<double>(sample)) <= threshold))
            return false;
    return true;
}

void TruePeakMeter::restart(Channel& channel, std::int64_t first)
{
    std::copy(channel.recent.begin(), channel.recent.end(), channel.streams[0].begin());
    channel.used.fill(0);
    channel.used[0] = kReach;
    channel.position[0] = first;
    channel.skipped = false;
}

void TruePeakMeter::remember(Channel& channel, const float* in, std::size_t stride, std::size_t count)
{
    std::vector<float>& recent = channel.recent;
    const std::size_t fresh = std::min(count, kReach);
    std::copy(recent.begin() + static_cast<std::ptrdiff_t>(fresh), recent.end(), recent.begin());
    for (std::size_t i = 0; i < fresh; ++i)
        recent[kReach - fresh + i] = in[(count - fresh + i) * stride];
}

void TruePeakMeter::add(const float* interleaved, std::int64_t count)
{
    const std::size_t stride = static_cast<std::size_t>(channels);
    for (std::int64_t done = 0; done < count;)
    {
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(count - done, kChunk));
        const std::int64_t start = frames;
        frames += static_cast<std::int64_t>(n);
        for (int c = 0; c < channels; ++c)
        {
            Channel& channel = state[static_cast<std::size_t>(c)];
            const float* in = interleaved + static_cast<std::size_t>(done) * stride + static_cast<std::size_t>(c);
            if (skipQuiet && cannotReachPeak(channel, in, stride, n))
            {
                channel.skipped = true;
                skippedFrames += static_cast<std::int64_t>(n);
            }
            else
            {
                if (channel.skipped)
                    restart(channel, start - static_cast<std::int64_t>(kReach));
                run(channel, in, stride, n, frames * kFactor, odd);
            }
            if (skipQuiet)
                remember(channel, in, stride, n);
        }
        done += static_cast<std::int64_t>(n);
    }
}

double TruePeakMeter::peak() const
{
    // The points still waiting for later samples, with silence after the
    // last one: on copies, so that more audio can follow. A channel stopped
    // at a skipped block has none that could count: they are made of that
    // block, the samples before it and silence.
    std::vector<float> scratch(odd.size());
    float largest = 0.0f;
    for (Channel channel : state)
    {
        for (std::int64_t flushed = 0; !channel.skipped && flushed < 2 * kPairs[0]; flushed += kChunk / 4)
            run(channel, nullptr, 0, kChunk / 4, frames * kFactor, scratch);
        largest = std::max(largest, channel.maximum);
    }
    return largest;
}
