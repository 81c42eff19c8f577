// The host's loudness and true-peak meters against libebur128 as an
// independent reference, and the meters' own paths against each other.
#include "HostTestSupport.h"
#include "LoudnessMeter.h"
#include "TruePeakMeter.h"

#include <gtest/gtest.h>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
using namespace HostTest;

// Noise whose level jumps every half second between -45 and -3 dBFS, so that
// both gates and the range percentiles have work to do.
Audio steppedNoise(int rate, int channels, double seconds, std::uint32_t seed)
{
    Audio audio = noise(static_cast<std::int64_t>(rate * seconds), channels, seed, 1.0f);
    audio.rate = rate;
    std::mt19937 engine(seed + 1);
    float gain = 1.0f;
    for (std::int64_t n = 0; n < audio.frames(); ++n)
    {
        if (n % (rate / 2) == 0)
            gain = std::pow(10.0f, -(3.0f + static_cast<float>(engine() % 43)) / 20.0f);
        for (int c = 0; c < channels; ++c)
            audio.samples[static_cast<std::size_t>(n * channels + c)] *= gain;
    }
    return audio;
}

LoudnessStats libraryStats(const Audio& audio)
{
    ebur128_state* state = ebur128_init(static_cast<unsigned>(audio.channels), static_cast<unsigned long>(audio.rate),
                                        EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK);
    ebur128_add_frames_float(state, audio.samples.data(), static_cast<std::size_t>(audio.frames()));
    LoudnessStats stats{};
    ebur128_loudness_global(state, &stats.integratedLufs);
    ebur128_loudness_range(state, &stats.rangeLu);
    double peak = 0.0;
    for (int c = 0; c < audio.channels; ++c)
    {
        double value = 0.0;
        ebur128_sample_peak(state, static_cast<unsigned>(c), &value);
        peak = std::max(peak, value);
    }
    stats.samplePeakDb = peak > 0.0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
    ebur128_destroy(&state);
    return stats;
}

// Feeds the meter in uneven blocks: its 100 ms steps must not care.
LoudnessStats meterStats(const Audio& audio)
{
    LoudnessMeter meter(audio.channels, audio.rate);
    for (std::int64_t done = 0, block = 1; done < audio.frames(); done += block, block = block * 7 % 9973 + 1)
        meter.add(audio.samples.data() + done * audio.channels, std::min(block, audio.frames() - done));
    return meter.stats();
}

TEST(HostLoudness, AgreesWithLibebur128)
{
    // Both sum the same squares of the same K-weighted signal, in double
    // precision, in a different order: the figures agree to far below what
    // the report shows (0.1 LU).
    constexpr double kTolerance = 1e-6;
    std::uint32_t seed = 5;
    for (int rate : {8000, 44100, 48000, 96000})
        for (int channels : {1, 2})
        {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
            const Audio audio = steppedNoise(rate, channels, 12.3, seed++);
            const LoudnessStats ours = meterStats(audio);
            const LoudnessStats theirs = libraryStats(audio);
            EXPECT_NEAR(ours.integratedLufs, theirs.integratedLufs, kTolerance);
            EXPECT_GT(theirs.rangeLu, 3.0); // the range is exercised
            EXPECT_NEAR(ours.rangeLu, theirs.rangeLu, kTolerance);
            EXPECT_EQ(ours.samplePeakDb, theirs.samplePeakDb);
        }
}

TEST(HostLoudness, ShortQuietAndSilentInputs)
{
    // Under 400 ms there is no gating block; under 3 s no short-term block.
    for (double seconds : {0.0, 0.39, 1.0, 2.99})
    {
        SCOPED_TRACE(seconds);
        const Audio audio = steppedNoise(48000, 2, seconds, 9);
        const LoudnessStats ours = meterStats(audio);
        const LoudnessStats theirs = libraryStats(audio);
        EXPECT_EQ(std::isinf(ours.integratedLufs), std::isinf(theirs.integratedLufs));
        if (!std::isinf(theirs.integratedLufs))
        {
            EXPECT_NEAR(ours.integratedLufs, theirs.integratedLufs, 1e-6);
        }
        EXPECT_EQ(ours.rangeLu, 0.0);
    }
    Audio silence = noise(48000 * 4, 2, 1, 0.0f);
    silence.rate = 48000;
    const LoudnessStats quiet = meterStats(silence);
    EXPECT_TRUE(std::isinf(quiet.integratedLufs) && quiet.integratedLufs < 0);
    EXPECT_TRUE(std::isinf(quiet.samplePeakDb) && quiet.samplePeakDb < 0);
    EXPECT_TRUE(std::isinf(quiet.truePeakDb) && quiet.truePeakDb < 0);
    EXPECT_EQ(quiet.rangeLu, 0.0);
}

TEST(HostLoudness, KWeightingMatchesTheStandardsCoefficientsAt48k)
{
    // The coefficients BS.1770 prints for 48 kHz.
    const auto filters = LoudnessMeter::kWeighting(48000.0);
    const LoudnessMeter::Biquad shelf = {1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
                                         0.73248077421585};
    const LoudnessMeter::Biquad pass = {1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621};
    for (std::size_t i = 0; i < 5; ++i)
    {
        EXPECT_NEAR(filters[0][i], shelf[i], 1e-10) << i;
        EXPECT_NEAR(filters[1][i], pass[i], 1e-10) << i;
    }
}

TEST(HostLoudness, RefusesChannelCountsAndRatesItCannotMeasure)
{
    EXPECT_THROW(LoudnessMeter(0, 48000), std::exception);
    EXPECT_THROW(LoudnessMeter(3, 48000), std::exception);
    EXPECT_THROW(LoudnessMeter(2, 10), std::exception);
}

TEST(HostTruePeak, SkippingQuietBlocksChangesNoBit)
{
    // Signals with blocks far under their peak: level steps, a fade-out, and
    // ever louder clicks in quiet noise (each new peak right after skipped
    // blocks), in blocks of changing lengths.
    Audio fade = noise(3 * 44100, 2, 7, 0.9f);
    for (std::int64_t n = 0; n < fade.frames(); ++n)
        for (int c = 0; c < 2; ++c)
            fade.samples[static_cast<std::size_t>(2 * n + c)] *= static_cast<float>(std::exp(-static_cast<double>(n) / 15000.0));
    Audio clicks = noise(3 * 44100, 2, 8, 0.003f);
    for (int k = 0; k < 20; ++k)
        for (int i = 0; i < 3; ++i) // +a, -a, +a: an intersample over
            clicks.samples[static_cast<std::size_t>(2 * (6000 * k + 37 * k + i))] = (i == 1 ? -0.05f : 0.05f) * std::pow(1.2f, static_cast<float>(k));
    const std::pair<const char*, Audio> signals[] = {
        {"level steps", steppedNoise(44100, 2, 6.0, 31)}, {"fade-out", fade}, {"clicks", clicks}};
    for (const auto& [name, audio] : signals)
    {
        SCOPED_TRACE(name);
        TruePeakMeter skipping(2, 44100);
        TruePeakMeter full(2, 44100, true, false);
        for (std::int64_t done = 0, block = 1; done < audio.frames(); done += block, block = block * 7 % 3001 + 1)
        {
            const std::int64_t count = std::min(block, audio.frames() - done);
            skipping.add(audio.samples.data() + done * 2, count);
            full.add(audio.samples.data() + done * 2, count);
            ASSERT_EQ(skipping.peak(), full.peak()) << done;
        }
        EXPECT_GT(skipping.framesSkipped(), audio.frames() / 4); // the skipping was exercised
    }
}

TEST(HostTruePeak, GainBoundIsReachedAndNotExceeded)
{
    // Unit samples signed as the first stage's taps either side of one
    // half-sample point: that point is the sum of all their magnitudes, the
    // largest any phase can reach; the bound adds only a margin for rounding.
    TruePeakMeter meter(1, 44100, true, false);
    const std::vector<float>& taps = meter.stageTaps(0);
    std::vector<float> x(2 * taps.size());
    for (std::size_t k = 0; k < taps.size(); ++k)
        x[taps.size() - 1 - k] = x[taps.size() + k] = taps[k] < 0.0f ? -1.0f : 1.0f;
    meter.add(x.data(), static_cast<std::int64_t>(x.size()));
    EXPECT_LE(meter.peak(), meter.gainBound());
    EXPECT_GT(meter.peak(), meter.gainBound() / 1.0101);
}

TEST(HostTruePeak, VectorPathsAgreeExactly)
{
    // Blocks of every length around the tile sizes, and the three factors.
    for (int rate : {44100, 96000, 192000})
    {
        SCOPED_TRACE(rate);
        const Audio audio = steppedNoise(rate, 2, 0.5, 21);
        TruePeakMeter wide(2, rate, true);
        TruePeakMeter narrow(2, rate, false);
        for (std::int64_t done = 0, block = 1; done < audio.frames(); done += block, block = block % 70 + 1)
        {
            const std::int64_t count = std::min(block, audio.frames() - done);
            wide.add(audio.samples.data() + done * 2, count);
            narrow.add(audio.samples.data() + done * 2, count);
            if (block % 8 == 0 || done + count == audio.frames()) // peak() finishes a copy: costly
            {
                ASSERT_EQ(wide.peak(), narrow.peak()) << done;
            }
        }
    }
}
} // namespace
