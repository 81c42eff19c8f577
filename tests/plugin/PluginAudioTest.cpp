// The effect's audio path through a host's eyes: band splitting, routing,
// summing and the reported latency, checked against an independent
// double-precision model of the crossover.
#include "CrossoverReference.h"
#include "TestHost.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <random>
#include <thread>

using namespace TestHost;

namespace
{

constexpr double kRate = 44100.0;
const std::array<int, 5> kBandSwitch = {0, 3, 6, 9, 12};
// The right channel carries the left's signal scaled by this, so a swap shows.
constexpr float kRightScale = -0.75f;

using BlockSizes = std::function<int()>;

BlockSizes fixedBlocks(int n)
{
    return [n] { return n; };
}

// Seeded block sizes from 0 to 3000, with the small sizes well represented.
BlockSizes randomBlocks(unsigned seed)
{
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine] {
        const int kind = std::uniform_int_distribution<int>(0, 9)(*engine);
        if (kind == 0)
            return std::uniform_int_distribution<int>(0, 3)(*engine);
        return std::uniform_int_distribution<int>(1, kind < 5 ? 600 : 3000)(*engine);
    };
}

// A table's block size: n frames every block, or for -seed seeded random sizes.
BlockSizes blocksOf(int blockSize)
{
    return blockSize > 0 ? fixedBlocks(blockSize) : randomBlocks(static_cast<unsigned>(-blockSize));
}

// Streams both channels through the effect block by block, like a host.
Stereo runStream(AEffect* effect, const Stereo& input, const BlockSizes& nextBlock, bool inPlace,
                 const std::function<void(std::size_t)>& beforeBlock = nullptr)
{
    const std::size_t total = input[0].size();
    Stereo output{std::vector<float>(total), std::vector<float>(total)};
    std::vector<float> in[2], out[2];
    for (std::size_t done = 0; done < total;)
    {
        if (beforeBlock)
            beforeBlock(done);
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(nextBlock()), total - done);
        for (int c = 0; c < 2; ++c)
        {
            in[c].assign(input[c].begin() + static_cast<long>(done), input[c].begin() + static_cast<long>(done + n));
            out[c].assign(n, 7.0f);
        }
        processBlock(effect, in[0], in[1], out[0], out[1], inPlace);
        for (int c = 0; c < 2; ++c)
            std::copy(out[c].begin(), out[c].end(), output[c].begin() + static_cast<long>(done));
        done += n;
    }
    return output;
}

Stereo impulse(std::size_t length, std::size_t at, float amplitude)
{
    Stereo signal{std::vector<float>(length), std::vector<float>(length)};
    signal[0][at] = amplitude;
    signal[1][at] = kRightScale * amplitude;
    return signal;
}

// Seeded noise, different on the two channels, quiet enough that no
// maximizer limits it.
Stereo quietNoise(std::size_t length, unsigned seed)
{
    return seededNoise(length, seed, 0.1f);
}

// A running effect as a host sets one up: rate (the first crossover rebuild), block size, resume.
// The start-up message of an inner maximizer left out on purpose is swallowed.
AEffect* startEffect(const Plugin& plugin)
{
    testing::internal::CaptureStderr();
    AEffect* effect = plugin.create();
    testing::internal::GetCapturedStderr();
    if (effect != nullptr)
    {
        dispatch(effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
        dispatch(effect, effSetBlockSize, 0, 512);
        dispatch(effect, effMainsChanged, 0, 1);
    }
    return effect;
}

std::array<float, 4> parameters(AEffect* effect, int first)
{
    std::array<float, 4> values{};
    for (int i = 0; i < 4; ++i)
        values[i] = effect->getParameter(effect, first + 3 * i);
    return values;
}

struct Model
{
    std::array<Reference::Band, 5> bands;
    int len = 0;
    int streamDelay = 0; // common band delay T
    std::array<std::vector<double>, 5> kernels;
};

// The model of the effect's current crossover: bands, shared half length, the
// common delay T = (hop - 1) + (len - 1) and, when asked, the five kernels.
Model modelOf(AEffect* effect, bool withKernels)
{
    Model model;
    model.bands = Reference::bands(parameters(effect, 1), parameters(effect, 2), kRate);
    model.len = Reference::commonHalfLength(model.bands, kRate);
    int fftSize = 32;
    while (fftSize < 2 * (2 * model.len) && fftSize < 32768)
        fftSize *= 2;
    model.streamDelay = (fftSize / 2 - 1) + (model.len - 1);
    if (withKernels)
        for (int b = 0; b < 5; ++b)
            model.kernels[static_cast<std::size_t>(b)] = Reference::kernel(model.bands[static_cast<std::size_t>(b)], kRate, model.len);
    return model;
}

// What the bands' kernels, each weighted by its gain (0: off), give for an impulse
// of `amplitude` at `at`, delayed by `delay`.
std::vector<double> expectedResponse(const Model& model, const std::array<double, 5>& gains, std::size_t length,
                                     std::size_t at, int delay, double amplitude)
{
    std::vector<double> expected(length, 0.0);
    const long start = static_cast<long>(at) + delay - (model.len - 1);
    for (int b = 0; b < 5; ++b)
    {
        const double gain = gains[static_cast<std::size_t>(b)];
        const std::vector<double>& taps = model.kernels[static_cast<std::size_t>(b)];
        for (std::size_t k = 0; k < taps.size(); ++k)
        {
            const long t = start + static_cast<long>(k);
            if (t >= 0 && t < static_cast<long>(length))
                expected[static_cast<std::size_t>(t)] += gain * amplitude * taps[k];
        }
    }
    return expected;
}

// Largest difference over both channels, the right one expected at kRightScale;
// the kernel peaks are below 1, and float FFT convolution of this length keeps
// errors near 1e-6 of the peak.
double largestError(const Stereo& output, const std::vector<double>& expected)
{
    double error = 0.0;
    for (int c = 0; c < 2; ++c)
        for (std::size_t t = 0; t < output[c].size(); ++t)
            error = std::max(error, std::abs(output[c][t] - (c == 0 ? 1.0 : kRightScale) * expected[t]));
    return error;
}

constexpr double kTolerance = 2e-5;

} // namespace

TEST(AudioPath, ImpulseLeavesAtTheReportedLatencyForEveryBlockSize)
{
    PluginFolder folder;
    Plugin plugin(folder);
    ASSERT_TRUE(plugin.loaded());
    const std::size_t at = 2000;
    for (int blockSize : {1, 32, 441, 512, 1000, 1024, 4096, 8192, -1, -2})
    {
        SCOPED_TRACE(blockSize);
        AEffect* effect = startEffect(plugin);
        ASSERT_NE(effect, nullptr);
        const Model model = modelOf(effect, true);
        EXPECT_EQ(model.len, 768);
        EXPECT_EQ(effect->initialDelay, model.streamDelay);
        const std::size_t length = at + static_cast<std::size_t>(effect->initialDelay + 2 * model.len + 500);
        const BlockSizes blocks = blocksOf(blockSize);
        const Stereo output = runStream(effect, impulse(length, at, 1.0f), blocks, blockSize == -2);
        const std::vector<double> expected = expectedResponse(model, {1, 1, 1, 1, 1}, length, at,
                                                              effect->initialDelay, 1.0);
        EXPECT_LT(largestError(output, expected), kTolerance);
        const auto peak = std::max_element(output[0].begin(), output[0].end(),
                                           [](float a, float b) { return std::abs(a) < std::abs(b); });
        EXPECT_EQ(peak - output[0].begin(), static_cast<long>(at) + effect->initialDelay);
        dispatch(effect, effClose);
    }
}

TEST(AudioPath, BandSwitchesWithoutInnerMaximizerSeparateAndInPlace)
{
    PluginFolder folder;
    Plugin plugin(folder);
    for (bool inPlace : {false, true})
    {
        AEffect* effect = startEffect(plugin);
        ASSERT_NE(effect, nullptr);
        effect->setParameter(effect, kBandSwitch[1], 0.0f);
        effect->setParameter(effect, kBandSwitch[3], 0.5f); // 0.5 is off
        const Model model = modelOf(effect, true);
        const std::size_t at = 777;
        const std::size_t length = at + static_cast<std::size_t>(effect->initialDelay + 2 * model.len + 300);
        const Stereo output = runStream(effect, impulse(length, at, 0.5f), randomBlocks(7), inPlace);
        const std::vector<double> expected =
            expectedResponse(model, {1, 0, 1, 0, 1}, length, at, effect->initialDelay, 0.5);
        EXPECT_LT(largestError(output, expected), kTolerance) << "in place: " << inPlace;
        dispatch(effect, effClose);
    }
}

TEST(AudioPath, EachBandReachesItsOwnInstanceAndTheInnerDelayCountsTwice)
{
    constexpr int kInnerDelay = 37;
    PluginFolder folder(ORVEX_TEST_INNER_PATH);
    void* inner = openLibrary(folder.innerPath());
    auto configure = reinterpret_cast<void (*)(int, int, int)>(librarySymbol(inner, "orvexTestConfigure"));
    auto unflushedCalls = reinterpret_cast<int (*)()>(librarySymbol(inner, "orvexTestUnflushedCalls"));
    ASSERT_NE(configure, nullptr);
    ASSERT_NE(unflushedCalls, nullptr);
    configure(-1, 0, kInnerDelay);
    Plugin plugin(folder);
    AEffect* effect = startEffect(plugin);
    ASSERT_NE(effect, nullptr);
    // Instance i (the master is 5) gets its own gain, 1 + its parameter 0.
    const auto setting = [](int i) { return 0.1f * static_cast<float>(i + 1); };
    for (int i = 0; i < 6; ++i)
        effect->setParameter(effect, 13 + 6 * i, setting(i));
    std::array<double, 5> gains{};
    for (int b = 0; b < 4; ++b)
        gains[static_cast<std::size_t>(b)] = (1.0f + setting(b)) * (1.0f + setting(5));
    effect->setParameter(effect, kBandSwitch[4], 0.0f);
    const Model model = modelOf(effect, true);
    EXPECT_EQ(effect->initialDelay, model.streamDelay + 2 * kInnerDelay);
    const std::size_t at = 4000;
    const std::size_t length = at + static_cast<std::size_t>(effect->initialDelay + 2 * model.len + 300);
    const Stereo output = runStream(effect, impulse(length, at, 1.0f), randomBlocks(11), false);
    const std::vector<double> expected = expectedResponse(model, gains, length, at, effect->initialDelay, 1.0);
    EXPECT_LT(largestError(output, expected), 3 * kTolerance);
    // Every instance ran with denormals flushed (-1: the mode cannot be read here).
    EXPECT_LE(unflushedCalls(), 0);
    dispatch(effect, effClose);
    closeLibrary(inner);
}

TEST(AudioPath, LongestKernelsKeepTheImpulseOnTheReportedLatency)
{
    PluginFolder folder;
    Plugin plugin(folder);
    for (int blockSize : {1, 441, 8192, -3})
    {
        SCOPED_TRACE(blockSize);
        AEffect* effect = startEffect(plugin);
        ASSERT_NE(effect, nullptr);
        effect->setParameter(effect, 2, 1.0f); // 96 dB/oct ...
        effect->setParameter(effect, 1, 0.0f); // ... at 4.79 Hz: several partitions
        const int latency = effect->initialDelay;
        EXPECT_GT(latency, 2 * 16384);
        const std::size_t at = 5000;
        const std::size_t length = at + static_cast<std::size_t>(latency) + 4000;
        const BlockSizes blocks = blocksOf(blockSize);
        const Stereo output = runStream(effect, impulse(length, at, 1.0f), blocks, false);
        // The crossovers sum to nearly a unit impulse, symmetric about its centre.
        const std::size_t centre = at + static_cast<std::size_t>(latency);
        for (int c = 0; c < 2; ++c)
        {
            const auto& channel = output[static_cast<std::size_t>(c)];
            const auto peak = std::max_element(channel.begin(), channel.end(),
                                               [](float a, float b) { return std::abs(a) < std::abs(b); });
            EXPECT_EQ(static_cast<std::size_t>(peak - channel.begin()), centre);
            EXPECT_GT(std::abs(*peak), 0.5f);
            for (std::size_t k = 1; k < 3000; ++k)
                ASSERT_NEAR(channel[centre + k], channel[centre - k], 1e-5) << k;
            for (std::size_t t = 0; t < at; ++t)
                ASSERT_EQ(channel[t], 0.0f);
        }
        dispatch(effect, effClose);
    }
}

TEST(Rebuild, StoresThatChangeNoDesignInputLeaveTheOutputUntouched)
{
#ifdef ORVEX_TEST_REAL_INNER_PATH
    PluginFolder folder(ORVEX_TEST_REAL_INNER_PATH);
#else
    PluginFolder folder;
#endif
    Plugin plugin(folder);
    const Stereo input = quietNoise(12000, 8);
    // The store is repeated before every block from the fifth on, as hosts
    // replaying automation do.
    auto streamWith = [&](int index, float value) {
        AEffect* effect = startEffect(plugin);
        const Stereo output = runStream(effect, input, fixedBlocks(256), false, [&](std::size_t done) {
            if (done >= 1280 && index >= 0)
                effect->setParameter(effect, index, value);
            if (done >= 1280 && index == -2)
                dispatch(effect, effSetSampleRate, 0, 0, nullptr, value);
        });
        dispatch(effect, effClose);
        return output;
    };
    const Stereo untouched = streamWith(-1, 0.0f);
    EXPECT_EQ(streamWith(5, 0.25f), untouched);                      // step 2 stays step 2
    EXPECT_EQ(streamWith(4, 0.1897612f), untouched);                 // the frequency it already has
    EXPECT_EQ(streamWith(-2, static_cast<float>(kRate)), untouched); // the rate it already has
    EXPECT_NE(streamWith(5, 0.3f), untouched);                       // step 3: a new design
}

TEST(Rebuild, BandSwitchTakesEffectAtTheNextBlockWithoutRebuilding)
{
    PluginFolder folder;
    Plugin plugin(folder);
    AEffect* effect = startEffect(plugin);
    const Model model = modelOf(effect, true);
    const std::size_t at = 500;
    const std::size_t length = 8000;
    // Band 3 is switched off after the impulse entered: the other bands' response is unaffected.
    const Stereo output = runStream(effect, impulse(length, at, 1.0f), fixedBlocks(500), false, [&](std::size_t done) {
        if (done == 1000)
            effect->setParameter(effect, kBandSwitch[2], 0.0f);
    });
    const std::vector<double> expected =
        expectedResponse(model, {1, 1, 0, 1, 1}, length, at, effect->initialDelay, 1.0);
    EXPECT_LT(largestError(output, expected), kTolerance);
    dispatch(effect, effClose);
}

TEST(Threads, CrossoverChangesWhileProcessing)
{
    PluginFolder folder;
    Plugin plugin(folder);
    AEffect* effect = startEffect(plugin);
    ASSERT_NE(effect, nullptr);
    // The changes start after the first block and the blocks go on until the
    // last change is made: the two threads overlap by construction.
    std::atomic<bool> audioStarted{false}, changesDone{false};
    std::thread changer([&] {
        while (!audioStarted.load())
            std::this_thread::yield();
        std::mt19937 engine(5);
        std::uniform_real_distribution<float> frequency(0.05f, 0.98f), slope(0.0f, 0.8f);
        for (int i = 0; i < 24; ++i)
        {
            const int crossover = i % 4;
            effect->setParameter(effect, 3 * crossover + (i % 3 == 2 ? 2 : 1),
                                 i % 3 == 2 ? slope(engine) : frequency(engine));
            effect->setParameter(effect, kBandSwitch[static_cast<std::size_t>(i % 5)], (i % 2) ? 1.0f : 0.0f);
            // Restarts at another rate race the audio thread too (its reads of the
            // rate, the latency it publishes).
            if (i % 6 == 5)
            {
                dispatch(effect, effMainsChanged, 0, 0);
                dispatch(effect, effSetSampleRate, 0, 0, nullptr, i % 12 == 5 ? 48000.0f : 44100.0f);
                dispatch(effect, effMainsChanged, 0, 1);
            }
        }
        changesDone.store(true);
    });
    std::mt19937 engine(9);
    std::uniform_real_distribution<float> noise(-0.25f, 0.25f);
    std::vector<float> left(512), right(512), outLeft(512), outRight(512);
    bool finite = true;
    for (int block = 0; block < 400 || !changesDone.load(); ++block)
    {
        for (std::size_t i = 0; i < 512; ++i)
        {
            left[i] = noise(engine);
            right[i] = noise(engine);
        }
        processBlock(effect, left, right, outLeft, outRight, false);
        audioStarted.store(true);
        for (std::size_t i = 0; i < 512; ++i)
            finite = finite && std::isfinite(outLeft[i]) && std::isfinite(outRight[i]);
    }
    changer.join();
    EXPECT_TRUE(finite);
    // Whatever the threads raced, the latency the host reads is the delay the audio has.
    runStream(effect, quietNoise(8000, 4), fixedBlocks(512), false);
    const int latency = effect->initialDelay;
    const std::size_t at = 700;
    const Stereo output = runStream(effect, impulse(at + latency + 2000, at, 1.0f), fixedBlocks(512), false);
    const auto peak = std::max_element(output[0].begin(), output[0].end(),
                                       [](float a, float b) { return std::abs(a) < std::abs(b); });
    EXPECT_EQ(peak - output[0].begin(), static_cast<long>(at) + latency);
    dispatch(effect, effClose);
}

#ifdef ORVEX_TEST_REAL_INNER_PATH

namespace
{

// DTFT of a finite response at `hz`.
double magnitudeAt(const std::vector<float>& response, double hz)
{
    std::complex<double> sum = 0.0;
    const double w = -2.0 * 3.14159265358979323846 * hz / kRate;
    for (std::size_t t = 0; t < response.size(); ++t)
        sum += static_cast<double>(response[t]) * std::polar(1.0, w * static_cast<double>(t));
    return std::abs(sum);
}

} // namespace

TEST(RealInner, MagnitudeResponseMatchesTheBandKernels)
{
    PluginFolder folder(ORVEX_TEST_REAL_INNER_PATH);
    Plugin plugin(folder);
    AEffect* effect = startEffect(plugin);
    ASSERT_NE(effect, nullptr);
    const Model model = modelOf(effect, false);
    const float amplitude = 0.5f; // stays below the ceiling: nothing is limited
    const std::size_t at = 300;
    const std::size_t length = at + static_cast<std::size_t>(effect->initialDelay + 2 * model.len + 200);
    const Stereo output = runStream(effect, impulse(length, at, amplitude), fixedBlocks(512), false);
    for (int i = 0; i <= 60; ++i)
    {
        const double hz = 20.0 * std::pow(1000.0, i / 60.0);
        double expected = 0.0;
        for (const auto& band : model.bands)
            expected += Reference::kernelMagnitude(band, hz, kRate);
        const double measured = magnitudeAt(output[0], hz) / amplitude;
        EXPECT_NEAR(20.0 * std::log10(measured / expected), 0.0, 0.01) << hz << " Hz";
    }
    dispatch(effect, effClose);
}

TEST(RealInner, OneBandOnGivesThatBandsKernel)
{
    PluginFolder folder(ORVEX_TEST_REAL_INNER_PATH);
    Plugin plugin(folder);
    AEffect* effect = startEffect(plugin);
    ASSERT_NE(effect, nullptr);
    for (int b : {0, 1, 3, 4})
        effect->setParameter(effect, kBandSwitch[static_cast<std::size_t>(b)], 0.0f);
    const Model model = modelOf(effect, true);
    const std::size_t at = 2000;
    const std::size_t length = at + static_cast<std::size_t>(effect->initialDelay + 2 * model.len + 200);
    const Stereo output = runStream(effect, impulse(length, at, 1.0f), randomBlocks(21), true);
    const std::vector<double> expected =
        expectedResponse(model, {0, 0, 1, 0, 0}, length, at, effect->initialDelay, 1.0);
    EXPECT_LT(largestError(output, expected), kTolerance);
    dispatch(effect, effClose);
}

TEST(RealInner, AllBandsOffGivesTheMastersSilence)
{
    PluginFolder folder(ORVEX_TEST_REAL_INNER_PATH);
    Plugin plugin(folder);
    AEffect* effect = startEffect(plugin);
    ASSERT_NE(effect, nullptr);
    for (int index : kBandSwitch)
        effect->setParameter(effect, index, 0.0f);
    // A maximizer hosted on its own, fed silence, is what the master must give.
    void* inner = openLibrary(folder.innerPath());
    auto entry = reinterpret_cast<VstPluginMainProc>(librarySymbol(inner, "VSTPluginMain"));
    ASSERT_NE(entry, nullptr);
    AEffect* alone = entry([](AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
        return opcode == audioMasterVersion ? 2400 : 0;
    });
    ASSERT_NE(alone, nullptr);
    dispatch(alone, effOpen);
    dispatch(alone, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
    dispatch(alone, effMainsChanged, 0, 1);
    std::mt19937 engine(4);
    std::uniform_real_distribution<float> noise(-0.9f, 0.9f);
    const std::size_t length = 20000;
    Stereo input{std::vector<float>(length), std::vector<float>(length)};
    for (auto& channel : input)
        for (float& sample : channel)
            sample = noise(engine);
    const Stereo output = runStream(effect, input, fixedBlocks(512), false);
    const Stereo silence{std::vector<float>(length), std::vector<float>(length)};
    const Stereo masterAlone = runStream(alone, silence, fixedBlocks(512), false);
    EXPECT_EQ(output, masterAlone);
    dispatch(alone, effClose);
    closeLibrary(inner);
    dispatch(effect, effClose);
}

#endif

// ---------------------------------------------------------------------------
// Live changes: crossover moves while audio plays.

// ---------------------------------------------------------------------------
// Replacement inner maximizers: missing entries, late and per-band latencies.

namespace
{

// The test inner plug-in copied beside the effect, with its quirks set.
struct QuirkyInner
{
    QuirkyInner(int delay, int quirks) : folder(ORVEX_TEST_INNER_PATH), library(openLibrary(folder.innerPath()))
    {
        reinterpret_cast<void (*)(int, int, int)>(librarySymbol(library, "orvexTestConfigure"))(-1, 0, delay);
        reinterpret_cast<void (*)(int)>(librarySymbol(library, "orvexTestSetQuirks"))(quirks);
    }
    ~QuirkyInner() { closeLibrary(library); }
    PluginFolder folder;
    void* library;
};

constexpr int kNoProcess = 1, kLateLatency = 2, kNoProcessReplacing = 8, kTwoParameters = 16;

} // namespace

TEST(AnyInner, MissingEntriesNeverCrashAndTheBandsStillSum)
{
    for (int quirks : {kNoProcess, kNoProcess | kNoProcessReplacing})
    {
        SCOPED_TRACE(quirks);
        QuirkyInner inner(0, quirks);
        Plugin plugin(inner.folder);
        AEffect* effect = startEffect(plugin);
        ASSERT_NE(effect, nullptr);
        const Model model = modelOf(effect, true);
        const std::size_t at = 700;
        const std::size_t length = at + static_cast<std::size_t>(effect->initialDelay + 2 * model.len);
        const Stereo output = runStream(effect, impulse(length, at, 1.0f), randomBlocks(2), false);
        EXPECT_LT(largestError(output, expectedResponse(model, {true, true, true, true, true}, length, at,
                                                        effect->initialDelay, 1.0)),
                  kTolerance);
        dispatch(effect, effClose);
    }
}

TEST(AnyInner, LatencyReportedAfterTheFirstBlockIsFollowedAtOnce)
{
    constexpr int kLate = 480;
    for (int blockSize : {1, 512, -9})
    {
        SCOPED_TRACE(blockSize);
        QuirkyInner inner(kLate, kLateLatency);
        Plugin plugin(inner.folder);
        AEffect* effect = startEffect(plugin);
        ASSERT_NE(effect, nullptr);
        const Model model = modelOf(effect, true);
        EXPECT_EQ(effect->initialDelay, model.streamDelay); // nothing reported yet
        const int calls = ioChangedCalls.load();
        const BlockSizes blocks = blocksOf(blockSize);
        const std::size_t at = 1500;
        const std::size_t length = at + static_cast<std::size_t>(model.streamDelay + 2 * kLate + 2 * model.len);
        const Stereo output = runStream(effect, impulse(length, at, 1.0f), blocks, false);
        EXPECT_EQ(effect->initialDelay, model.streamDelay + 2 * kLate);
        EXPECT_EQ(ioChangedCalls.load() - calls, 1);
        EXPECT_LT(largestError(output, expectedResponse(model, {true, true, true, true, true}, length, at,
                                                        effect->initialDelay, 1.0)),
                  kTolerance);
        // A host that restarts the effect from within ioChanged, on the audio thread, must not hang it.
        restartOnIoChanged.store(true);
        effect->setParameter(effect, 2, 1.0f); // a longer crossover: the latency grows
        runStream(effect, impulse(600, 10, 1.0f), blocks, false);
        restartOnIoChanged.store(false);
        dispatch(effect, effClose);
    }
}

TEST(AnyInner, AnImpossibleLatencyIsSaidAwayFromTheAudioThread)
{
    // Reported only once the first block is processed: more than 10 s of audio.
    QuirkyInner inner(1000000, kLateLatency);
    Plugin plugin(inner.folder);
    AEffect* effect = startEffect(plugin);
    ASSERT_NE(effect, nullptr);
    const int latency = effect->initialDelay;
    testing::internal::CaptureStderr();
    runStream(effect, quietNoise(4096, 3), fixedBlocks(512), false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "printed from the audio thread";
    EXPECT_EQ(effect->initialDelay, latency) << "taken as 0";
    testing::internal::CaptureStderr();
    dispatch(effect, effMainsChanged, 0, 0);
    dispatch(effect, effMainsChanged, 0, 1);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("reports a latency of 1000000 samples"), std::string::npos) << said;
    dispatch(effect, effClose);
}

TEST(AnyInner, TheNamesOfMissingParametersAreEmpty)
{
    QuirkyInner inner(0, kTwoParameters);
    Plugin plugin(inner.folder);
    AEffect* effect = startEffect(plugin);
    ASSERT_NE(effect, nullptr);
    // An inner plug-in with two parameters answers for those; the rest read 0 with no name.
    effect->setParameter(effect, 13 + 6 * 4 + 1, 0.5f);
    EXPECT_NEAR(effect->getParameter(effect, 13 + 6 * 4 + 1), 0.5f, 1e-6f);
    EXPECT_EQ(effect->getParameter(effect, 13 + 3), 0.0f);
    EXPECT_EQ(textOf(effect, effGetParamName, 13 + 3), "");
    dispatch(effect, effClose);
}

TEST(LiveChange, BeforeAnySampleRateTheInputLeavesUnchangedAtTheReportedLatency)
{
    // 6848 in all, or the inner instances' own latency (band + master) when that is more.
    for (int innerDelay : {-1, 1000, 4000})
    {
        SCOPED_TRACE(innerDelay);
        std::unique_ptr<QuirkyInner> quirky;
#ifdef ORVEX_TEST_REAL_INNER_PATH
        std::unique_ptr<PluginFolder> real = std::make_unique<PluginFolder>(ORVEX_TEST_REAL_INNER_PATH);
#else
        std::unique_ptr<PluginFolder> real = std::make_unique<PluginFolder>();
#endif
        if (innerDelay >= 0)
            quirky = std::make_unique<QuirkyInner>(innerDelay, 0);
        Plugin plugin(quirky ? quirky->folder : *real);
        const int latency = std::max(6848, 2 * innerDelay);
        for (int blockSize : {512, -4})
        {
            testing::internal::CaptureStderr();
            AEffect* effect = plugin.create();
            testing::internal::GetCapturedStderr();
            ASSERT_NE(effect, nullptr);
            EXPECT_EQ(effect->initialDelay, latency) << "as created";
            dispatch(effect, effMainsChanged, 0, 1);
            ASSERT_EQ(effect->initialDelay, latency);
            const Stereo input = quietNoise(12000, 2);
            const BlockSizes blocks = blocksOf(blockSize);
            const Stereo output = runStream(effect, input, blocks, false);
            for (int c = 0; c < 2; ++c)
                for (std::size_t t = 0; t < output[0].size(); ++t)
                    ASSERT_EQ(output[c][t], t < static_cast<std::size_t>(latency) ? 0.0f : input[c][t - latency])
                        << c << " " << t;
            dispatch(effect, effClose);
        }
    }
}

TEST(LiveChange, ResumeStartsWithoutTheStreamBeforeIt)
{
    // The crossover holds audio, and so do the inner instances' lookahead lines.
#ifdef ORVEX_TEST_REAL_INNER_PATH
    PluginFolder folder(ORVEX_TEST_REAL_INNER_PATH);
#else
    PluginFolder folder;
#endif
    Plugin plugin(folder);
    AEffect* effect = startEffect(plugin);
    runStream(effect, quietNoise(44100, 1), fixedBlocks(512), false);
    dispatch(effect, effMainsChanged, 0, 0);
    dispatch(effect, effMainsChanged, 0, 1);
    const Stereo silence{std::vector<float>(6000), std::vector<float>(6000)};
    EXPECT_EQ(runStream(effect, silence, fixedBlocks(512), false), silence);
    dispatch(effect, effClose);
}

TEST(LiveChange, ImpulseLeavesAtTheReportedLatencyAfterGrowthShrinkAndResume)
{
    PluginFolder folder;
    Plugin plugin(folder);
    for (int blockSize : {1, 441, 512, -6})
    {
        SCOPED_TRACE(blockSize);
        AEffect* effect = startEffect(plugin);
        ASSERT_NE(effect, nullptr);
        const BlockSizes blocks = blocksOf(blockSize);
        int calls = ioChangedCalls.load();
        int latency = effect->initialDelay;
        // The host hears of every latency change, and of nothing else.
        auto expectToldIfChanged = [&](const char* step) {
            EXPECT_EQ(ioChangedCalls.load() - calls, effect->initialDelay != latency ? 1 : 0) << step;
            calls = ioChangedCalls.load();
            latency = effect->initialDelay;
        };
        auto expectImpulseOnTime = [&](const char* step) {
            runStream(effect, quietNoise(8000, 3), blocks, false); // any change in progress ends
            const std::size_t at = 1000;
            const Stereo output = runStream(effect, impulse(at + latency + 3000, at, 1.0f), blocks, false);
            const auto peak = std::max_element(output[0].begin(), output[0].end(),
                                               [](float a, float b) { return std::abs(a) < std::abs(b); });
            EXPECT_EQ(peak - output[0].begin(), static_cast<long>(at) + latency) << step;
            EXPECT_GT(*peak, 0.5f) << step;
        };
        expectImpulseOnTime("start");
        effect->setParameter(effect, 2, 1.0f); // Slope1 to 96 dB/oct: longer kernels
        EXPECT_GT(effect->initialDelay, latency);
        expectToldIfChanged("growth");
        expectImpulseOnTime("growth");
        effect->setParameter(effect, 2, 0.0f); // 12 dB/oct: the larger delay stays
        expectToldIfChanged("shrink");
        EXPECT_EQ(effect->initialDelay, latency);
        expectImpulseOnTime("shrink");
        dispatch(effect, effMainsChanged, 0, 0);
        dispatch(effect, effMainsChanged, 0, 1); // back to the smallest
        EXPECT_LT(effect->initialDelay, latency);
        expectToldIfChanged("resume");
        expectImpulseOnTime("resume");
        dispatch(effect, effClose);
    }
}

TEST(LiveChange, MovesNeverClick)
{
    PluginFolder folder;
    Plugin plugin(folder);
    // A 1 kHz tone: a step or a gap shows as a second difference far above the tone's own.
    const std::size_t length = 40000;
    Stereo tone{std::vector<float>(length), std::vector<float>(length)};
    for (std::size_t t = 0; t < length; ++t)
        tone[0][t] = tone[1][t] = static_cast<float>(0.25 * std::sin(2.0 * 3.14159265358979 * 1000.0 * t / kRate));
    const double toneCurvature = 0.25 * std::pow(2.0 * 3.14159265358979 * 1000.0 / kRate, 2.0);
    const struct
    {
        const char* what;
        int index;
        float value;
    } moves[] = {{"growth: Slope1 to 96 dB/oct", 2, 1.0f},
                 {"crossfade: Freq1 to 510 Hz", 1, 0.1f},
                 {"band switch: Band3 off", 6, 0.0f}};
    for (const auto& move : moves)
    {
        SCOPED_TRACE(move.what);
        AEffect* effect = startEffect(plugin);
        const Stereo output = runStream(effect, tone, fixedBlocks(64), false, [&](std::size_t done) {
            if (done == 6400)
                effect->setParameter(effect, move.index, move.value);
        });
        double curvature = 0.0;
        for (std::size_t t = 5500; t + 1 < length; ++t) // after the tone's onset
            curvature = std::max(curvature, std::abs(static_cast<double>(output[0][t + 1]) - 2.0 * output[0][t] +
                                                     output[0][t - 1]));
        EXPECT_LT(curvature, 1.1 * toneCurvature);
        dispatch(effect, effClose);
    }
}

#ifdef ORVEX_TEST_REAL_INNER_PATH

namespace
{

// Follows an output that is meant to move from one render to the next through
// crossfades: at every frame where consecutive renders differ enough on the
// left, out = (1 - w) from + w to gives w; the right channel must obey the
// same w. Checks that the output equals the first render before the change,
// that w only rises, from 0 to 1, render after render, and that each change
// is a fade, not a jump. `renders` are aligned to `out`.
void expectCrossfades(const Stereo& out, const std::vector<Stereo>& renders, std::size_t changeAt)
{
    for (std::size_t t = 0; t < changeAt; ++t)
        ASSERT_EQ(out[0][t], renders[0][0][t]) << "before the change, at " << t;
    std::size_t stage = 0;
    double w = 0.0;
    std::vector<int> fading(renders.size() - 1, 0);
    for (std::size_t t = changeAt; t < out[0].size(); ++t)
    {
        for (; stage + 1 < renders.size(); ++stage, w = 0.0)
        {
            const Stereo& from = renders[stage];
            const Stereo& to = renders[stage + 1];
            const double d = to[0][t] - from[0][t];
            if (std::abs(d) < 0.003)
                break;
            const double fit = (out[0][t] - from[0][t]) / d;
            const double right = (1.0 - fit) * from[1][t] + fit * to[1][t];
            if (std::abs(out[1][t] - right) < 1e-5 && fit > w - 0.01 && fit < 1.01)
            {
                w = std::max(w, fit);
                fading[stage] += fit > 0.05 && fit < 0.95;
                break;
            }
            ASSERT_GT(w, 0.99) << "left the fade of change " << stage << " early, at " << t;
        }
        ASSERT_LT(stage + 1, renders.size()) << "the output is none of the renders at " << t;
    }
    EXPECT_EQ(stage + 2, renders.size());
    EXPECT_GT(w, 0.99);
    for (std::size_t s = 0; s < fading.size(); ++s)
        EXPECT_GT(fading[s], 100) << "change " << s << " was not faded";
}

} // namespace

TEST(Threads, MovesFromAnotherThreadOnlyEverBlendTwoRenders)
{
    PluginFolder folder(ORVEX_TEST_REAL_INNER_PATH);
    Plugin plugin(folder);
    const Stereo input = quietNoise(60000, 12);
    const float settings[2] = {0.1897612f, 0.3f}; // Freq2: 1000 Hz and about 1750 Hz, the same latency
    auto start = [&](float freq2) {
        AEffect* effect = startEffect(plugin);
        for (int b : {0, 1, 3, 4}) // band 3 alone, so the two settings sound different
            effect->setParameter(effect, kBandSwitch[static_cast<std::size_t>(b)], 0.0f);
        effect->setParameter(effect, 4, freq2);
        return effect;
    };
    Stereo renders[2];
    for (int i = 0; i < 2; ++i)
    {
        AEffect* effect = start(settings[i]);
        renders[i] = runStream(effect, input, fixedBlocks(512), false);
        dispatch(effect, effClose);
    }
    AEffect* effect = start(settings[0]);
    std::atomic<bool> audioStarted{false}, audioDone{false};
    std::atomic<int> moves{0};
    std::thread mover([&] {
        while (!audioStarted.load())
            std::this_thread::yield();
        for (int i = 1; !audioDone.load(); ++i, ++moves)
            effect->setParameter(effect, 4, settings[i % 2]);
    });
    // The stream waits at its tenth block for a few moves: the threads overlap by construction.
    const Stereo output = runStream(effect, input, fixedBlocks(512), false, [&](std::size_t done) {
        audioStarted.store(done > 0);
        while (done == 10 * 512 && moves.load() < 3)
            std::this_thread::yield();
    });
    audioDone.store(true);
    mover.join();
    dispatch(effect, effClose);
    // Every frame is (1 - w) A + w B for one w in 0..1, the same on both channels.
    const Stereo& a = renders[0];
    const Stereo& b = renders[1];
    for (std::size_t t = 0; t < input[0].size(); ++t)
    {
        const double d = b[0][t] - a[0][t];
        if (std::abs(d) < 0.003)
        {
            ASSERT_LT(std::abs(output[0][t] - a[0][t]), std::abs(d) + 1e-5) << t;
            continue;
        }
        const double w = (output[0][t] - a[0][t]) / d;
        ASSERT_GT(w, -0.01) << t;
        ASSERT_LT(w, 1.01) << t;
        ASSERT_NEAR(output[1][t], (1.0 - w) * a[1][t] + w * b[1][t], 1e-5) << t;
    }
}

TEST(LiveChange, MovesCrossfadeFromTheOldSettingsRenderToTheNewOnes)
{
    PluginFolder folder(ORVEX_TEST_REAL_INNER_PATH);
    Plugin plugin(folder);
    const Stereo input = quietNoise(30000, 5);
    const std::size_t changeAt = 10 * 512;
    struct Move
    {
        const char* what;
        int index;
        std::vector<float> values; // the second arrives while the first fades
    };
    const Move moves[] = {{"Freq2", 4, {0.3f}}, {"Slope3", 8, {0.6f}}, {"Freq2 twice", 4, {0.3f, 0.36f}}};
    for (const Move& move : moves)
    {
        SCOPED_TRACE(move.what);
        auto render = [&](int valuesFromStart, bool live) {
            AEffect* effect = startEffect(plugin);
            // Band 3 alone: the bands sum to nearly the input whatever the crossovers.
            for (int b : {0, 1, 3, 4})
                effect->setParameter(effect, kBandSwitch[static_cast<std::size_t>(b)], 0.0f);
            for (int i = 0; i < valuesFromStart; ++i)
                effect->setParameter(effect, move.index, move.values[static_cast<std::size_t>(i)]);
            const int latency = effect->initialDelay;
            const Stereo output = runStream(effect, input, fixedBlocks(512), false, [&](std::size_t done) {
                for (std::size_t i = 0; live && i < move.values.size(); ++i)
                    if (done == changeAt + 512 * i)
                        effect->setParameter(effect, move.index, move.values[i]);
            });
            EXPECT_EQ(effect->initialDelay, latency) << "the move needs no longer delay";
            dispatch(effect, effClose);
            return output;
        };
        std::vector<Stereo> renders;
        for (std::size_t i = 0; i <= move.values.size(); ++i)
            renders.push_back(render(static_cast<int>(i), false));
        expectCrossfades(render(0, true), renders, changeAt);
    }
}

#endif
