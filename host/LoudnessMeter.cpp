#include "LoudnessMeter.h"

#include "HostError.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kBlockSteps = 4;      // 400 ms
constexpr std::size_t kShortTermSteps = 30; // 3 s
constexpr std::size_t kShortTermHop = 10;   // 1 s

double toDb(double linear)
{
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

double energyToLufs(double energy)
{
    return energy > 0.0 ? 10.0 * std::log10(energy) - 0.691 : -std::numeric_limits<double>::infinity();
}

// Mean square of a block at the absolute gate, -70 LUFS.
const double kAbsoluteGate = std::pow(10.0, (-70.0 + 0.691) / 10.0);

double mean(const std::vector<double>& energies, double threshold, std::size_t* count = nullptr)
{
    double sum = 0.0;
    std::size_t n = 0;
    for (double energy : energies)
        if (energy >= threshold)
        {
            sum += energy;
            ++n;
        }
    if (count)
        *count = n;
    return n ? sum / static_cast<double>(n) : 0.0;
}
} // namespace

std::array<LoudnessMeter::Biquad, 2> LoudnessMeter::kWeighting(double rate)
{
    // The analogue prototypes behind the 48 kHz coefficients of BS.1770,
    // mapped to any rate by the bilinear transform.
    double f0 = 1681.974450955533;
    double q = 0.7071752369554196;
    double k = std::tan(kPi * f0 / rate);
    const double vh = std::pow(10.0, 3.999843853973347 / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    const Biquad shelf = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
                          2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    f0 = 38.13547087602444;
    q = 0.5003270373238773;
    k = std::tan(kPi * f0 / rate);
    a0 = 1.0 + k / q + k * k;
    const Biquad pass = {1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    return {shelf, pass};
}

LoudnessMeter::LoudnessMeter(int channelCount, int sampleRate, bool measureTrue)
    : truePeak(std::clamp(channelCount, 1, 2), std::max(sampleRate, 1)), measureTruePeak(measureTrue),
      channels(channelCount),
      weighting(kWeighting(sampleRate)), stepFrames(stepFramesAt(sampleRate))
{
    if (channelCount < 1 || channelCount > 2 || sampleRate < 16)
        throw HostError("cannot measure loudness of " + std::to_string(channelCount) + " channels at " +
                        std::to_string(sampleRate) + " Hz");
}

void LoudnessMeter::add(const float* interleaved, std::int64_t frames)
{
    if (frames <= 0)
        return;
    if (measureTruePeak)
        truePeak.add(interleaved, frames);
    std::size_t remaining = static_cast<std::size_t>(frames);
    while (remaining > 0)
    {
        const std::size_t count = std::min(remaining, stepFrames - stepUsed);
        if (channels == 2)
            filter<2>(interleaved, count);
        else
            filter<1>(interleaved, count);
        interleaved += count * static_cast<std::size_t>(channels);
        remaining -= count;
        stepUsed += count;
        if (stepUsed == stepFrames)
            endStep();
    }
}

// K-weights `frames` frames and adds their squares to the step's energy; the
// channels run side by side so that their recursions overlap.
template <int Channels>
void LoudnessMeter::filter(const float* interleaved, std::size_t frames)
{
    const Biquad& s = weighting[0];
    const Biquad& p = weighting[1];
    Filter f[Channels];
    float peak[Channels];
    double energy[Channels] = {};
    for (int c = 0; c < Channels; ++c)
    {
        f[c] = state[static_cast<std::size_t>(c)];
        peak[c] = samplePeak[static_cast<std::size_t>(c)];
    }
    for (std::size_t n = 0; n < frames; ++n)
    {
        for (int c = 0; c < Channels; ++c)
        {
            const float sample = interleaved[n * Channels + static_cast<std::size_t>(c)];
            peak[c] = std::max(peak[c], std::fabs(sample));
            const double x = sample;
            const double y = s[0] * x + f[c].shelf1;
            f[c].shelf1 = s[1] * x - s[3] * y + f[c].shelf2;
            f[c].shelf2 = s[2] * x - s[4] * y;
            const double z = p[0] * y + f[c].pass1;
            f[c].pass1 = p[1] * y - p[3] * z + f[c].pass2;
            f[c].pass2 = p[2] * y - p[4] * z;
            energy[c] += z * z;
        }
    }
    for (int c = 0; c < Channels; ++c)
    {
        state[static_cast<std::size_t>(c)] = f[c];
        samplePeak[static_cast<std::size_t>(c)] = peak[c];
        stepEnergy += energy[c];
    }
}

// Every 100 ms: a gating block once 400 ms have passed, a short-term block
// every second once 3 s have passed, and the short-term loudness.
void LoudnessMeter::endStep()
{
    steps[static_cast<std::size_t>(stepCount % kShortTermSteps)] = stepEnergy;
    ++stepCount;
    stepEnergy = 0.0;
    stepUsed = 0;
    auto lastSteps = [this](std::size_t count) {
        double sum = 0.0;
        for (std::size_t i = 1; i <= std::min<std::uint64_t>(count, stepCount); ++i)
            sum += steps[static_cast<std::size_t>((stepCount - i) % kShortTermSteps)];
        return sum / static_cast<double>(count * stepFrames);
    };
    shortTermLufs.push_back(static_cast<float>(energyToLufs(lastSteps(kShortTermSteps))));
    if (stepCount >= kBlockSteps)
    {
        const double energy = lastSteps(kBlockSteps);
        if (energy >= kAbsoluteGate)
            blocks.push_back(energy);
    }
    if (stepCount >= kShortTermSteps && (stepCount - kShortTermSteps) % kShortTermHop == 0)
    {
        const double energy = lastSteps(kShortTermSteps);
        if (energy >= kAbsoluteGate)
            shortTerms.push_back(energy);
    }
}

LoudnessStats LoudnessMeter::stats() const
{
    LoudnessStats stats{};
    stats.blocks = blocks;
    stats.shortTerms = shortTerms;
    stats.shortTermLufs = shortTermLufs;
    const float peak = *std::max_element(samplePeak.begin(), samplePeak.end());
    stats.samplePeakDb = toDb(peak);
    stats.truePeakDb = measureTruePeak ? toDb(std::max(truePeak.peak(), static_cast<double>(peak)))
                                       : std::numeric_limits<double>::quiet_NaN();
    summarise(stats);
    return stats;
}

LoudnessStats LoudnessMeter::combine(const std::vector<const LoudnessStats*>& parts)
{
    LoudnessStats stats{};
    stats.samplePeakDb = stats.truePeakDb = -std::numeric_limits<double>::infinity();
    for (const LoudnessStats* part : parts)
    {
        stats.blocks.insert(stats.blocks.end(), part->blocks.begin(), part->blocks.end());
        stats.shortTerms.insert(stats.shortTerms.end(), part->shortTerms.begin(), part->shortTerms.end());
        stats.samplePeakDb = std::max(stats.samplePeakDb, part->samplePeakDb);
        stats.truePeakDb = std::isnan(part->truePeakDb) ? part->truePeakDb : std::max(stats.truePeakDb, part->truePeakDb);
    }
    summarise(stats);
    return stats;
}

// Integrated loudness and range from the blocks.
void LoudnessMeter::summarise(LoudnessStats& stats)
{
    const double relativeGate = mean(stats.blocks, 0.0) * 0.1; // -10 LU
    std::size_t gated = 0;
    const double integrated = mean(stats.blocks, relativeGate, &gated);
    stats.integratedLufs = gated ? energyToLufs(integrated) : -std::numeric_limits<double>::infinity();

    std::vector<double> range;
    const double rangeGate = mean(stats.shortTerms, 0.0) * 0.01; // -20 LU
    for (double energy : stats.shortTerms)
        if (energy >= rangeGate)
            range.push_back(energy);
    std::sort(range.begin(), range.end());
    stats.rangeLu = 0.0;
    if (!range.empty())
    {
        const double last = static_cast<double>(range.size() - 1);
        const double low = range[static_cast<std::size_t>(last * 0.10 + 0.5)];
        const double high = range[static_cast<std::size_t>(last * 0.95 + 0.5)];
        stats.rangeLu = energyToLufs(high) - energyToLufs(low);
    }
}
