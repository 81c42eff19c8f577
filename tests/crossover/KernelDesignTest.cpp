#include "crossover/KernelDesign.h"

#include "crossover/BandKernel.h"
#include "vst/Parameter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

namespace
{

constexpr double kPi = 3.14159265358979323846;
const std::array<float, kCrossoverCount> kDefaultFreq = {0.0403946f, 0.1897612f, 0.5721672f, 0.8857579f};
constexpr float kDefaultSlope = 0.21428572f;

BandEdgeTable tableFor(const std::array<float, kCrossoverCount>& x, const std::array<int, kCrossoverCount>& steps,
                       double fs)
{
    std::array<float, kCrossoverCount> hz;
    for (int i = 0; i < kCrossoverCount; ++i)
        hz[i] = crossoverFrequencyHz(x[i], static_cast<float>(fs));
    return bandEdgeTable(hz, steps);
}

BandEdgeTable defaultTable(double fs)
{
    const int step = slopeStep(kDefaultSlope);
    return tableFor(kDefaultFreq, {step, step, step, step}, fs);
}

// |H|^2 of a bilinear Butterworth low-pass (or high-pass) of the given order,
// evaluated from the analytic formula with pre-warping.
double butterworthPower(bool highPass, int order, double fc, double f)
{
    const double ratio = std::tan(kPi * f) / std::tan(kPi * fc);
    return 1.0 / (1.0 + std::pow(highPass ? 1.0 / ratio : ratio, 2.0 * order));
}

// The band's ideal kernel gain |H_hp|^2 |H_lp|^2, in double.
double referenceGain(const BandEdges& band, double fs, double hz)
{
    const double f = hz / fs;
    double gain = 1.0;
    if (band.lowerHz != 0.0f)
        gain *= butterworthPower(true, band.lowerOrder, band.lowerHz / fs, f);
    if (band.upperHz != 0.0f)
        gain *= butterworthPower(false, band.upperOrder, band.upperHz / fs, f);
    return gain;
}

std::vector<float> tapsOf(const BandKernel& kernel)
{
    const float* taps = kernel.taps(0);
    return std::vector<float>(taps, taps + kernel.tapCount(0));
}

// Direct DFT of the taps at hz, with the kernel's delay of len - 1 samples
// removed: a linear-phase kernel leaves a real value, its gain.
std::complex<double> zeroPhaseResponse(const std::vector<float>& taps, double fs, double hz)
{
    const double w = 2 * kPi * hz / fs;
    const int centre = static_cast<int>(taps.size()) / 2 - 1;
    std::complex<double> sum;
    for (size_t n = 0; n < taps.size(); ++n)
        sum += double(taps[n]) * std::polar(1.0, -w * (double(n) - centre));
    return sum;
}

double l1Norm(const std::vector<float>& taps)
{
    double sum = 0.0;
    for (float t : taps)
        sum += std::fabs(t);
    return sum;
}

// Slowest decay of the band's impulse response, in samples: the time constant
// of the Butterworth pole nearest the imaginary axis, whose real part is
// -sin(pi / 2n) times the angular cutoff.
double decaySamples(const BandEdges& band, double fs)
{
    double tau = 1.0;
    if (band.lowerHz != 0.0f)
        tau = std::max(tau, fs / (2 * kPi * band.lowerHz * std::sin(kPi / (2 * band.lowerOrder))));
    if (band.upperHz != 0.0f)
        tau = std::max(tau, fs / (2 * kPi * band.upperHz * std::sin(kPi / (2 * band.upperOrder))));
    return tau;
}

// The impulse response was cut where its envelope fell to the threshold; the
// missing tail, about threshold x decay samples in sum, enters the
// autocorrelation twice.
double truncationTolerance(const BandEdges& band, double fs)
{
    return 2 * kKernelThreshold * decaySamples(band, fs);
}

// Adds the float rounding of the taps, which the DFT sums.
double responseTolerance(const std::vector<float>& taps, const BandEdges& band, double fs)
{
    return truncationTolerance(band, fs) + 4 * FLT_EPSILON * l1Norm(taps);
}

// Log-spaced frequencies from 10 Hz to just below half the rate.
std::vector<double> frequencyGrid(double fs, int count)
{
    std::vector<double> grid;
    const double top = 0.499 * fs;
    for (int i = 0; i < count; ++i)
        grid.push_back(10.0 * std::pow(top / 10.0, double(i) / (count - 1)));
    return grid;
}

std::vector<BandKernel> designAll(const BandEdgeTable& table, double fs, int m)
{
    std::vector<BandKernel> kernels(kBandCount);
    for (int b = 0; b < kBandCount; ++b)
        designBandKernel(kernels[b], m, table[b], fs);
    return kernels;
}

void expectMatchesReference(const BandKernel& kernel, const BandEdges& band, double fs,
                            const std::vector<double>& grid)
{
    const std::vector<float> taps = tapsOf(kernel);
    const double tol = responseTolerance(taps, band, fs);
    for (double hz : grid)
    {
        const std::complex<double> h = zeroPhaseResponse(taps, fs, hz);
        EXPECT_NEAR(h.real(), referenceGain(band, fs, hz), tol) << hz << " Hz";
        EXPECT_NEAR(h.imag(), 0.0, tol) << hz << " Hz";
    }
}

} // namespace

TEST(KernelDesign, BandEdgeTableChainsTheCrossovers)
{
    const BandEdgeTable t = bandEdgeTable({100.0f, 50.0f, 3000.0f, 9000.0f}, {1, 2, 3, 4});
    EXPECT_EQ(t[0].lowerHz, 0.0f);
    EXPECT_EQ(t[0].upperHz, 100.0f);
    EXPECT_EQ(t[0].upperOrder, 1);
    // Taken in parameter order, not sorted.
    EXPECT_EQ(t[1].lowerHz, 100.0f);
    EXPECT_EQ(t[1].upperHz, 50.0f);
    EXPECT_EQ(t[1].lowerOrder, 1);
    EXPECT_EQ(t[1].upperOrder, 2);
    EXPECT_EQ(t[3].lowerHz, 3000.0f);
    EXPECT_EQ(t[3].upperOrder, 4);
    EXPECT_EQ(t[4].lowerHz, 9000.0f);
    EXPECT_EQ(t[4].lowerOrder, 4);
    EXPECT_EQ(t[4].upperHz, 0.0f);
}

TEST(KernelDesign, DefaultSettingsGiveHalfLength768AtAnyRate)
{
    for (double fs : {44100.0, 48000.0})
    {
        const BandEdgeTable table = defaultTable(fs);
        // The rebuild's single pass and the settled common length agree here.
        int m = kKernelStep;
        for (const BandEdges& band : table)
            m = std::max(m, estimateKernelLength(m, band, fs));
        EXPECT_EQ(m, 768);
        EXPECT_EQ(commonKernelLength(table, fs), 768);

        const std::vector<BandKernel> kernels = designAll(table, fs, 768);
        for (int b = 0; b < kBandCount; ++b)
        {
            SCOPED_TRACE(testing::Message() << "band " << b + 1 << " fs " << fs);
            EXPECT_EQ(kernels[b].channelCount, 1);
            EXPECT_EQ(kernels[b].sampleRate, fs);
            ASSERT_EQ(kernels[b].tapCount(0), 1536);
            const std::vector<float> taps = tapsOf(kernels[b]);
            const auto peak = std::max_element(taps.begin(), taps.end(),
                                               [](float a, float c) { return std::fabs(a) < std::fabs(c); });
            EXPECT_EQ(peak - taps.begin(), 767);
        }
    }
}

TEST(KernelDesign, KernelsMatchSquaredButterworthMagnitudes)
{
    for (double fs : {44100.0, 48000.0})
    {
        const BandEdgeTable table = defaultTable(fs);
        const std::vector<BandKernel> kernels = designAll(table, fs, commonKernelLength(table, fs));
        std::vector<double> grid = frequencyGrid(fs, 60);
        for (const BandEdges& band : table)
            if (band.upperHz != 0.0f)
                grid.push_back(band.upperHz);
        for (int b = 0; b < kBandCount; ++b)
        {
            SCOPED_TRACE(testing::Message() << "band " << b + 1 << " fs " << fs);
            expectMatchesReference(kernels[b], table[b], fs, grid);
        }
        // Band 1 is the low-pass alone (unit gain at 0 Hz), band 5 the high-pass
        // alone (unit gain at half the rate).
        const std::vector<float> low = tapsOf(kernels[0]);
        const std::vector<float> high = tapsOf(kernels[4]);
        EXPECT_NEAR(zeroPhaseResponse(low, fs, 0.0).real(), 1.0, responseTolerance(low, table[0], fs));
        EXPECT_NEAR(std::abs(zeroPhaseResponse(high, fs, fs / 2)), 1.0, responseTolerance(high, table[4], fs));
    }
}

TEST(KernelDesign, KernelsAreSymmetricAboutTheirCentre)
{
    const double fs = 44100.0;
    const BandEdgeTable table = tableFor(kDefaultFreq, {1, 3, 5, 8}, fs);
    const int m = commonKernelLength(table, fs);
    const std::vector<BandKernel> kernels = designAll(table, fs, m);
    for (int b = 0; b < kBandCount; ++b)
    {
        const std::vector<float> taps = tapsOf(kernels[b]);
        ASSERT_EQ(int(taps.size()), 2 * m);
        // The two halves differ only by the response tail cut at the threshold.
        const double tol = truncationTolerance(table[b], fs) + 4 * FLT_EPSILON * taps[m - 1];
        for (int d = 1; d < m; ++d)
            ASSERT_NEAR(taps[m - 1 + d], taps[m - 1 - d], tol) << "band " << b + 1 << " lag " << d;
    }
}

// Bands 2 and 3 share an isolated crossover: their kernels sum to unity gain
// around it, and each passes half the signal at it.
TEST(KernelDesign, AdjacentBandsSumToUnityAroundIsolatedCrossover)
{
    const double fs = 44100.0;
    for (int step : {1, 2, 5, 8})
    {
        SCOPED_TRACE(testing::Message() << "slope step " << step);
        // About 30 Hz, 1.5 kHz and 20 kHz: the middle crossover is far from the others.
        const BandEdgeTable table = tableFor({0.006f, 0.26f, 0.99f, 1.0f}, {step, step, step, step}, fs);
        const int m = commonKernelLength(table, fs);
        const std::vector<BandKernel> kernels = designAll(table, fs, m);
        const std::vector<float> band2 = tapsOf(kernels[1]);
        const std::vector<float> band3 = tapsOf(kernels[2]);
        ASSERT_EQ(band2.size(), band3.size());
        const double tol = responseTolerance(band2, table[1], fs) + responseTolerance(band3, table[2], fs);
        const double crossover = table[1].upperHz;
        for (double ratio = 0.25; ratio <= 4.0; ratio *= 1.25)
        {
            const double hz = crossover * ratio;
            const std::complex<double> sum = zeroPhaseResponse(band2, fs, hz) + zeroPhaseResponse(band3, fs, hz);
            // Far from crossovers 1 and 3, the analytic sum differs from 1 only by their leakage.
            const double ideal = referenceGain(table[1], fs, hz) + referenceGain(table[2], fs, hz);
            EXPECT_NEAR(std::abs(sum), 1.0, tol + std::fabs(ideal - 1.0)) << hz << " Hz";
            EXPECT_LT(std::fabs(ideal - 1.0), 0.01);
        }
        // Half gain from the shared crossover, times the other edge's leakage.
        for (int b : {1, 2})
        {
            const double ideal = referenceGain(table[b], fs, crossover);
            const double gain = zeroPhaseResponse(b == 1 ? band2 : band3, fs, crossover).real();
            EXPECT_NEAR(gain, ideal, tol);
            EXPECT_NEAR(gain, 0.5, tol + std::fabs(ideal - 0.5));
        }
    }
}

TEST(KernelDesign, ReversedCrossoversGiveABandBelowHalfGain)
{
    const double fs = 44100.0;
    // F2 (1 kHz) below F1 (4 kHz): band 2 is a high-pass at 4 kHz times a low-pass at 1 kHz.
    const BandEdgeTable table = tableFor({0.5721672f, 0.1897612f, 0.8f, 0.9f}, {2, 3, 2, 2}, fs);
    BandKernel kernel;
    designBandKernel(kernel, commonKernelLength(table, fs), table[1], fs);
    const std::vector<float> taps = tapsOf(kernel);
    const double tol = responseTolerance(taps, table[1], fs);
    expectMatchesReference(kernel, table[1], fs, frequencyGrid(fs, 40));
    for (double hz : frequencyGrid(fs, 200))
        EXPECT_LE(std::abs(zeroPhaseResponse(taps, fs, hz)), 0.5 + tol) << hz << " Hz";
}

// A very low, very steep low-pass has not risen above the threshold after 256
// samples, so on its own it estimates the minimum; designed with a longer
// minimum it runs until its own envelope falls. The common length settles
// where every band's kernel comes out equally long.
// Band 1 estimates short (its response has not risen after 256 samples), so the
// common length comes from band 2; designed with that minimum, band 1 keeps
// going until its own envelope falls and comes out longer than the others.
TEST(KernelDesign, VeryLowSteepLowPassRunsLongerThanCommonLength)
{
    const double fs = 44100.0;
    const BandEdgeTable table = tableFor({0.0f, 0.1897612f, 0.5721672f, 0.8857579f}, {8, 2, 2, 2}, fs);
    EXPECT_EQ(estimateKernelLength(kKernelStep, table[0], fs), kKernelStep);

    const int single = std::max(kKernelStep, estimateKernelLength(kKernelStep, table[1], fs));
    EXPECT_GT(single, kKernelStep);
    EXPECT_GT(estimateKernelLength(single, table[0], fs), single);

    const int m = commonKernelLength(table, fs);
    EXPECT_EQ(m, single);
    const std::vector<BandKernel> kernels = designAll(table, fs, m);
    EXPECT_GT(kernels[0].tapCount(0), 2 * m);
    EXPECT_EQ(kernels[0].tapCount(0) % (2 * kKernelStep), 0);
    EXPECT_LT(kernels[0].tapCount(0), 2 * kMaxKernelHalfLength);
    for (int b = 1; b < kBandCount; ++b)
        EXPECT_EQ(kernels[b].tapCount(0), 2 * m) << "band " << b + 1;

    // The stopping rule can end band 1 in a lull of its slow (about 5 Hz) ringing,
    // where the envelope dips below the threshold while the response has not
    // decayed; its gain is then accurate to a few tenths of a percent only.
    const std::vector<float> low = tapsOf(kernels[0]);
    const double tol = 0.01;
    EXPECT_NEAR(zeroPhaseResponse(low, fs, 0.0).real(), 1.0, tol);
    EXPECT_NEAR(zeroPhaseResponse(low, fs, table[0].upperHz).real(), 0.5, tol);
    EXPECT_NEAR(zeroPhaseResponse(low, fs, 50.0).real(), referenceGain(table[0], fs, 50.0), tol);
}

TEST(KernelDesign, RebuildIsDeterministicAndRateIndependent)
{
    const BandEdgeTable table = defaultTable(44100.0);
    const std::vector<BandKernel> first = designAll(table, 44100.0, 768);
    const std::vector<BandKernel> second = designAll(table, 44100.0, 768);
    const std::vector<BandKernel> at48k = designAll(defaultTable(48000.0), 48000.0, 768);
    for (int b = 0; b < kBandCount; ++b)
    {
        EXPECT_EQ(tapsOf(first[b]), tapsOf(second[b])) << "band " << b + 1;
        // The same normalised cutoffs, up to the float rounding of the Hz values.
        const std::vector<float> a = tapsOf(first[b]);
        const std::vector<float> c = tapsOf(at48k[b]);
        ASSERT_EQ(a.size(), c.size());
        for (size_t n = 0; n < a.size(); ++n)
            ASSERT_NEAR(a[n], c[n], 1e-5 * std::fabs(a[767]) + kKernelThreshold) << "band " << b + 1 << " tap " << n;
    }
}

TEST(KernelDesign, LengthsAreMultiplesOfTheStepAtLeastTheMinimum)
{
    const double fs = 44100.0;
    const BandEdges band = defaultTable(fs)[2];
    EXPECT_EQ(estimateKernelLength(0, band, fs), estimateKernelLength(256, band, fs));
    EXPECT_EQ(estimateKernelLength(-100, band, fs), estimateKernelLength(256, band, fs));
    EXPECT_EQ(estimateKernelLength(1000, band, fs), 1024);
    EXPECT_EQ(estimateKernelLength(5000, band, fs), 5120);
    BandKernel kernel;
    designBandKernel(kernel, 1000, band, fs);
    EXPECT_EQ(kernel.tapCount(0), 2048);
    // Separate edge arguments reach the same design.
    BandKernel same;
    designBandKernel(same, 1000, band.lowerHz, band.upperHz, band.lowerOrder, band.upperOrder, fs);
    EXPECT_EQ(tapsOf(same), tapsOf(kernel));
    EXPECT_EQ(estimateKernelLength(1000, band.lowerHz, band.upperHz, band.lowerOrder, band.upperOrder, fs), 1024);
}

// Bad edges from a caller neither crash nor hang: orders are clamped to 1..8,
// a NaN edge counts as absent, and a redesign empties the second channel.
TEST(KernelDesign, ToleratesOutOfRangeArguments)
{
    const double fs = 44100.0;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto design = [&](BandEdges band) {
        BandKernel kernel;
        designBandKernel(kernel, 256, band, fs);
        return tapsOf(kernel);
    };
    EXPECT_EQ(design({1000.0f, 4000.0f, 0, 20}), design({1000.0f, 4000.0f, 1, 8}));
    EXPECT_EQ(design({nan, 4000.0f, 2, 2}), design({0.0f, 4000.0f, 0, 2}));
    EXPECT_EQ(design({1000.0f, 4000.0f, 2, 2}).size() % (2 * kKernelStep), 0u);
    EXPECT_EQ(estimateKernelLength(256, {1000.0f, 4000.0f, 2, 2}, std::numeric_limits<double>::quiet_NaN()),
              kKernelStep);
    const std::vector<float> aboveNyquist = design({30000.0f, 0.0f, 2, 0});
    EXPECT_FALSE(aboveNyquist.empty());
    EXPECT_TRUE(std::all_of(aboveNyquist.begin(), aboveNyquist.end(), [](float v) { return std::isfinite(v); }));

    BandKernel kernel;
    kernel.channels[0].resize(64);
    kernel.setChannelCount(2);
    designBandKernel(kernel, 256, defaultTable(fs)[1], fs);
    EXPECT_EQ(kernel.channelCount, 1);
    EXPECT_EQ(kernel.tapCount(1), 0);
    EXPECT_EQ(kernel.tapCount(0), 1536);
}
