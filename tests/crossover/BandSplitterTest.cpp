#include "crossover/BandKernel.h"
#include "crossover/BandSplitter.h"
#include "crossover/KernelDesign.h"
#include "vst/Parameter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace
{
using Signal = std::vector<float>;

struct Stereo
{
    Signal channel[2];
    int length() const { return static_cast<int>(channel[0].size()); }
};

Signal randomTaps(int length, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    Signal taps(static_cast<std::size_t>(length));
    for (float& t : taps)
        t = uniform(generator);
    return taps;
}

void loadTaps(BandKernel& kernel, int channel, const Signal& taps)
{
    kernel.channels[channel].resize(static_cast<int>(taps.size() * sizeof(float)));
    if (!taps.empty())
        std::memcpy(kernel.channels[channel].data(), taps.data(), taps.size() * sizeof(float));
}

BandKernel makeKernel(const Signal& left, const Signal& right)
{
    BandKernel kernel;
    loadTaps(kernel, 0, left);
    loadTaps(kernel, 1, right);
    kernel.channelCount = 2;
    return kernel;
}

BandKernel makeKernel(const Signal& taps)
{
    BandKernel kernel;
    loadTaps(kernel, 0, taps);
    kernel.setChannelCount(2);
    return kernel;
}

// Dense random samples over `active` frames, followed by enough silence for
// the whole convolution tail to come out.
Signal denseInput(int active, int tail, unsigned seed)
{
    Signal x = randomTaps(active, seed);
    x.resize(static_cast<std::size_t>(active + tail), 0.0f);
    return x;
}

// Scattered impulses of random height plus one dense burst: keeps the direct
// reference cheap for long kernels while reaching every kernel partition.
Signal sparseInput(int active, int tail, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    Signal x(static_cast<std::size_t>(active + tail), 0.0f);
    for (int t = 0; t < active; t += 1500 + static_cast<int>(generator() % 1500))
        x[static_cast<std::size_t>(t)] = uniform(generator);
    const int burst = static_cast<int>(generator() % static_cast<unsigned>(active / 2));
    for (int t = burst; t < std::min(active, burst + 600); ++t)
        x[static_cast<std::size_t>(t)] = uniform(generator);
    return x;
}

// y[t] = sum over m of h[m] x[t - m], in double precision, skipping zero inputs.
std::vector<double> convolve(const Signal& x, const Signal& h)
{
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t s = 0; s < x.size(); ++s) {
        if (x[s] == 0.0f)
            continue;
        const std::size_t count = std::min(h.size(), x.size() - s);
        for (std::size_t m = 0; m < count; ++m)
            y[s + m] += static_cast<double>(h[m]) * x[s];
    }
    return y;
}

double l2(const Signal& h)
{
    double sum = 0.0;
    for (float v : h)
        sum += static_cast<double>(v) * v;
    return std::sqrt(sum);
}

// The largest 2-norm of `span` consecutive samples of x.
double largestWindowNorm(const Signal& x, std::size_t span)
{
    double energy = 0.0, largest = 0.0;
    for (std::size_t t = 0; t < x.size(); ++t) {
        energy += static_cast<double>(x[t]) * x[t];
        if (t >= span)
            energy -= static_cast<double>(x[t - span]) * x[t - span];
        largest = std::max(largest, energy);
    }
    return std::sqrt(largest);
}

// Rounding of an FFT convolution: a product of two N-point spectra is off by
// about eps sqrt(log2 N) times the norms of the input block and the kernel,
// spread over N outputs, so each output by eps sqrt(log2 N / N) |h| |x block|;
// the largest of many such errors sits a few times above it. A direct FIR
// rounds per tap: eps |h| |x| over the kernel's span. Observed errors stay
// between 1/20 and 1/2 of these bounds at every kernel length.
double tolerance(const Signal& h, const Signal& x, int fftSize)
{
    constexpr double kEpsilon = 1.0 / (1 << 24);
    const std::size_t span = fftSize > 0 ? static_cast<std::size_t>(fftSize) : std::max<std::size_t>(h.size(), 1);
    const double scale = fftSize > 0 ? 16.0 * std::sqrt(std::log2(fftSize) / fftSize) : 2.0;
    return scale * kEpsilon * l2(h) * largestWindowNorm(x, span) + 1e-30;
}

// Drives a splitter the way the effect does: feed, run, and read and consume
// n frames only when run reports at least n.
struct Driver
{
    BandSplitter& splitter;
    Stereo collected;
    std::vector<int> reports;
    int warmupFrames = 0;
    int position = 0;
    bool nullPointers = false;     // null pointer array on every third block
    bool nullRightChannel = false; // null right channel pointer on every other block

    explicit Driver(BandSplitter& s) : splitter(s) {}

    void block(const Stereo& in, int n)
    {
        const float* pointers[2] = {in.channel[0].data() + position, in.channel[1].data() + position};
        const int index = static_cast<int>(reports.size());
        if (nullRightChannel && index % 2 == 1)
            pointers[1] = nullptr;
        splitter.feed(nullPointers && index % 3 == 2 ? nullptr : pointers, n);
        const int ready = splitter.run(n);
        reports.push_back(ready);
        position += n;
        if (ready < n) {
            warmupFrames += n;
            return;
        }
        float** out = splitter.bandOutput();
        for (int c = 0; c < 2; ++c) {
            ASSERT_NE(out[c], nullptr);
            collected.channel[c].insert(collected.channel[c].end(), out[c], out[c] + n);
        }
        splitter.consume(n);
    }

    void streamAll(const Stereo& in, const std::function<int()>& nextSize)
    {
        while (position < in.length())
            block(in, std::min(nextSize(), in.length() - position));
    }
};

std::function<int()> fixedSize(int n)
{
    return [n] { return n; };
}

std::function<int()> randomSizes(unsigned seed, int largest)
{
    auto generator = std::make_shared<std::mt19937>(seed);
    return [generator, largest] { return 1 + static_cast<int>((*generator)() % static_cast<unsigned>(largest)); };
}

// Every collected frame against the reference, delayed by `delay` frames.
void expectMatches(const Signal& out, const std::vector<double>& reference, double tol, int delay, const char* what)
{
    ASSERT_GT(out.size(), 0u) << what;
    double worst = 0.0;
    std::size_t worstAt = 0;
    for (std::size_t t = 0; t < out.size(); ++t) {
        const long long source = static_cast<long long>(t) - delay;
        const double expected = source >= 0 && source < static_cast<long long>(reference.size()) ? reference[static_cast<std::size_t>(source)] : 0.0;
        const double error = std::fabs(out[t] - expected);
        if (error > worst) {
            worst = error;
            worstAt = t;
        }
    }
    EXPECT_LE(worst, tol) << what << ": worst at frame " << worstAt << " of " << out.size();
}

struct ConvolutionCase
{
    int taps;
    int blockSize; // 0: seeded random sizes
    bool sparse;
};

std::string describe(const ConvolutionCase& c)
{
    return std::to_string(c.taps) + " taps, blocks " + (c.blockSize > 0 ? std::to_string(c.blockSize) : std::string("random"));
}

int expectedFftSize(int taps)
{
    if (taps <= BandSplitter::kMaxDirectTaps)
        return 0;
    int n = 32;
    while (n < 2 * taps && n < 32768)
        n *= 2;
    return n;
}
} // namespace

// ---------------------------------------------------------------------------

TEST(BandKernel, SetChannelCountCopiesZeroesAndReleases)
{
    BandKernel kernel;
    EXPECT_EQ(kernel.channelCount, 1);
    EXPECT_EQ(kernel.sampleRate, 44100.0);
    const Signal taps = randomTaps(10, 1);
    loadTaps(kernel, 0, taps);
    kernel.setChannelCount(5);
    EXPECT_EQ(kernel.channelCount, 2);
    ASSERT_EQ(kernel.tapCount(1), 10);
    EXPECT_EQ(std::memcmp(kernel.taps(1), taps.data(), 40), 0);

    kernel.setChannelCount(1);
    EXPECT_EQ(kernel.channelCount, 1);
    EXPECT_EQ(kernel.tapCount(1), 0);
    EXPECT_EQ(kernel.channels[1].capacity(), 0);
    EXPECT_EQ(kernel.taps(1), nullptr);
    EXPECT_EQ(kernel.tapCount(7), 0);

    BandKernel empty;
    loadTaps(empty, 0, taps);
    empty.setChannelCount(0);
    EXPECT_EQ(empty.tapCount(0), 0);
    loadTaps(empty, 0, taps); // storage holds taps again, but the count says none
    empty.setChannelCount(2);
    ASSERT_EQ(empty.tapCount(1), 10);
    for (int t = 0; t < 10; ++t) {
        EXPECT_EQ(empty.taps(0)[t], 0.0f);
        EXPECT_EQ(empty.taps(1)[t], 0.0f);
    }
}

TEST(BandSplitter, WithoutKernelIsAWire)
{
    BandSplitter splitter;
    EXPECT_EQ(splitter.fftSize(), 0);
    const Signal left = randomTaps(1000, 2), right = randomTaps(1000, 3);
    const float* in[2] = {left.data(), right.data()};
    splitter.feed(in, 600);
    EXPECT_EQ(splitter.run(600), 600);
    float** out = splitter.bandOutput();
    EXPECT_EQ(std::memcmp(out[0], left.data(), 600 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(out[1], right.data(), 600 * sizeof(float)), 0);
    splitter.consume(200);
    const float* rest[2] = {left.data() + 600, right.data() + 600};
    splitter.feed(rest, 400);
    EXPECT_EQ(splitter.run(10), 800);
    out = splitter.bandOutput();
    EXPECT_EQ(std::memcmp(out[0], left.data() + 200, 800 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(out[1], right.data() + 200, 800 * sizeof(float)), 0);

    // Consuming more than is there empties the output.
    splitter.consume(5000);
    EXPECT_EQ(splitter.run(0), 0);
}

TEST(BandSplitter, ModeAndLayoutFollowTheKernelLength)
{
    struct Layout
    {
        int taps, fftSize, partitions;
    };
    for (const Layout& expected : {Layout{1, 0, 0}, Layout{64, 0, 0}, Layout{65, 256, 1}, Layout{1536, 4096, 1},
                                   Layout{16384, 32768, 1}, Layout{16385, 32768, 2}, Layout{70000, 32768, 5}}) {
        BandSplitter splitter;
        const int result = splitter.setKernel(makeKernel(randomTaps(expected.taps, 4)));
        EXPECT_EQ(splitter.fftSize(), expected.fftSize) << expected.taps;
        EXPECT_EQ(result, expected.fftSize / 2) << expected.taps;
        EXPECT_EQ(splitter.hop(), expected.fftSize / 2) << expected.taps;
        EXPECT_EQ(splitter.partitionCount(), expected.partitions) << expected.taps;
        EXPECT_EQ(splitter.kernelLength(), expected.taps);
        EXPECT_EQ(splitter.kernelCount(), 1);
    }

    Signal right = randomTaps(1536, 4);
    BandSplitter splitter;
    splitter.setKernel(makeKernel(randomTaps(1536, 4), right));
    EXPECT_EQ(splitter.kernelCount(), 1);
    reinterpret_cast<unsigned char*>(right.data())[777] ^= 1;
    splitter.setKernel(makeKernel(randomTaps(1536, 4), right));
    EXPECT_EQ(splitter.kernelCount(), 2);
    // The longest channel sets the layout.
    splitter.setKernel(makeKernel(randomTaps(40, 4), randomTaps(300, 5)));
    EXPECT_EQ(splitter.kernelLength(), 300);
    EXPECT_EQ(splitter.fftSize(), 1024);
}

TEST(BandSplitter, MatchesDirectConvolution)
{
    const ConvolutionCase cases[] = {
        {1, 1, false},     {1, 441, false},   {64, 512, false},      {64, 0, false},
        {65, 1, false},    {65, 441, false},  {65, 0, false},        {1536, 512, false},
        {1536, 441, false}, {1536, 8192, false}, {1536, 0, false},   {1536, 1, false},
        {16384, 8192, true}, {16384, 0, true}, {16385, 441, true},   {16385, 0, true},
        {70000, 8192, true}, {70000, 0, true},
    };
    unsigned seed = 10;
    for (const ConvolutionCase& c : cases) {
        SCOPED_TRACE(describe(c));
        const Signal taps = randomTaps(c.taps, ++seed);
        BandSplitter splitter;
        splitter.setKernel(makeKernel(taps));
        ASSERT_EQ(splitter.fftSize(), expectedFftSize(c.taps));
        const int tail = c.taps + splitter.fftSize() + 64;
        Stereo in;
        for (Signal& channel : in.channel) {
            channel = c.sparse ? sparseInput(5 * std::max(splitter.hop(), 4000), tail, ++seed) : denseInput(6000, tail, ++seed);
        }
        Driver driver(splitter);
        driver.streamAll(in, c.blockSize > 0 ? fixedSize(c.blockSize) : randomSizes(++seed, 3000));
        for (int ch = 0; ch < 2; ++ch) {
            // The stream is read from its first frame on: no delay inside it.
            expectMatches(driver.collected.channel[ch], convolve(in.channel[ch], taps),
                          tolerance(taps, in.channel[ch], splitter.fftSize()), 0, ch == 0 ? "left" : "right");
            EXPECT_GE(driver.collected.channel[ch].size() + driver.warmupFrames, in.channel[ch].size());
        }
    }
}

// Whatever the block sizes, and so however a hop's products are spread over
// the calls before it, the output is bit for bit that of one call holding the
// whole signal. Kernels as the effect designs them: band 2 at the defaults
// (one partition), and the longest (192 kHz, every crossover at its lowest,
// 96 dB/oct: eight partitions), the same for both channels or band 2 on the
// left and band 1 on the right (channels convolved apart).
TEST(BandSplitter, OutputDoesNotDependOnTheBlockSizes)
{
    struct Design
    {
        float rate;
        bool lowest;
        int step;
        bool twoKernels;
    };
    const std::array<float, kCrossoverCount> defaults = {200.0f, 1000.0f, 4000.0f, 10000.0f};
    for (const Design& d : {Design{44100.0f, false, 2, false}, Design{192000.0f, true, 8, false},
                            Design{192000.0f, true, 8, true}}) {
        std::array<float, kCrossoverCount> hz = defaults;
        if (d.lowest)
            hz.fill(crossoverFrequencyHz(0.0f, d.rate));
        const BandEdgeTable bands = bandEdgeTable(hz, {d.step, d.step, d.step, d.step});
        Signal taps[2];
        for (int b = 0; b < 2; ++b) {
            BandKernel designed;
            designBandKernel(designed, commonKernelLength(bands, d.rate), bands[1 - b], d.rate);
            taps[b].assign(designed.taps(0), designed.taps(0) + designed.tapCount(0));
        }
        BandSplitter splitter;
        splitter.setKernel(d.twoKernels ? makeKernel(taps[0], taps[1]) : makeKernel(taps[0]));
        SCOPED_TRACE(std::to_string(splitter.kernelLength()) + " taps");
        // Noise with a silent hop inside, over every partition and then some.
        const int x = splitter.hop();
        Stereo in{{denseInput(x * (splitter.partitionCount() + 2), 0, 131),
                   denseInput(x * (splitter.partitionCount() + 2), 0, 132)}};
        for (Signal& channel : in.channel)
            std::fill(channel.begin() + x, channel.begin() + 2 * x, 0.0f);
        Stereo reference;
        for (int blockSize : {in.length(), 1, 64, 441, 512, 4096, 0}) {
            SCOPED_TRACE(blockSize);
            splitter.setStreamDelay(x);
            splitter.restart();
            Driver driver(splitter);
            driver.streamAll(in, blockSize > 0 ? fixedSize(blockSize) : randomSizes(133, 3000));
            if (blockSize == in.length())
                reference = driver.collected;
            for (int c = 0; c < 2; ++c) {
                ASSERT_EQ(driver.collected.channel[c].size(), in.channel[c].size());
                EXPECT_EQ(std::memcmp(driver.collected.channel[c].data(), reference.channel[c].data(),
                                      in.channel[c].size() * sizeof(float)), 0);
            }
        }
    }
}

TEST(BandSplitter, ImpulseReturnsTheKernelFromTheFirstHop)
{
    const Signal taps = randomTaps(1536, 21);
    BandSplitter splitter;
    splitter.setKernel(makeKernel(taps));
    Signal impulse(2048, 0.0f);
    impulse[0] = 1.0f;
    const float* in[2] = {impulse.data(), impulse.data()};
    splitter.feed(in, 2048);
    ASSERT_EQ(splitter.run(2048), 2048);
    float** out = splitter.bandOutput();
    for (int c = 0; c < 2; ++c)
        expectMatches(Signal(out[c], out[c] + 2048), convolve(impulse, taps),
                      tolerance(taps, impulse, splitter.fftSize()), 0, "impulse");
}

TEST(BandSplitter, LazyStartTiming)
{
    const Signal taps = randomTaps(1536, 31);
    const Stereo in{{denseInput(20000, 0, 32), denseInput(20000, 0, 33)}};

    BandSplitter quarter;
    quarter.setKernel(makeKernel(taps));
    Driver small(quarter);
    for (int call = 0; call < 4; ++call)
        small.block(in, 512);
    EXPECT_EQ(small.reports, (std::vector<int>{0, 0, 0, 2048}));
    // The frames read on the fourth call are the first convolution outputs.
    const std::vector<double> reference = convolve(in.channel[0], taps);
    ASSERT_EQ(small.collected.channel[0].size(), 512u);
    for (int t = 0; t < 512; ++t)
        EXPECT_NEAR(small.collected.channel[0][static_cast<std::size_t>(t)], reference[static_cast<std::size_t>(t)],
                    tolerance(taps, in.channel[0], 4096));

    BandSplitter large;
    large.setKernel(makeKernel(taps));
    Driver big(large);
    big.block(in, 8192);
    EXPECT_EQ(big.reports, (std::vector<int>{8192}));

    // n = 441 does not divide X: calls 1-4 and 9 are warm-up calls.
    BandSplitter odd;
    odd.setKernel(makeKernel(taps));
    Driver irregular(odd);
    std::vector<int> warmups;
    for (int call = 1; call <= 12; ++call) {
        irregular.block(in, 441);
        if (irregular.reports.back() < 441)
            warmups.push_back(call);
    }
    EXPECT_EQ(warmups, (std::vector<int>{1, 2, 3, 4, 9}));
}

TEST(BandSplitter, FixedStreamDelayNeverWarmsUp)
{
    const Signal taps = randomTaps(1536, 41);
    for (int extra : {-1, 0, 700}) {
        SCOPED_TRACE(extra);
        BandSplitter splitter;
        splitter.setKernel(makeKernel(taps));
        const int delay = splitter.hop() + extra;
        splitter.setStreamDelay(delay);
        EXPECT_EQ(splitter.streamDelay(), delay);
        const Stereo in{{denseInput(15000, 6000, 42), denseInput(15000, 6000, 43)}};
        Driver driver(splitter);
        driver.streamAll(in, randomSizes(44, 5000));
        EXPECT_EQ(driver.warmupFrames, 0);
        for (int ch = 0; ch < 2; ++ch) {
            ASSERT_EQ(driver.collected.channel[ch].size(), in.channel[ch].size());
            expectMatches(driver.collected.channel[ch], convolve(in.channel[ch], taps),
                          tolerance(taps, in.channel[ch], splitter.fftSize()), delay, "delayed");
        }
    }
}

TEST(BandSplitter, FixedStreamDelayInDirectModeAndWithoutKernel)
{
    const Signal taps = randomTaps(40, 45);
    const Stereo in{{denseInput(5000, 100, 46), denseInput(5000, 100, 47)}};
    for (bool withKernel : {true, false}) {
        SCOPED_TRACE(withKernel ? "direct" : "wire");
        BandSplitter splitter;
        splitter.setStreamDelay(300);
        if (withKernel)
            splitter.setKernel(makeKernel(taps));
        Driver driver(splitter);
        driver.streamAll(in, randomSizes(48, 700));
        EXPECT_EQ(driver.warmupFrames, 0);
        const Signal identity{1.0f};
        for (int c = 0; c < 2; ++c) {
            const Signal& h = withKernel ? taps : identity;
            expectMatches(driver.collected.channel[c], convolve(in.channel[c], h), tolerance(h, in.channel[c], 0), 300, "delayed");
        }
    }
}

TEST(BandSplitter, FixedStreamDelayHoldsAcrossKernelAndDelayChanges)
{
    struct Segment
    {
        int taps;
        int delay;
        int until; // stream position where the next segment starts
    };
    const std::vector<std::vector<Segment>> plans = {
        {{1536, 4095, 15000}, {3000, 4095, 28000}, {1536, 4095, 40000}}, // longer kernel (X = 4096) and back
        {{1536, 5000, 15000}, {1536, 2047, 40000}},                      // shorter delay: oldest frames dropped
        {{1536, 2047, 15000}, {3000, 8191, 40000}},                      // longer delay: zeros inserted
    };
    const Stereo in{{denseInput(40000, 0, 53), denseInput(40000, 0, 54)}};
    for (const auto& plan : plans) {
        SCOPED_TRACE(plan.size());
        BandSplitter splitter;
        Driver driver(splitter);
        auto sizes = randomSizes(55, 3000);
        int lastChange = 0;
        Signal taps;
        for (const Segment& segment : plan) {
            lastChange = driver.position;
            taps = randomTaps(segment.taps, 56u + static_cast<unsigned>(segment.taps));
            splitter.setKernel(makeKernel(taps));
            splitter.setStreamDelay(segment.delay);
            while (driver.position < segment.until)
                driver.block(in, std::min(sizes(), segment.until - driver.position));
        }
        EXPECT_EQ(driver.warmupFrames, 0);
        ASSERT_EQ(driver.collected.channel[0].size(), in.channel[0].size());

        // Once the restarted history is full, the output is the last kernel
        // applied to the input, delayed by exactly the last delay.
        const int delay = plan.back().delay;
        const std::vector<double> reference = convolve(in.channel[0], taps);
        const double tol = tolerance(taps, in.channel[0], splitter.fftSize());
        int checked = 0;
        for (int t = lastChange + static_cast<int>(taps.size()) + delay; t < driver.position; ++t) {
            ASSERT_NEAR(driver.collected.channel[0][static_cast<std::size_t>(t)], reference[static_cast<std::size_t>(t - delay)], tol) << t;
            ++checked;
        }
        EXPECT_GT(checked, 5000);
    }
}

TEST(BandSplitter, SilentBlocksAreSkippedWithoutChangingTheResult)
{
    // Zeros, and values below the silence threshold, across whole hops; the
    // longer kernel keeps older partitions alive across the gap.
    for (int length : {1536, 40000}) {
        SCOPED_TRACE(length);
        const Signal taps = randomTaps(length, 61);
        BandSplitter splitter;
        splitter.setKernel(makeKernel(taps));
        const int x = splitter.hop();
        // Sound, then a hop of zeros and near-zeros, a hop of zeros, and sound again.
        const int burst = length > 4000 ? 400 : x / 2;
        const int spacing = length > 4000 ? 41 : 3;
        Stereo in;
        for (int c = 0; c < 2; ++c) {
            in.channel[c] = denseInput(burst, 0, 62u + static_cast<unsigned>(c));
            in.channel[c].resize(static_cast<std::size_t>(4 * x), 0.0f);
            for (int t = x; t < 2 * x; t += spacing)
                in.channel[c][static_cast<std::size_t>(t)] = 9e-7f * ((t & 1) ? 1.0f : -1.0f);
            const Signal more = denseInput(burst, length + 2 * x, 64u + static_cast<unsigned>(c));
            in.channel[c].insert(in.channel[c].end(), more.begin(), more.end());
        }
        Driver driver(splitter);
        driver.streamAll(in, fixedSize(x / 4 + 5));
        for (int c = 0; c < 2; ++c) {
            // A hop that holds nothing above the threshold counts as silence.
            Signal audible = in.channel[c];
            std::fill(audible.begin() + x, audible.begin() + 2 * x, 0.0f);
            expectMatches(driver.collected.channel[c], convolve(audible, taps), tolerance(taps, audible, splitter.fftSize()),
                          0, "gap");
        }
    }
}

TEST(BandSplitter, NullPointersAreSilence)
{
    for (int length : {32, 1536}) {
        SCOPED_TRACE(length);
        const Signal taps = randomTaps(length, 71);
        BandSplitter splitter;
        splitter.setKernel(makeKernel(taps));
        Stereo in{{denseInput(12000, length + 4096, 72), denseInput(12000, length + 4096, 73)}};
        Driver driver(splitter);
        driver.nullPointers = true;
        driver.nullRightChannel = true;
        driver.streamAll(in, fixedSize(300));
        // What the splitter saw: the blocks fed through a null pointer were zeros.
        Stereo seen = in;
        for (std::size_t block = 0; block * 300 < seen.channel[0].size(); ++block) {
            const std::size_t start = block * 300, end = std::min(start + 300, seen.channel[0].size());
            for (int c = 0; c < 2; ++c) {
                if (block % 3 == 2 || (c == 1 && block % 2 == 1))
                    std::fill(seen.channel[c].begin() + static_cast<long>(start), seen.channel[c].begin() + static_cast<long>(end), 0.0f);
            }
        }
        for (int c = 0; c < 2; ++c)
            expectMatches(driver.collected.channel[c], convolve(seen.channel[c], taps),
                          tolerance(taps, in.channel[c], splitter.fftSize()), 0, "null");
    }
}

TEST(BandSplitter, KernelChangeKeepsTheStreamAndRestartsTheHistory)
{
    const Signal first = randomTaps(1536, 81), second = randomTaps(2500, 82), direct = randomTaps(20, 83);
    BandSplitter splitter;
    splitter.setKernel(makeKernel(first));
    const Stereo in{{denseInput(30000, 0, 84), denseInput(30000, 0, 85)}};
    Driver driver(splitter);
    while (driver.position < 10000)
        driver.block(in, 700);
    const int unread = driver.reports.back() - (driver.reports.back() >= 700 ? 700 : 0);
    const int restart = static_cast<int>(driver.collected.channel[0].size()) + unread;

    // Unread output survives: the next call needs no new block.
    splitter.setKernel(makeKernel(second));
    EXPECT_EQ(splitter.fftSize(), 8192);
    while (driver.position < 20000)
        driver.block(in, 700);

    Signal after(in.channel[0].begin() + restart, in.channel[0].end());
    const std::vector<double> before = convolve(in.channel[0], first);
    const std::vector<double> later = convolve(after, second);
    const Signal& out = driver.collected.channel[0];
    const double tol = tolerance(second, in.channel[0], 8192);
    for (int t = 0; t < static_cast<int>(out.size()); ++t) {
        const double expected = t < restart ? before[static_cast<std::size_t>(t)] : later[static_cast<std::size_t>(t - restart)];
        ASSERT_NEAR(out[static_cast<std::size_t>(t)], expected, tol) << t;
    }

    // Direct mode empties the stream and starts over without delay.
    splitter.setKernel(makeKernel(direct));
    EXPECT_EQ(splitter.fftSize(), 0);
    const float* pointers[2] = {in.channel[0].data() + 20000, in.channel[1].data() + 20000};
    splitter.feed(pointers, 500);
    ASSERT_EQ(splitter.run(500), 500);
    const Signal tail(in.channel[0].begin() + 20000, in.channel[0].begin() + 20500);
    const std::vector<double> fresh = convolve(tail, direct);
    for (int t = 0; t < 500; ++t)
        ASSERT_NEAR(splitter.bandOutput()[0][t], fresh[static_cast<std::size_t>(t)], tolerance(direct, tail, 0)) << t;
}

TEST(BandSplitter, TwoDifferentKernels)
{
    // Separate inputs: channel 1 runs on its own, its blocks offset by N/4.
    // Equal inputs in whole hops: channel 1 shares channel 0's transform
    // (shared-input mode). Equal inputs in random blocks: sharing stops once a
    // partial hop lets channel 1 run ahead on its own; the result stays exact.
    struct Mode
    {
        bool sameInput;
        bool wholeHops;
        const char* name;
    };
    for (const Mode& mode : {Mode{false, false, "separate"}, Mode{true, true, "shared"}, Mode{true, false, "mixed"}}) {
        for (int length : {1536, 20000}) {
            SCOPED_TRACE(std::string(mode.name) + ", " + std::to_string(length));
            const Signal left = randomTaps(length, 91), right = randomTaps(length * 2 / 3, 92);
            BandSplitter splitter;
            splitter.setKernel(makeKernel(left, right));
            ASSERT_EQ(splitter.kernelCount(), 2);
            const int x = splitter.hop();
            Stereo in;
            in.channel[0] = length > 4000 ? sparseInput(4 * x, length + 2 * x, 93) : denseInput(9000, length + 2 * x, 93);
            in.channel[1] = mode.sameInput ? in.channel[0] : denseInput(length > 4000 ? 2000 : 9000, length + 2 * x, 94);
            in.channel[1].resize(in.channel[0].size(), 0.0f);
            Driver driver(splitter);
            driver.streamAll(in, mode.wholeHops ? fixedSize(x) : randomSizes(95, 2500));
            if (mode.wholeHops) {
                EXPECT_EQ(splitter.hiddenFrames(1), 0);
            }
            if (!mode.sameInput) {
                EXPECT_EQ(splitter.hiddenFrames(1), splitter.fftSize() / 4);
            }
            expectMatches(driver.collected.channel[0], convolve(in.channel[0], left),
                          tolerance(left, in.channel[0], splitter.fftSize()), 0, "left");
            expectMatches(driver.collected.channel[1], convolve(in.channel[1], right),
                          tolerance(right, in.channel[1], splitter.fftSize()), 0, "right");
        }
    }
}

TEST(BandSplitter, AllocationFailureGivesSilenceOnTimeNotACrash)
{
    // Fails what is large: the kernel spectra (in setKernel) or the spectrum
    // rings (when the first feed primes), never the small stream buffers.
    struct Failing
    {
        static void* reallocate(void* block, std::size_t bytes)
        {
            return bytes > 200000 ? nullptr : std::realloc(block, bytes);
        }
        static void* allocate(std::size_t bytes) { return bytes > 200000 ? nullptr : std::malloc(bytes); }
    };
    const GrowableBuffer::Allocator failing{Failing::reallocate, Failing::allocate};
    const BandKernel kernel = makeKernel(randomTaps(16384, 101)); // 256 KiB spectra and rings
    for (bool failWhilePriming : {false, true}) {
        SCOPED_TRACE(failWhilePriming);
        BandSplitter splitter;
        splitter.setStreamDelay(16383);
        if (failWhilePriming)
            splitter.setKernel(kernel);
        GrowableBuffer::setAllocatorForTesting(&failing);
        if (!failWhilePriming)
            splitter.setKernel(kernel);
        const float* silence[2] = {nullptr, nullptr};
        splitter.feed(silence, 0);
        GrowableBuffer::setAllocatorForTesting(nullptr);

        const Stereo in{{denseInput(8192, 0, 102), denseInput(8192, 0, 103)}};
        Driver driver(splitter);
        driver.streamAll(in, fixedSize(1024));
        ASSERT_EQ(driver.collected.channel[0].size(), 8192u); // every block was ready
        for (int c = 0; c < 2; ++c)
            for (float v : driver.collected.channel[c])
                ASSERT_EQ(v, 0.0f);
    }
}

namespace
{
// Counts the storage allocations of every GrowableBuffer.
struct CountingAllocator
{
    static inline int calls = 0;
    static void* reallocate(void* block, std::size_t bytes)
    {
        ++calls;
        return std::realloc(block, bytes);
    }
    static void* allocate(std::size_t bytes)
    {
        ++calls;
        return std::malloc(bytes);
    }
};
} // namespace

TEST(BandSplitter, SteadyStateAllocatesNothing)
{
    using Counting = CountingAllocator;
    const GrowableBuffer::Allocator counting{Counting::reallocate, Counting::allocate};
    for (int delay : {-1, 2047}) {
        SCOPED_TRACE(delay);
        BandSplitter splitter;
        splitter.setKernel(makeKernel(randomTaps(1536, 111)));
        splitter.setStreamDelay(delay);
        const Stereo in{{denseInput(200000, 0, 112), denseInput(200000, 0, 113)}};
        Driver driver(splitter);
        auto sizes = randomSizes(114, 1024);
        while (driver.position < 100000)
            driver.block(in, sizes());
        Counting::calls = 0;
        GrowableBuffer::setAllocatorForTesting(&counting);
        while (driver.position < 190000)
            driver.block(in, sizes());
        EXPECT_EQ(Counting::calls, 0);
        // The count does see allocations: a new kernel size needs storage.
        splitter.setKernel(makeKernel(randomTaps(5000, 115)));
        EXPECT_GT(Counting::calls, 0);
        GrowableBuffer::setAllocatorForTesting(nullptr);
    }
}

TEST(BandSplitter, SilenceThresholdIsOneMillionth)
{
    // A block whose largest sample is just inside the threshold is skipped
    // entirely; one just outside it is convolved.
    const Signal taps = randomTaps(100, 121);
    for (float level : {1e-6f, std::nextafter(1e-6f, 1.0f), 2e-6f}) {
        BandSplitter splitter;
        splitter.setKernel(makeKernel(taps));
        Signal x(256, 0.0f);
        x[0] = level;
        const float* in[2] = {x.data(), x.data()};
        splitter.feed(in, 256);
        ASSERT_EQ(splitter.run(256), 256);
        // Skipped, silence; convolved, the first tap times the level.
        const float expected = static_cast<double>(level) > 1e-6 ? level * taps[0] : 0.0f;
        EXPECT_NEAR(splitter.bandOutput()[0][0], expected, tolerance(taps, x, splitter.fftSize())) << level;
    }
}
