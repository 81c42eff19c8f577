#include "GainComputer.h"
#include "SlidingMaximum.h"
#include "TruePeakDetector.h"
#include "MaximizerTestSupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <random>

TEST(SlidingMaximum, MatchesNaiveWindowMaximum)
{
    std::mt19937 rng(1);
    for (int window : {1, 2, 7, 64, 81, 100})
    {
        SlidingMaximum maximum(window);
        std::vector<float> history;
        for (int i = 0; i < 5000; ++i)
        {
            // Few distinct values, so ties are frequent.
            const float v = static_cast<float>(rng() % 13);
            history.push_back(v);
            float naive = 0.0f; // the window starts out full of zeros
            for (int k = std::max(0, i - window + 1); k <= i; ++k)
                naive = std::max(naive, history[static_cast<std::size_t>(k)]);
            ASSERT_EQ(naive, maximum.push(v)) << "window " << window << " step " << i;
        }
    }
}

TEST(GainComputer, GainMeetsEveryPeakWhenItLeavesTheWindowAndIsExactlyOneOtherwise)
{
    const int window = 81;
    const float ceiling = 0.5f;
    std::mt19937 rng(2);
    for (bool automatic : {false, true})
    {
        GainComputer computer(window);
        computer.setCeiling(ceiling);
        ReleaseCoefficients release;
        release.normal = release.slow = 0.001;
        release.fast = 0.01;
        release.charge = 0.0005;
        release.automatic = automatic;
        computer.setRelease(release);
        // Quiet stretches and bursts of random peaks up to +60 dB.
        const int n = 40000;
        std::vector<float> peak(n), gain(n);
        for (int i = 0; i < n; ++i)
            peak[i] = (i / 5000) % 2 ? static_cast<float>(rng() % 1000) * (rng() % 8 == 0) : 0.4f;
        computer.process(peak.data(), gain.data(), n);
        for (int i = window - 1; i < n; ++i)
            ASSERT_LE(gain[i] * peak[i - window + 1], ceiling) << i;
        // Before the first loud peak arrives nothing is reduced.
        for (int i = 0; i < 5000; ++i)
            ASSERT_EQ(1.0f, gain[i]) << i;
        // Long after the last burst the release has completed to exactly 1.
        std::vector<float> quiet(200000, 0.4f), tail(200000);
        computer.process(quiet.data(), tail.data(), static_cast<int>(quiet.size()));
        EXPECT_EQ(1.0f, tail.back());
    }
}

TEST(TruePeakDetector, PhasesInterpolateBandLimitedSignalsAndKeepTheSample)
{
    TruePeakDetector detector;
    for (int p = 1; p < TruePeakDetector::kPhases; ++p)
    {
        double sum = 0.0;
        for (float tap : detector.phaseTaps(p))
            sum += tap;
        EXPECT_NEAR(1.0, sum, 1e-6) << "phase " << p << " passes DC at unity";
    }
    // Sines up to 0.94 of Nyquist (the passband): each interpolated point must
    // match the analytic sine within the window's sidelobes (-92 dB) and the
    // float rounding of the input.
    const int n = TruePeakDetector::kMaxBlock;
    std::vector<float> x(n + TruePeakDetector::kHistory);
    float* now = x.data() + TruePeakDetector::kHistory;
    for (double f : {0.01, 0.1, 0.25, 0.4, 0.47})
    {
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = static_cast<float>(std::sin(2.0 * MaximizerTest::kPi * f * (static_cast<double>(i) - 0.3)));
        std::vector<double> expected(n);
        for (int i = 0; i < n; ++i)
            expected[i] = std::fabs(now[i - TruePeakDetector::kDelay]);
        for (int p = 1; p < TruePeakDetector::kPhases; ++p)
            for (int i = 0; i < n; ++i)
            {
                double y = 0.0;
                for (int j = 0; j < TruePeakDetector::kTaps; ++j)
                    y += detector.phaseTaps(p)[static_cast<std::size_t>(j)] * now[i - j];
                const double t = TruePeakDetector::kHistory + i - TruePeakDetector::kDelay + p / 4.0 - 0.3;
                ASSERT_NEAR(std::sin(2.0 * MaximizerTest::kPi * f * t), y, 1e-4) << f << " " << p << " " << i;
                expected[i] = std::max(expected[i], std::fabs(y));
            }
        // The block computation agrees with the direct sums up to float
        // accumulation over kTaps products, each at most |tap| (input <= 1).
        double absSum = 0.0;
        for (int p = 1; p < TruePeakDetector::kPhases; ++p)
        {
            double sum = 0.0;
            for (float tap : detector.phaseTaps(p))
                sum += std::fabs(tap);
            absSum = std::max(absSum, sum);
        }
        const double rounding = TruePeakDetector::kTaps * FLT_EPSILON * absSum;
        std::vector<float> peaks(n), samples(n);
        detector.truePeak(now, peaks.data(), n);
        TruePeakDetector::samplePeak(now, samples.data(), n);
        for (int i = 0; i < n; ++i)
        {
            ASSERT_EQ(std::fabs(now[i - TruePeakDetector::kDelay]), samples[i]);
            ASSERT_GE(peaks[i], samples[i]);
            ASSERT_NEAR(expected[i], peaks[i], rounding) << f << " " << i;
        }
    }
}
