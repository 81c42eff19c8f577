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

TEST(TruePeakDetector, StagesStayWithinTheirStatedError)
{
    // Each half-band stage's response, 1/2 + sum of taps[k] cos(2 pi f (2k + 1)),
    // over its passband (the band its input carries: 0.488 of the input rate
    // for the first stage, a quarter of each later stage's input rate): the
    // errors must add up to less than kFilterError.
    TruePeakDetector detector;
    double total = 0.0;
    for (int s = 0; s < TruePeakDetector::kStages; ++s)
    {
        const std::vector<float>& taps = detector.stageTaps(s);
        const double edge = s == 0 ? 0.244 : 0.13 / (1 << (s - 1));
        double worst = 0.0;
        for (int i = 0; i <= 2000; ++i)
        {
            const double f = edge * i / 2000.0;
            double response = 0.5;
            for (std::size_t k = 0; k < taps.size(); ++k)
                response += taps[k] * std::cos(2.0 * MaximizerTest::kPi * f * (2.0 * k + 1.0));
            worst = std::max(worst, std::fabs(response - 1.0));
        }
        total += worst;
    }
    EXPECT_LT(total, TruePeakDetector::kFilterError);
}

TEST(TruePeakDetector, NeverReadsASineBelowItsPointsOnTheSixteenthGrid)
{
    // Sines up to 0.48 of the rate: the answer for each sample is at least the
    // sine's largest magnitude at that sample and its 15 sixteenths after it,
    // at most a little above (the meter-style phases read up to 4 % high;
    // above 0.45 of the rate half the band level is added), and never below
    // the sample itself. The baseline build of the filters gives the very same
    // answers as the AVX one.
    const int n = TruePeakDetector::kMaxBlock;
    std::vector<float> x(n + TruePeakDetector::kHistory);
    float* now = x.data() + TruePeakDetector::kHistory;
    TruePeakDetector detector, baseline(false);
    for (double f : {0.01, 0.1, 0.25, 0.4, 0.44, 0.48})
    {
        auto at = [f](double t) { return std::sin(2.0 * MaximizerTest::kPi * f * (t - 0.3)); };
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = static_cast<float>(at(static_cast<double>(i)));
        const double band = f > 0.45 ? 0.5 : 0.0;
        std::vector<float> peaks(n), samples(n);
        detector.truePeak(now, peaks.data(), n);
        TruePeakDetector::samplePeak(now, samples.data(), n);
        std::vector<float> plain(n);
        baseline.truePeak(now, plain.data(), n);
        ASSERT_EQ(plain, peaks) << f;
        for (int i = 0; i < n; ++i)
        {
            const double position = TruePeakDetector::kHistory + i - TruePeakDetector::kDelay;
            double expected = 0.0;
            for (int k = 0; k < TruePeakDetector::kFactor; ++k)
                expected = std::max(expected, std::fabs(at(position + k / 16.0)));
            ASSERT_EQ(std::fabs(now[i - TruePeakDetector::kDelay]), samples[i]);
            ASSERT_GE(peaks[i], samples[i]);
            // The input is rounded to float: 2^-24 of its peak either way.
            ASSERT_GE(peaks[i], expected - 1e-7) << f << " " << i;
            ASSERT_LE(peaks[i], 1.05 * expected + band + 1e-3) << f << " " << i;
        }
    }
}
