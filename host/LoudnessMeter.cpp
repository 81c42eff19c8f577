#include "LoudnessMeter.h"

#include "HostError.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
double toDb(double linear)
{
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}
} // namespace

LoudnessMeter::LoudnessMeter(int channelCount, int sampleRate)
    : truePeak(std::max(channelCount, 1), std::max(sampleRate, 1)), channels(channelCount)
{
    state = ebur128_init(static_cast<unsigned>(channelCount), static_cast<unsigned long>(sampleRate),
                         EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK);
    if (!state)
        throw HostError("cannot measure loudness of " + std::to_string(channelCount) + " channels at " +
                        std::to_string(sampleRate) + " Hz");
}

LoudnessMeter::~LoudnessMeter()
{
    ebur128_destroy(&state);
}

void LoudnessMeter::add(const float* interleaved, std::int64_t frames)
{
    if (frames <= 0)
        return;
    ebur128_add_frames_float(state, interleaved, static_cast<std::size_t>(frames));
    truePeak.add(interleaved, frames);
}

LoudnessStats LoudnessMeter::stats() const
{
    LoudnessStats stats{};
    double value = 0.0;
    stats.integratedLufs = ebur128_loudness_global(state, &value) == EBUR128_SUCCESS
                               ? value
                               : -std::numeric_limits<double>::infinity();
    stats.rangeLu = ebur128_loudness_range(state, &value) == EBUR128_SUCCESS ? value : 0.0;
    double samplePeak = 0.0;
    for (int channel = 0; channel < channels; ++channel)
    {
        if (ebur128_sample_peak(state, static_cast<unsigned>(channel), &value) == EBUR128_SUCCESS)
            samplePeak = std::max(samplePeak, value);
    }
    stats.samplePeakDb = toDb(samplePeak);
    stats.truePeakDb = toDb(std::max(truePeak.peak(), samplePeak));
    return stats;
}
