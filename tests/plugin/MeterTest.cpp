// The effect's meters on their own, block by block, against the same
// readings worked out in double precision. CTest runs these at each vector
// level the processor has (ORVEX_VECTOR_LEVEL), so every path is checked.
#include "dsp/QuarterSampleTaps.h"
#include "plugin/GainMeter.h"
#include "plugin/OutputPeakMeter.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace
{

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Block lengths cycling through awkward sizes: one frame, odd ones, one
// longer than the meter was reserved for.
const int kBlocks[] = {1, 7, 64, 333, 17, 512, 600, 255};

TEST(Meters, GainMeterReadsTheLowestRatioOfOutputToDelayedInput)
{
    // The output is the input `latency` frames late times a gain that wanders
    // between 0.2 and 1.1, with damaged and inaudible samples mixed in; the
    // latency changes in the last row, after which only input from the block
    // that brings the change on is paired.
    const struct
    {
        const char* what;
        int latency, laterLatency;
    } rows[] = {{"no latency", 0, 0}, {"latency within a block", 37, 37}, {"latency beyond blocks", 700, 700},
                {"latency changed", 216, 40}};
    constexpr int kLength = 6000;
    constexpr int kChange = 3000;
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        Stereo input = seededNoise(kLength, 5, 1.0f);
        input[0][100] = kNaN;
        input[1][200] = kInfinity;
        input[0][300] = 1e-7f; // below the floor
        input[1][400] = 0.0f;
        Stereo output = seededNoise(kLength, 6, 0.0f);
        const auto latencyAt = [&](int t) { return t < kChange ? row.latency : row.laterLatency; };
        for (int c = 0; c < 2; ++c)
            for (int t = 0; t < kLength; ++t)
            {
                const int from = t - latencyAt(t);
                const double gain = 0.65 + 0.45 * std::sin(0.003 * t + c);
                output[c][static_cast<std::size_t>(t)] = from < 0 ? 0.3f : static_cast<float>(gain * input[c][static_cast<std::size_t>(from)]);
            }
        output[1][1500] = kNaN;
        output[0][1600] = kInfinity;

        GainMeter meter;
        meter.reserve(44100.0f);
        int t = 0;
        int laidOut = 0; // the block where the latency last changed
        for (int b = 0, previous = row.latency; t < kLength; ++b)
        {
            const int n = std::min(kBlocks[b % 8], kLength - t);
            const int latency = latencyAt(t);
            if (latency != previous)
                laidOut = t;
            previous = latency;
            const float* in[2] = {&input[0][static_cast<std::size_t>(t)], &input[1][static_cast<std::size_t>(t)]};
            const float* out[2] = {&output[0][static_cast<std::size_t>(t)], &output[1][static_cast<std::size_t>(t)]};
            meter.measure(in, out, n, latency, 0.0f);
            double lowest = kInfinity;
            for (int c = 0; c < 2; ++c)
                for (int j = t; j < t + n; ++j)
                {
                    const int from = j - latency;
                    if (from < laidOut) // before the stream, or before a change of latency
                        continue;
                    const double x = std::fabs(input[c][static_cast<std::size_t>(from)]);
                    const double y = std::fabs(output[c][static_cast<std::size_t>(j)]);
                    if (x > GainMeter::kFloor && std::isfinite(x) && !std::isnan(y))
                        lowest = std::min(lowest, y / x);
                }
            const double expected = lowest < kInfinity ? std::max(0.0, -20.0 * std::log10(lowest)) : 0.0;
            ASSERT_NEAR(meter.reading().blockDb, expected, 1e-4) << "block at " << t << ", " << n << " frames";
            t += n;
        }
    }
    // No input at all is silence: nothing heard, nothing read.
    GainMeter meter;
    meter.reserve(44100.0f);
    const Stereo output = seededNoise(100, 8, 0.5f);
    const float* out[2] = {output[0].data(), output[1].data()};
    for (int block = 0; block < 3; ++block)
        meter.measure(nullptr, out, 100, 37, 0.0f);
    EXPECT_EQ(meter.reading().blockDb, 0.0f);
}

TEST(Meters, OutputPeakReadsTheSamplesAndTheQuarterSamplePoints)
{
    // Noise, then a tone near a quarter of the rate whose peaks fall between
    // samples, then a NaN: each block reads its loudest sample or point.
    constexpr int kLength = 5000;
    std::vector<float> signal[2];
    const Stereo noise = seededNoise(kLength, 7, 0.7f);
    for (int c = 0; c < 2; ++c)
    {
        signal[c] = noise[static_cast<std::size_t>(c)];
        for (int t = 2000; t < 4000; ++t)
            signal[c][static_cast<std::size_t>(t)] = static_cast<float>(0.9 * std::sin(2.0 * 3.14159265358979 * 0.2437 * t + 0.4 + c));
    }
    signal[1][4500] = kNaN;

    const Dsp::QuarterSamplePhases phases = Dsp::quarterSamplePhases();
    const auto sample = [&](int c, int t) {
        return t < 0 ? 0.0 : static_cast<double>(signal[c][static_cast<std::size_t>(t)]);
    };
    OutputPeakMeter meter;
    meter.setSampleRate(44100.0f);
    meter.restart();
    int t = 0;
    for (int b = 0; t < kLength; ++b)
    {
        const int n = std::min(kBlocks[b % 8], kLength - t);
        const float* block[2] = {&signal[0][static_cast<std::size_t>(t)], &signal[1][static_cast<std::size_t>(t)]};
        meter.measure(block, n);
        // The points finished with sample i read samples i - 11 to i.
        double loudest = 0.0;
        for (int c = 0; c < 2; ++c)
            for (int i = t; i < t + n; ++i)
            {
                double points[4] = {sample(c, i), 0.0, 0.0, 0.0};
                for (std::size_t r = 0; r < 3; ++r)
                    for (int k = 0; k < Dsp::kQuarterSampleTaps; ++k)
                        points[r + 1] += phases[r][static_cast<std::size_t>(k)] * sample(c, i - k);
                for (const double point : points)
                    if (!std::isnan(point))
                        loudest = std::max(loudest, std::fabs(point));
            }
        ASSERT_NEAR(meter.reading().blockDb, 20.0 * std::log10(loudest), 1e-4) << "block at " << t << ", " << n << " frames";
        t += n;
    }
}

} // namespace
