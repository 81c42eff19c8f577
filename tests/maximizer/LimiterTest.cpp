#include "Limiter.h"
#include "MaximizerTestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#ifdef ORVEX_HAVE_EBUR128
#include <ebur128.h>
#endif

using namespace MaximizerTest;

namespace
{
constexpr std::size_t kLatency = Limiter::kLatency;

LimiterSettings settings(float ceilingDb, bool truePeak = false, float link = 1.0f, float releaseMs = 100.0f)
{
    LimiterSettings s;
    s.ceilingDb = ceilingDb;
    s.truePeak = truePeak;
    s.link = link;
    s.releaseMs = releaseMs;
    return s;
}

// libebur128's true peak of a stereo signal (0 where it is not installed).
double meterTruePeak(const Stereo& s)
{
    double peak = 0.0;
#ifdef ORVEX_HAVE_EBUR128
    ebur128_state* state = ebur128_init(2, 44100, EBUR128_MODE_TRUE_PEAK);
    std::vector<float> frames;
    for (std::size_t i = 0; i < s.size(); ++i)
    {
        frames.push_back(s.left[i]);
        frames.push_back(s.right[i]);
    }
    ebur128_add_frames_float(state, frames.data(), s.size());
    for (unsigned c = 0; c < 2; ++c)
    {
        double value = 0.0;
        ebur128_true_peak(state, c, &value);
        peak = std::max(peak, value);
    }
    ebur128_destroy(&state);
#else
    (void)s;
#endif
    return peak;
}

void expectDelayedCopy(const Stereo& in, const Stereo& out)
{
    for (int c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < out.size(); ++i)
        {
            const float expected = i < kLatency ? 0.0f : in[c][i - kLatency];
            ASSERT_EQ(expected, out[c][i]) << "channel " << c << " sample " << i;
        }
}
} // namespace

TEST(Limiter, PassesQuietSignalsDelayedBitExact)
{
    // Interpolation cannot read white noise more than 12 dB over its samples.
    constexpr float kWorstInterpolation = 4.0f;
    for (bool truePeak : {false, true})
    {
        Limiter limiter;
        limiter.setSettings(settings(-0.1f, truePeak, 0.5f));
        const float level = 0.999f * dbToGain(-0.1) / (truePeak ? kWorstInterpolation : 1.0f);
        const Stereo in = whiteNoise(30000, level, 11);
        expectDelayedCopy(in, runBlocks(limiter, in, 12));
    }
}

TEST(Limiter, SamplePeakNeverExceedsCeilingByDesign)
{
    const std::size_t n = 22050;
    const std::vector<std::pair<std::string, Stereo>> signals = {
        {"square +40 dB", square(n, 100, 100.0f)},        {"spikes +60 dB", spikes(n, 1000.0f, 3)},
        {"noise 0 dB", whiteNoise(n, 1.0f, 4)},           {"noise +40 dB", whiteNoise(n, 100.0f, 5)},
        {"sweep +20 dB", sweep(n, 10.0f)},                {"DC steps +60 dB", dcSteps(n, 1000.0f)},
    };
    struct Case
    {
        float thresholdDb, ceilingDb, link, releaseMs;
        bool truePeak, autoRelease;
    };
    const Case cases[] = {
        {0.0f, -0.1f, 1.0f, 100.0f, false, false},  {-30.0f, -0.1f, 0.0f, 1.0f, false, false},
        {-12.0f, -12.0f, 0.5f, 10.0f, true, false}, {0.0f, -30.0f, 1.0f, 1000.0f, true, true},
        {-6.0f, 0.0f, 0.0f, 50.0f, false, true},
    };
    unsigned seed = 100;
    for (const Case& k : cases)
        for (const auto& [name, in] : signals)
        {
            Limiter limiter;
            LimiterSettings s = settings(k.ceilingDb, k.truePeak, k.link, k.releaseMs);
            s.thresholdDb = k.thresholdDb;
            s.autoRelease = k.autoRelease;
            limiter.setSettings(s);
            const Stereo out = runBlocks(limiter, in, ++seed);
            EXPECT_LE(samplePeak(out), dbToGain(k.ceilingDb)) << name << ", ceiling " << k.ceilingDb;
            EXPECT_EQ(0u, limiter.clampedSamples()) << name << ": the clamp, not the gain, held the ceiling";
        }
}

TEST(Limiter, TruePeakStaysWithinToleranceForFullBandSignals)
{
    // Full-band material: white noise, edges, Nyquist itself, clipping, and
    // hard starts and stops. Each signal is followed by silence long enough
    // for the limiter to flush it, so the reference sees what the limiter saw.
    const std::size_t n = 8192;
    std::vector<std::pair<std::string, Stereo>> signals = {
        {"music-like +12 dB", musicLike(n, 4.0f, 20)},
        {"music-like +18 dB", musicLike(n, 8.0f, 29)},
        {"quarter-rate sine between samples", sine(n, 0.25, 10.0f, kPi / 4.0)},
        {"noise under 20 kHz +40 dB", bandLimitedNoise(n, 0.45, 100.0f, 21)},
        {"white noise 0 dB", whiteNoise(n, 1.0f, 22)},
        {"white noise +40 dB", whiteNoise(n, 100.0f, 23)},
        {"white noise +60 dB", whiteNoise(n, 1000.0f, 24)},
        {"noise bursts up to +40 dB", noiseBursts(n, 100.0f, 25)},
        {"Nyquist square +20 dB", square(n, 2, 10.0f)},
        {"square period 3 +40 dB", square(n, 3, 100.0f)},
        {"square period 37 +20 dB", square(n, 37, 10.0f)},
        {"spikes +60 dB", spikes(n, 1000.0f, 26)},
        {"sweep to Nyquist +20 dB", sweep(n, 10.0f, 0.5)},
        {"sweep to Nyquist +60 dB", sweep(n, 1000.0f, 0.5)},
        {"noise clipped 20 dB, +20 dB", hardClipped(n, 10.0f, 10.0f, 27)},
        {"noise clipped 40 dB, +40 dB", hardClipped(n, 100.0f, 100.0f, 28)},
    };
    struct Case
    {
        float thresholdDb, ceilingDb, link, releaseMs;
        bool autoRelease;
    };
    // Fast release moves the gain most between peaks; a low threshold drives
    // the input further up.
    const Case cases[] = {{0.0f, -1.0f, 0.0f, 1.0f, false}, {-12.0f, -0.1f, 1.0f, 100.0f, true}};
    // The reference reads content next to Nyquist and across gain changes
    // that the detector only bounds: 0.02 dB is what is allowed.
    const double tolerance = std::pow(10.0, 0.02 / 20.0);
    unsigned seed = 200;
    for (auto& [name, in] : signals)
    {
        for (int c = 0; c < 2; ++c)
            in[c].resize(n + 2 * kLatency, 0.0f);
        for (const Case& k : cases)
        {
            Limiter limiter;
            LimiterSettings s = settings(k.ceilingDb, true, k.link, k.releaseMs);
            s.thresholdDb = k.thresholdDb;
            s.autoRelease = k.autoRelease;
            limiter.setSettings(s);
            const Stereo out = runBlocks(limiter, in, ++seed);
            const double ceiling = dbToGain(k.ceilingDb);
            for (int c = 0; c < 2; ++c)
                EXPECT_LE(referenceTruePeak(out[c]), ceiling * tolerance)
                    << name << ", ceiling " << k.ceilingDb << " dB, channel " << c;
            // The common meter's own reading, with only its float rounding.
            EXPECT_LE(meterTruePeak(out), ceiling * (1.0 + 1e-6)) << name << ", ceiling " << k.ceilingDb << " dB";
        }
    }
    // Sample-peak limiting lets the quarter-rate sine through 3 dB over: the
    // reference sees what the true-peak mode prevents.
    Limiter limiter;
    limiter.setSettings(settings(-1.0f, false));
    const Stereo out = runBlocks(limiter, signals[2].second, 24);
    EXPECT_GT(referenceTruePeak(out.left), dbToGain(-1.0) * std::pow(10.0, 2.5 / 20.0));
}

TEST(Limiter, TruePeakModeLimitsNoDeeperThanThePeaksNeed)
{
    // On music-like material the inter-sample peaks sit a few tenths of a dB
    // over the samples; reading them must not cost much more level than that
    // (it costs 0.18 dB). Holding each true peak's gain over 16 samples
    // instead of 2 costs 0.39 dB.
    auto rms = [](const Stereo& s) {
        double sum = 0.0;
        for (int c = 0; c < 2; ++c)
            for (float v : s[c])
                sum += static_cast<double>(v) * v;
        return std::sqrt(sum / (2.0 * static_cast<double>(s.size())));
    };
    for (float drive : {4.0f, 8.0f})
    {
        const Stereo in = musicLike(88200, drive, 20);
        double level[2];
        for (bool truePeak : {false, true})
        {
            Limiter limiter;
            limiter.setSettings(settings(-1.0f, truePeak));
            level[truePeak] = rms(runBlocks(limiter, in, 5));
        }
        EXPECT_GT(20.0 * std::log10(level[1] / level[0]), -0.25) << "drive " << drive;
    }
}

TEST(Limiter, SettingsChangedWhilePlayingNeitherClickNorClip)
{
    // A 1 kHz tone, -6 dB on the left and -18 dB on the right, unlinked.
    // Mid-stream the threshold drops to -12 dB, the channels are linked, and
    // the ceiling drops by 12 dB. A level that steps instead of ramping shows
    // as a second difference far above the tone's own; the samples limited
    // for the old ceiling must leave without being clipped.
    const std::size_t n = 40000, thresholdAt = 10000, linkAt = 20000, ceilingAt = 30000;
    Stereo tone = sine(n, 1000.0 / 44100.0, 0.5f);
    for (float& v : tone.right)
        v *= 0.25f;
    Limiter limiter;
    LimiterSettings s = settings(-0.1f, false, 0.0f);
    limiter.setSettings(s);
    Stereo out(n);
    std::size_t done = 0;
    auto runTo = [&](std::size_t to) {
        const float* ins[2] = {&tone.left[done], &tone.right[done]};
        float* outs[2] = {&out.left[done], &out.right[done]};
        limiter.process(ins, outs, static_cast<int>(to - done), false);
        done = to;
    };
    runTo(thresholdAt);
    s.thresholdDb = -12.0f;
    limiter.setSettings(s);
    runTo(linkAt);
    s.link = 1.0f;
    limiter.setSettings(s);
    runTo(ceilingAt);
    s.ceilingDb = -12.1f;
    limiter.setSettings(s);
    runTo(n);

    EXPECT_EQ(0u, limiter.clampedSamples());
    const double toneCurvature = dbToGain(-0.1) * std::pow(2.0 * kPi * 1000.0 / 44100.0, 2.0);
    for (int c = 0; c < 2; ++c)
    {
        double curvature = 0.0;
        for (std::size_t t = kLatency + 100; t + 1 < ceilingAt; ++t)
            curvature = std::max(curvature, std::fabs(static_cast<double>(out[c][t + 1]) - 2.0 * out[c][t] + out[c][t - 1]));
        EXPECT_LT(curvature, 1.1 * toneCurvature) << "channel " << c;
    }
    // Linked, the right channel takes the left's reduction.
    float linkedRight = 0.0f;
    for (std::size_t t = linkAt + 2000; t < ceilingAt; ++t)
        linkedRight = std::max(linkedRight, std::fabs(out.right[t]));
    EXPECT_LT(linkedRight, 0.3f);
    EXPECT_LE(samplePeak(out, ceilingAt + kLatency), dbToGain(-12.1));
}

TEST(Limiter, TruePeakGainIsFlatAroundEachPeak)
{
    // A +60 dB spike on the left, a quiet DC probe on the right, linked: the
    // probe shows the gain. It must not move within the hold of the spike,
    // where the interpolation around a peak has most of its weight: a gain
    // moving there under full-band content lifts the output's true peak.
    constexpr std::size_t kFlat = Limiter::kHold;
    const std::size_t n = 4000;
    const std::size_t at = 2000;
    const float probe = 0.01f;
    Stereo in(n);
    for (std::size_t i = 0; i < n; ++i)
        in.right[i] = probe;
    in.left[at] = 1000.0f;
    Limiter limiter;
    limiter.setSettings(settings(-1.0f, true, 1.0f, 1.0f));
    const Stereo out = runBlocks(limiter, in, 81);
    const std::size_t peak = at + kLatency;
    const float gain = out.right[peak];
    EXPECT_LE(std::fabs(out.left[peak]), dbToGain(-1.0));
    EXPECT_LT(gain, probe / 100.0f);
    for (std::size_t i = peak - kFlat; i <= peak + kFlat; ++i)
        ASSERT_EQ(gain, out.right[i]) << static_cast<long>(i - peak) << " samples from the spike";
}

TEST(Limiter, RecoversAtTheReleaseTime)
{
    for (double rate : {44100.0, 96000.0})
        for (float releaseMs : {10.0f, 100.0f, 1000.0f})
        {
            Limiter limiter;
            limiter.setSampleRate(rate);
            limiter.setSettings(settings(-0.1f, false, 1.0f, releaseMs));
            const auto process = [&](const Stereo& in) { return runBlocks(limiter, in, 7); };
            // Crossing times are known to a sample each.
            EXPECT_NEAR(releaseMs * 0.001, releaseSeconds(rate, releaseMs, process), 2.0 / rate)
                << releaseMs << " ms at " << rate << " Hz";
        }
}

TEST(Limiter, LinkSharesOrSeparatesTheGain)
{
    // A loud DC step on the left, a quiet DC probe on the right.
    const std::size_t n = 4000;
    Stereo in(n);
    for (std::size_t i = 0; i < n; ++i)
    {
        in.left[i] = i >= 1000 ? 4.0f : 0.0f;
        in.right[i] = 0.5f;
    }
    const float ceiling = dbToGain(-0.1);
    for (float link : {1.0f, 0.5f, 0.0f})
    {
        Limiter limiter;
        limiter.setSettings(settings(-0.1f, false, link));
        const Stereo out = runBlocks(limiter, in, 31);
        for (std::size_t i = 1000 + kLatency; i < n; ++i)
        {
            const float leftGain = out.left[i] / 4.0f;
            const float rightGain = out.right[i] / 0.5f;
            if (link == 1.0f)
                ASSERT_EQ(leftGain, rightGain) << i;
            else if (link == 0.0f)
                ASSERT_EQ(0.5f, out.right[i]) << i;
            else // The right channel sees half the left's peak: needs ceiling / 2.
                ASSERT_NEAR(ceiling / 2.0f, rightGain, 4e-6f) << i;
        }
        EXPECT_NEAR(ceiling, out.left[n - 1], 4e-6f);
    }
}

TEST(Limiter, AutoReleaseIsFastAfterTransientsAndSlowAfterSustainedReduction)
{
    // Time from the end of a burst until the gain is back within 0.1 dB.
    auto recovery = [](bool autoRelease, std::size_t burst) {
        Limiter limiter;
        LimiterSettings s = settings(-0.1f);
        s.autoRelease = autoRelease;
        limiter.setSettings(s);
        const std::size_t n = burst + 44100;
        Stereo in(n);
        for (std::size_t i = 0; i < n; ++i)
            in.left[i] = in.right[i] = i < burst ? 4.0f : 0.01f;
        const Stereo out = runBlocks(limiter, in, 41);
        std::size_t i = n - 1;
        while (i > burst && out.left[i] >= 0.01f * dbToGain(-0.1))
            --i;
        return static_cast<double>(i - burst);
    };
    const double manual = recovery(false, 220);
    const double transient = recovery(true, 220);
    const double sustained = recovery(true, 88200);
    EXPECT_LT(transient * 2.0, manual);
    EXPECT_LT(manual * 1.5, sustained);
}

TEST(Limiter, NonFiniteInputIsSilence)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Stereo dirty = whiteNoise(20000, 3.0f, 51);
    Stereo clean = dirty;
    std::mt19937 rng(52);
    for (int k = 0; k < 200; ++k)
    {
        const std::size_t i = rng() % dirty.size();
        const int c = static_cast<int>(rng() % 2);
        dirty[c][i] = k % 3 == 0 ? nan : (k % 3 == 1 ? inf : -inf);
        clean[c][i] = 0.0f;
    }
    for (bool truePeak : {false, true})
    {
        Limiter a, b;
        a.setSettings(settings(-0.1f, truePeak, 0.3f));
        b.setSettings(settings(-0.1f, truePeak, 0.3f));
        const Stereo outDirty = runBlocks(a, dirty, 53);
        const Stereo outClean = runBlocks(b, clean, 53);
        for (int c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < dirty.size(); ++i)
                ASSERT_EQ(outClean[c][i], outDirty[c][i]) << c << " " << i;
    }
}

TEST(Limiter, BlockingInPlaceAndAccumulationDoNotChangeTheResult)
{
    const Stereo in = whiteNoise(10000, 20.0f, 61);
    Limiter whole;
    whole.setSettings(settings(-3.0f, true, 0.7f));
    Stereo reference(in.size());
    const float* ins[2] = {in.left.data(), in.right.data()};
    float* outs[2] = {reference.left.data(), reference.right.data()};
    whole.process(ins, outs, static_cast<int>(in.size()), false);

    Limiter blocked;
    blocked.setSettings(settings(-3.0f, true, 0.7f));
    const Stereo out = runBlocks(blocked, in, 62, 700);
    Limiter accumulating;
    accumulating.setSettings(settings(-3.0f, true, 0.7f));
    Stereo sum = whiteNoise(in.size(), 1.0f, 63);
    const Stereo before = sum;
    float* sums[2] = {sum.left.data(), sum.right.data()};
    accumulating.process(ins, sums, static_cast<int>(in.size()), true);
    for (int c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < in.size(); ++i)
        {
            ASSERT_EQ(reference[c][i], out[c][i]) << c << " " << i;
            ASSERT_EQ(before[c][i] + reference[c][i], sum[c][i]) << c << " " << i;
        }
}

TEST(Limiter, ResetClearsDelayAndGainAndEmptyCallsAreHarmless)
{
    Limiter limiter;
    runBlocks(limiter, whiteNoise(5000, 50.0f, 71), 72);
    limiter.reset();
    const Stereo quiet = whiteNoise(3000, 0.5f, 73);
    expectDelayedCopy(quiet, runBlocks(limiter, quiet, 74));

    float left[4] = {1, 2, 3, 4}, right[4] = {1, 2, 3, 4};
    float* outs[2] = {left, right};
    limiter.process(nullptr, outs, 0, false);
    limiter.process(nullptr, nullptr, 4, false);
    limiter.reset();
    const float* noInputs[2] = {nullptr, nullptr};
    limiter.process(noInputs, outs, 4, false); // null inputs read as silence
    EXPECT_EQ(0.0f, left[3] + right[3] + left[0]);
}
