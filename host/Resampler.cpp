#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr int kHalfTaps = 32;
constexpr double kCutoff = 0.95; // of the lower rate's Nyquist
constexpr double kBeta = 8.0;

double bessel0(double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 40; ++k)
    {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}
} // namespace

Resampler::Resampler(int channelCount, int inputRate, int outputRate) : channels(channelCount)
{
    const std::int64_t divisor = std::gcd(inputRate, outputRate);
    up = outputRate / divisor;
    down = inputRate / divisor;
    // Downsampling widens the kernel so that its cutoff is the output's.
    const double scale = std::min(1.0, static_cast<double>(outputRate) / inputRate);
    half = static_cast<int>(std::ceil(kHalfTaps / scale));
    taps.resize(static_cast<std::size_t>(up * 2 * half));
    for (std::int64_t phase = 0; phase < up; ++phase)
    {
        // Output at input time base + phase / up; tap k weighs input base + 1 - half + k.
        const double fraction = static_cast<double>(phase) / static_cast<double>(up);
        for (int k = 0; k < 2 * half; ++k)
        {
            const double t = (k + 1 - half) - fraction; // input samples from the output instant
            const double x = kCutoff * scale * t;
            const double sinc = x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
            const double r = t / (half + 1);
            const double window = std::fabs(r) < 1.0 ? bessel0(kBeta * std::sqrt(1.0 - r * r)) / bessel0(kBeta) : 0.0;
            taps[static_cast<std::size_t>(phase * 2 * half + k)] = static_cast<float>(kCutoff * scale * sinc * window);
        }
    }
}

void Resampler::process(const float* interleaved, std::int64_t frames, std::vector<float>& out)
{
    history.insert(history.end(), interleaved, interleaved + frames * channels);
    received += frames;
    emit(out, false);
}

void Resampler::finish(std::vector<float>& out)
{
    emit(out, true);
}

// Output frame n needs input frames up to floor(n * down / up) + half; after
// the end of the input those are silence.
void Resampler::emit(std::vector<float>& out, bool all)
{
    const std::int64_t total = all ? (received * up + down - 1) / down : 0;
    for (;; ++produced)
    {
        const std::int64_t base = produced * down / up;
        if (all ? produced >= total : base + half > received - 1)
            break;
        const std::int64_t phase = produced * down % up;
        const float* h = taps.data() + phase * 2 * half;
        const std::int64_t first = base + 1 - half;
        // Taps reaching before the first input or after the last see silence.
        const int from = static_cast<int>(std::max<std::int64_t>(0, start - first));
        const int to = static_cast<int>(std::min<std::int64_t>(2 * half, received - first));
        for (int c = 0; c < channels; ++c)
        {
            const float* x = history.data() + (first - start) * channels + c;
            double sum = 0.0;
            for (int k = from; k < to; ++k)
                sum += h[k] * x[k * channels];
            out.push_back(static_cast<float>(sum));
        }
    }
    // Keep what the next output frames still need.
    const std::int64_t keep = std::max<std::int64_t>(start, produced * down / up + 1 - half);
    if (keep > start)
    {
        history.erase(history.begin(), history.begin() + (keep - start) * channels);
        start = keep;
    }
}
