#include "TruePeakMeter.h"

#include "dsp/Fft.h"
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
// With Peak the points are not stored: `largest` takes the largest magnitude
// among them and the points in[j] they follow (a NaN leaves it alone).
template <bool Peak>
void oddTail(const float* in, float* odd, std::size_t from, std::size_t count, const float* c, int pairs, float& largest)
{
    for (std::size_t j = from; j < count; ++j)
    {
        const float* at = in + j;
        float sum = 0.0f;
        for (int k = 0; k < pairs; ++k)
            sum += c[k] * (at[-k] + at[1 + k]);
        if constexpr (Peak)
            largest = std::max({largest, std::fabs(in[j]), std::fabs(sum)});
        else
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
template <bool Peak>
void oddPointsSse(const float* in, float* odd, std::size_t count, const float* c, int pairs, float& largest)
{
    const __m128 sign = _mm_set1_ps(-0.0f);
    __m128 lanes = _mm_setzero_ps();
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
        {
            if constexpr (Peak)
            {
                lanes = _mm_max_ps(_mm_andnot_ps(sign, sum[t]), lanes);
                lanes = _mm_max_ps(_mm_andnot_ps(sign, _mm_loadu_ps(in + j + 4 * t)), lanes);
            }
            else
            {
                _mm_storeu_ps(odd + j + 4 * t, sum[t]);
            }
        }
    }
    if constexpr (Peak)
    {
        alignas(16) float each[4];
        _mm_store_ps(each, lanes);
        largest = std::max({largest, each[0], each[1], each[2], each[3]});
    }
    oddTail<Peak>(in, odd, j, count, c, pairs, largest);
}

template <bool Peak>
__attribute__((target("avx"))) void oddPointsAvx(const float* in, float* odd, std::size_t count, const float* c, int pairs,
                                                 float& largest)
{
    const __m256 sign = _mm256_set1_ps(-0.0f);
    __m256 lanes = _mm256_setzero_ps();
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
        {
            if constexpr (Peak)
            {
                lanes = _mm256_max_ps(_mm256_andnot_ps(sign, sum[t]), lanes);
                lanes = _mm256_max_ps(_mm256_andnot_ps(sign, _mm256_loadu_ps(in + j + 8 * t)), lanes);
            }
            else
            {
                _mm256_storeu_ps(odd + j + 8 * t, sum[t]);
            }
        }
    }
    if constexpr (Peak)
    {
        alignas(32) float each[8];
        _mm256_store_ps(each, lanes);
        largest = std::max(largest, *std::max_element(each, each + 8));
    }
    oddTail<Peak>(in, odd, j, count, c, pairs, largest);
}
#else
template <bool Peak>
void oddPointsSse(const float* in, float* odd, std::size_t count, const float* c, int pairs, float& largest)
{
    oddTail<Peak>(in, odd, 0, count, c, pairs, largest);
}

template <bool Peak>
void oddPointsAvx(const float* in, float* odd, std::size_t count, const float* c, int pairs, float& largest)
{
    oddTail<Peak>(in, odd, 0, count, c, pairs, largest);
}
#endif

// Float rounding of the computed points beside their exact values: under
// 2^-24 (pairs + 2) of the sum of magnitudes at each stage, so under 0.2 % of
// the gain bound after all four; 1 % is allowed.
constexpr double kRoundingMargin = 1.01;

// The largest sum of tap magnitudes over the phases of stages `first` to the
// last as one interpolator, from the taps the stages use: its response to
// one input sample at the top rate, every 2^(stages)th point of which is one
// phase's taps.
double gainBoundOf(const std::array<std::vector<float>, TruePeakMeter::kStages>& taps, int first)
{
    std::vector<double> response{1.0};
    for (int s = first; s < TruePeakMeter::kStages; ++s)
    {
        const std::vector<float>& c = taps[static_cast<std::size_t>(s)];
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
    const std::size_t phases = std::size_t{1} << (TruePeakMeter::kStages - first);
    double bound = 0.0;
    for (std::size_t phase = 0; phase < phases; ++phase)
    {
        double sum = 0.0;
        for (std::size_t i = phase; i < response.size(); i += phases)
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
    : useAvx(allowAvx && processorHasAvx()), skipQuiet(skip), channels(channelCount)
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
    bound = kRoundingMargin * gainBoundOf(taps, 0);
    shortBound = kRoundingMargin * gainBoundOf(taps, 1);

    // The long stage's kernel in the order a window's transform convolves
    // with: point j reads samples j - 255 .. j + 256, window positions t to
    // t + kSpan - 1 for the point t after the window's first 255 samples,
    // and comes out at position t + kSpan - 1.
    const std::vector<float>& c = taps[0];
    spectrum.assign(2 * kFftSize, 0.0f);
    const std::size_t half = c.size();
    for (std::size_t k = 0; k < half; ++k)
        spectrum[2 * (half - 1 - k)] = spectrum[2 * (half + k)] = c[k] / static_cast<float>(kFftSize);
    Dsp::fftForward(static_cast<int>(kFftSize), spectrum.data());

    state.channels.resize(static_cast<std::size_t>(channelCount));
    for (Channel& channel : state.channels)
    {
        channel.window.assign(kFftSize, 0.0f);
        for (int s = 1; s < kStages; ++s)
        {
            const std::size_t history = 2 * static_cast<std::size_t>(kPairs[static_cast<std::size_t>(s)]) - 1;
            // A fresh start adds up to kReach points at the half-sample rate.
            channel.streams[static_cast<std::size_t>(s)].assign(history + ((2 * kHop + kReach) << (s - 1)), 0.0f);
        }
        channel.recent.assign(kReach, 0.0f);
    }
    // The first hop starts kLead samples early, on silence.
    state.hopStart = -kLead;
    state.windowUsed = static_cast<std::size_t>(kPairs[0] - 1 + kLead);
    work = makeScratch();
}

TruePeakMeter::Scratch TruePeakMeter::makeScratch() const
{
    Scratch scratch;
    scratch.transform.assign(2 * kFftSize, 0.0f);
    scratch.doubled.assign(2 * kHop, 0.0f);
    scratch.odd.assign(state.channels.empty() ? 0 : state.channels[0].streams[kStages - 1].size(), 0.0f);
    return scratch;
}

void TruePeakMeter::hop(State& at, Scratch& scratch, std::int64_t end) const
{
    float* transform = scratch.transform.data();
    const std::size_t centre = static_cast<std::size_t>(kPairs[0]) - 1;
    for (std::size_t c = 0; c < at.channels.size(); c += 2)
    {
        // Two channels as the real and imaginary parts of one transform: the
        // kernel is real, so each comes out in its own part.
        Channel& left = at.channels[c];
        Channel* right = c + 1 < at.channels.size() ? &at.channels[c + 1] : nullptr;
        for (std::size_t n = 0; n < kFftSize; ++n)
        {
            transform[2 * n] = left.window[n];
            transform[2 * n + 1] = right ? right->window[n] : 0.0f;
        }
        Dsp::fftForward(static_cast<int>(kFftSize), transform);
        Dsp::multiplySpectra(static_cast<int>(kFftSize), transform, spectrum.data(), transform);
        Dsp::fftInverse(static_cast<int>(kFftSize), transform);
        for (std::size_t part = 0; part < (right ? 2u : 1u); ++part)
        {
            Channel& channel = part == 0 ? left : *right;
            float* doubled = scratch.doubled.data();
            for (std::size_t t = 0; t < kHop; ++t)
            {
                doubled[2 * t] = channel.window[centre + t];
                doubled[2 * t + 1] = transform[2 * (t + kSpan - 1) + part];
            }
            feed(at, channel, doubled, 2 * kHop, at.hopStart, end, scratch);
        }
    }
    for (Channel& channel : at.channels)
        std::copy(channel.window.begin() + static_cast<std::ptrdiff_t>(kHop), channel.window.end(), channel.window.begin());
    at.windowUsed -= kHop;
    at.hopStart += static_cast<std::int64_t>(kHop);
}

void TruePeakMeter::feed(State& at, Channel& channel, const float* points, std::size_t count, std::int64_t first,
                         std::int64_t end, Scratch& scratch) const
{
    if (skipQuiet && cannotReachPeak(at, channel, points, count))
    {
        channel.skipped = true;
        at.skippedFrames += static_cast<std::int64_t>(count / 2);
    }
    else
    {
        std::vector<float>& stream = channel.streams[1];
        if (channel.skipped)
        {
            // Start the short stages afresh on the points before these.
            std::copy(channel.recent.begin(), channel.recent.end(), stream.begin());
            channel.used.fill(0);
            channel.used[1] = kReach;
            channel.position[1] = 2 * first - static_cast<std::int64_t>(kReach);
            channel.skipped = false;
        }
        if (channel.used[1] == 0)
            channel.position[1] = 2 * first;
        std::copy(points, points + count, stream.begin() + static_cast<std::ptrdiff_t>(channel.used[1]));
        channel.used[1] += count;
        run(channel, end, scratch.odd);
    }
    if (skipQuiet)
    {
        std::vector<float>& recent = channel.recent;
        const std::size_t fresh = std::min(count, kReach);
        std::copy(recent.begin() + static_cast<std::ptrdiff_t>(fresh), recent.end(), recent.begin());
        std::copy(points + count - fresh, points + count, recent.end() - static_cast<std::ptrdiff_t>(fresh));
    }
}

void TruePeakMeter::run(Channel& channel, std::int64_t end, std::vector<float>& odd) const
{
    for (int s = 1; s < kStages; ++s)
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
        const std::int64_t position = channel.position[static_cast<std::size_t>(s)] + static_cast<std::int64_t>(pairs) - 1;
        const int count = static_cast<int>(pairs);
        const bool top = s + 1 == kStages;
        float unused = 0.0f;
        if (top && position >= 0 && 2 * (position + static_cast<std::int64_t>(points)) - 1 < end)
        {
            // The top stream, all of it counted: these points and the odd
            // ones after each, their largest taken as they are computed.
            (useAvx ? oddPointsAvx<true> : oddPointsSse<true>)(centre, nullptr, points, c, count, channel.maximum);
        }
        else if (top)
        {
            // At the edges only the points in [0, end) count (in sixteenths
            // of a sample).
            (useAvx ? oddPointsAvx<false> : oddPointsSse<false>)(centre, odd.data(), points, c, count, unused);
            channel.maximum = largestWithin(centre, points, 2 * position, 2, end, channel.maximum);
            channel.maximum = largestWithin(odd.data(), points, 2 * position + 1, 2, end, channel.maximum);
        }
        else
        {
            (useAvx ? oddPointsAvx<false> : oddPointsSse<false>)(centre, odd.data(), points, c, count, unused);
            std::vector<float>& next = channel.streams[static_cast<std::size_t>(s) + 1];
            std::size_t& nextUsed = channel.used[static_cast<std::size_t>(s) + 1];
            if (nextUsed == 0)
                channel.position[static_cast<std::size_t>(s) + 1] = 2 * position;
            for (std::size_t j = 0; j < points; ++j)
            {
                next[nextUsed + 2 * j] = centre[j];
                next[nextUsed + 2 * j + 1] = odd[j];
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

bool TruePeakMeter::cannotReachPeak(const State& at, const Channel& channel, const float* points,
                                    std::size_t count) const
{
    float largest = 0.0f;
    for (const Channel& each : at.channels)
        largest = std::max(largest, each.maximum);
    const double threshold = static_cast<double>(largest) / shortBound;
    // A NaN or anything over the threshold says no.
    for (std::size_t i = 0; i < count; ++i)
        if (!(std::fabs(static_cast<double>(points[i])) <= threshold))
            return false;
    for (float point : channel.recent)
        if (!(std::fabs(static_cast<double>(point)) <= threshold))
            return false;
    return true;
}

void TruePeakMeter::add(const float* interleaved, std::int64_t count)
{
    const std::size_t stride = static_cast<std::size_t>(channels);
    for (std::int64_t done = 0; done < count;)
    {
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::int64_t>(count - done, static_cast<std::int64_t>(kFftSize - state.windowUsed)));
        for (std::size_t c = 0; c < state.channels.size(); ++c)
        {
            // A NaN would spread over the whole transform: it counts as
            // silence, as it never counts as a peak.
            const float* in = interleaved + static_cast<std::size_t>(done) * stride + c;
            float* window = state.channels[c].window.data() + state.windowUsed;
            for (std::size_t i = 0; i < n; ++i)
            {
                const float sample = in[i * stride];
                window[i] = sample == sample ? sample : 0.0f;
            }
        }
        state.windowUsed += n;
        frames += static_cast<std::int64_t>(n);
        done += static_cast<std::int64_t>(n);
        if (state.windowUsed == kFftSize)
            hop(state, work, frames * kFactor);
    }
}

double TruePeakMeter::peak() const
{
    // The points still waiting for later samples, with silence after the
    // last one, on a copy, so that more audio can follow: hops until the
    // short stages have every point they read near the end.
    State last = state;
    Scratch scratch = makeScratch();
    while (last.hopStart < frames + kLead)
    {
        for (Channel& channel : last.channels)
            std::fill(channel.window.begin() + static_cast<std::ptrdiff_t>(last.windowUsed), channel.window.end(), 0.0f);
        last.windowUsed = kFftSize;
        hop(last, scratch, frames * kFactor);
    }
    float largest = 0.0f;
    for (const Channel& channel : last.channels)
        largest = std::max(largest, channel.maximum);
    return largest;
}
