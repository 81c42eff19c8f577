#include "TruePeakMeter.h"

#include <algorithm>
#include <cmath>

TruePeakMeter::TruePeakMeter(int channelCount, int sampleRate)
    : channels(channelCount), phases(sampleRate < 96000 ? 4 : (sampleRate < 192000 ? 2 : 1)),
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
            const double sinc = x == 0.0 ? 1.0 : std::sin(pi * x) / (pi * x);
            taps[tap] = sinc * (0.5 - 0.5 * std::cos(2.0 * pi * (m + 1) / (length + 1)));
            sum += taps[tap];
        }
        for (int tap = 0; tap < kTaps; ++tap)
            coefficients[static_cast<std::size_t>(tap)][static_cast<std::size_t>(phase)] = static_cast<float>(taps[tap] / sum);
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
    {
        line.resize(kTaps - 1 + count); // grow to the largest block, once
        sum.resize(count);
    }
    for (int c = 0; c < channels; ++c)
    {
        std::array<float, kTaps - 1>& past = history[static_cast<std::size_t>(c)];
        std::copy(past.begin(), past.end(), line.begin());
        float samplePeak = 0.0f;
        for (std::size_t n = 0; n < count; ++n)
        {
            line[kTaps - 1 + n] = interleaved[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
            samplePeak = std::max(samplePeak, std::fabs(line[kTaps - 1 + n]));
        }
        // Phase by phase, each tap across the whole block: the inner loops run
        // over consecutive samples and vectorise without reordering any sum.
        Lanes peak{};
        for (std::size_t p = 0; p < static_cast<std::size_t>(phases); ++p)
        {
            std::fill(sum.begin(), sum.begin() + static_cast<std::ptrdiff_t>(count), 0.0f);
            for (std::size_t tap = 0; tap < kTaps; ++tap)
            {
                const float coefficient = coefficients[tap][p];
                const float* x = line.data() + (kTaps - 1 - tap);
                for (std::size_t n = 0; n < count; ++n)
                    sum[n] += coefficient * x[n];
            }
            std::size_t n = 0;
            for (; n + kMaxPhases <= count; n += kMaxPhases)
                for (std::size_t lane = 0; lane < kMaxPhases; ++lane)
                    peak[lane] = std::max(peak[lane], std::fabs(sum[n + lane]));
            for (; n < count; ++n)
                peak[0] = std::max(peak[0], std::fabs(sum[n]));
        }
        std::copy(line.begin() + static_cast<std::ptrdiff_t>(count), line.begin() + static_cast<std::ptrdiff_t>(count) + kTaps - 1,
                  past.begin());
        float& channelMaximum = maximum[static_cast<std::size_t>(c)];
        channelMaximum = std::max({channelMaximum, samplePeak, *std::max_element(peak.begin(), peak.end())});
    }
}

double TruePeakMeter::peak() const
{
    return maximum.empty() ? 0.0 : *std::max_element(maximum.begin(), maximum.end());
}
