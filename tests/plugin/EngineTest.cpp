// The multiband engine through its own interface, with plain functions as
// the band maximizers: restarts, changes made around them, band alignment
// and the threads that may call it, without any plug-in library.
#include "crossover/GrowableBuffer.h"
#include "plugin/MultibandEngine.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <random>
#include <thread>
#include <vector>

namespace
{

constexpr double kPi = 3.14159265358979323846;

CrossoverSettings settingsAt(float rate, float firstHz = 200.0f, int firstStep = 2)
{
    CrossoverSettings settings;
    settings.sampleRate = rate;
    settings.hz = {firstHz, 1000.0f, 4000.0f, 10000.0f};
    settings.steps = {firstStep, 2, 2, 2};
    return settings;
}

// Maximizers that report the latencies a test sets; with `delays` they also
// delay their input by that much, as a real lookahead does. Each applies its
// fixed gain and reports its drive.
struct PlainRunner : BandRunner
{
    std::array<std::atomic<int>, MultibandEngine::kInstances> latencies{};
    bool delays = false;
    std::array<float, MultibandEngine::kInstances> gains{1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
    std::array<float, MultibandEngine::kInstances> drives{};
    std::array<std::array<std::vector<float>, 2>, MultibandEngine::kInstances> history;

    bool run(int instance, float* const* in, float* const* out, int n) override
    {
        const long delay = delays ? latencies[static_cast<std::size_t>(instance)].load() : 0;
        for (int c = 0; c < 2; ++c)
        {
            std::vector<float>& past = history[static_cast<std::size_t>(instance)][static_cast<std::size_t>(c)];
            for (int i = 0; i < n; ++i)
            {
                past.push_back(in[c][i]);
                const long at = static_cast<long>(past.size()) - 1 - delay;
                out[c][i] = at >= 0 ? gains[static_cast<std::size_t>(instance)] * past[static_cast<std::size_t>(at)] : 0.0f;
            }
        }
        return true;
    }
    int latency(int instance) override { return latencies[static_cast<std::size_t>(instance)].load(); }
    float driveDb(int instance) override { return drives[static_cast<std::size_t>(instance)]; }
};

struct Told : LatencyListener
{
    std::vector<int> values;
    void latencyChanged(int frames) override { values.push_back(frames); }
};

struct Rig
{
    explicit Rig(const CrossoverSettings& initial = settingsAt(44100.0f), int maxBlock = 512)
        : engine(told, runner, 6848, initial, maxBlock), initial(initial)
    {
    }
    // A host's start: the rate (a restart with the first design), then a resume.
    void start(float rate)
    {
        float hz[MultibandEngine::kCrossovers];
        for (int i = 0; i < MultibandEngine::kCrossovers; ++i)
            hz[i] = initial.hz[static_cast<std::size_t>(i)];
        engine.setSampleRate(rate, hz, [] {});
        engine.restart([] {});
    }
    // Streams `input` in blocks of `block` frames (random sizes up to -block
    // when negative), calling beforeBlock(frame) before each block.
    Stereo run(const Stereo& input, int block, const std::function<void(std::size_t)>& beforeBlock = nullptr)
    {
        std::mt19937 sizes(5);
        const std::size_t total = input[0].size();
        Stereo output{std::vector<float>(total), std::vector<float>(total)};
        for (std::size_t done = 0; done < total;)
        {
            if (beforeBlock)
                beforeBlock(done);
            const int wanted = block > 0 ? block : std::uniform_int_distribution<int>(1, -block)(sizes);
            const int n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(wanted), total - done));
            const float* in[2] = {input[0].data() + done, input[1].data() + done};
            float* out[2] = {output[0].data() + done, output[1].data() + done};
            engine.process(in, out, n);
            done += static_cast<std::size_t>(n);
        }
        return output;
    }

    Told told;
    PlainRunner runner;
    MultibandEngine engine;
    CrossoverSettings initial;
};

// A tone that starts at 0 and stops at `until` seconds, faded in and out over
// 10 ms so that neither end is a click of its own.
Stereo tone(float rate, double hz, double seconds, double amplitude = 0.3, double until = 1e9)
{
    const std::size_t length = static_cast<std::size_t>(seconds * rate);
    const double end = std::min(until, seconds);
    Stereo signal{std::vector<float>(length), std::vector<float>(length)};
    for (std::size_t t = 0; t < length && t < end * rate; ++t)
    {
        const double now = static_cast<double>(t) / rate;
        const double edge = std::min(now, end - now) / 0.01;
        const double envelope = edge >= 1.0 ? 1.0 : 0.5 - 0.5 * std::cos(kPi * edge);
        signal[0][t] = signal[1][t] = static_cast<float>(envelope * amplitude * std::sin(2.0 * kPi * hz * t / rate));
    }
    return signal;
}

// Largest second difference of the left channel from `from` on: a step or a
// gap shows far above a tone's own A (2 pi f / rate)^2.
double curvature(const Stereo& output, std::size_t from)
{
    double largest = 0.0;
    for (std::size_t t = from; t + 1 < output[0].size(); ++t)
        largest = std::max(largest, std::abs(static_cast<double>(output[0][t + 1]) - 2.0 * output[0][t] + output[0][t - 1]));
    return largest;
}

} // namespace

TEST(Engine, NoCallerWaitsForADesignInProgressAndItsChangesAreNotLost)
{
    Rig rig;
    rig.start(44100.0f);
    struct Pause
    {
        std::promise<void> entered, resume;
        std::atomic<int> calls{0};
    } pause;
    rig.engine.setDesignPause(
        [](void* context) {
            auto* p = static_cast<Pause*>(context);
            if (p->calls++ == 0)
            {
                p->entered.set_value();
                p->resume.get_future().wait();
            }
        },
        &pause);
    std::thread designer([&] { rig.engine.setSlope(0, 8); }); // a long design, held in progress
    pause.entered.get_future().wait();
    // What an audio thread may call meanwhile, a rate change (a restart) included.
    auto audioSide = std::async(std::launch::async, [&] {
        rig.engine.setFrequency(3, 10000.0f); // unchanged
        rig.engine.setFrequency(1, 1500.0f);  // left to the design in progress
        rig.engine.setBand(2, false);
        std::vector<float> block(64, 0.25f);
        float* io[2] = {block.data(), block.data()};
        rig.engine.process(io, io, 64);
        const float hz[4] = {200.0f, 1500.0f, 4000.0f, 10000.0f};
        rig.engine.setSampleRate(48000.0f, hz, [] {});
    });
    const bool returned = audioSide.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    pause.resume.set_value();
    designer.join();
    audioSide.wait();
    EXPECT_TRUE(returned) << "a call waited for the design in progress";
    const CrossoverSettings latest = rig.engine.latestSettings();
    EXPECT_EQ(latest.steps[0], 8);
    EXPECT_EQ(latest.hz[1], 1500.0f);
    EXPECT_EQ(latest.sampleRate, 48000.0f);
    // The rate change was a restart: the smallest delay the design needs, and nothing of the old stream.
    EXPECT_EQ(rig.engine.latency(), CrossoverDesign::create(latest, nullptr)->minimumDelay());
    const Stereo silence{std::vector<float>(20000), std::vector<float>(20000)};
    EXPECT_EQ(rig.run(silence, 64), silence);
}

TEST(Engine, ChangesBeforeTheFirstBlockArePartOfTheRestart)
{
    for (float rate : {44100.0f, 96000.0f, 192000.0f})
    {
        SCOPED_TRACE(rate);
        // Set after the restart but before any audio: a steeper, lower first
        // crossover (a longer delay) and band 2 off.
        Rig changed(settingsAt(rate));
        changed.start(rate);
        changed.engine.setSlope(0, 8);
        changed.engine.setFrequency(0, 150.0f);
        changed.engine.setBand(1, false);
        // The same settings from the start.
        Rig direct(settingsAt(rate, 150.0f, 8));
        direct.engine.setBand(1, false);
        direct.start(rate);
        const Stereo input = tone(rate, 440.0, 0.4, 0.25);
        EXPECT_EQ(changed.run(input, 64), direct.run(input, 64));
        EXPECT_EQ(changed.engine.latency(), direct.engine.latency());
    }
}

TEST(Engine, AlignmentChangesNeitherReplayStaleAudioNorClick)
{
    constexpr float kRate = 44100.0f;
    const double toneCurvature = 0.3 * std::pow(2.0 * kPi * 3000.0 / kRate, 2.0);
    struct Step
    {
        double at;   // seconds
        int latency; // of band 1's maximizer
    };
    const struct
    {
        const char* what;
        double toneUntil; // seconds
        std::vector<Step> steps;
    } cases[] = {
        {"an alignment taken after silence reads that silence", 1.0, {{0.2, 4410}, {0.6, 0}, {4.0, 22050}}},
        {"an alignment taken while playing reads the stream as it was", 9.0, {{0.5, 22050}}},
        {"a change during the fade-in turns it round where it is", 9.0, {{0.5, 4410}, {0.545, 8820}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.start(kRate);
        const Stereo input = tone(kRate, 3000.0, c.toneUntil < 5.0 ? 4.6 : 1.6, 0.3, c.toneUntil);
        std::size_t next = 0;
        const Stereo output = rig.run(input, 64, [&](std::size_t frame) {
            while (next < c.steps.size() && frame >= c.steps[next].at * kRate)
                rig.runner.latencies[0].store(c.steps[next++].latency);
        });
        EXPECT_LT(curvature(output, static_cast<std::size_t>(0.1 * kRate)), 1.1 * toneCurvature);
        if (c.toneUntil < 5.0)
        {
            float after = 0.0f;
            for (std::size_t t = static_cast<std::size_t>(1.2 * kRate); t < output[0].size(); ++t)
                after = std::max(after, std::abs(output[0][t]));
            EXPECT_LT(after, 1e-4f);
        }
    }
}

TEST(Engine, BlocksLongerThanItsBuffersStayOnTimeWithoutAllocating)
{
    Rig pieces(settingsAt(44100.0f), 64);
    pieces.start(44100.0f);
    Rig whole;
    whole.start(44100.0f);
    Stereo impulse{std::vector<float>(30000), std::vector<float>(30000)};
    impulse[0][1234] = 1.0f;
    impulse[1][1234] = -0.5f;
    static const GrowableBuffer::Allocator failing = {[](void*, std::size_t) -> void* { return nullptr; },
                                                      [](std::size_t) -> void* { return nullptr; }};
    GrowableBuffer::setAllocatorForTesting(&failing);
    const Stereo long_blocks = pieces.run(impulse, -3000);
    GrowableBuffer::setAllocatorForTesting(nullptr);
    EXPECT_EQ(long_blocks, whole.run(impulse, 64));
    const auto peak = std::max_element(long_blocks[0].begin(), long_blocks[0].end());
    EXPECT_EQ(peak - long_blocks[0].begin(), 1234 + pieces.engine.latency());
}

TEST(Engine, BeforeAnyRateTheLatencyCountsEveryMaximizer)
{
    for (int each : {0, 1000, 4000})
    {
        SCOPED_TRACE(each);
        Rig rig;
        rig.runner.delays = true;
        for (auto& latency : rig.runner.latencies)
            latency.store(each);
        rig.engine.restart([] {});
        const int latency = std::max(6848, 2 * each);
        EXPECT_EQ(rig.engine.latency(), latency);
        ASSERT_FALSE(rig.told.values.empty());
        EXPECT_EQ(rig.told.values.back(), latency);
        // Band 1 alone passes the input: it leaves exactly that much later.
        const Stereo input = seededNoise(12000, 3, 0.5f);
        const Stereo output = rig.run(input, -700);
        for (int c = 0; c < 2; ++c)
            for (std::size_t t = 0; t < output[0].size(); ++t)
                ASSERT_EQ(output[c][t], t < static_cast<std::size_t>(latency) ? 0.0f : input[c][t - latency]) << t;
    }
}

TEST(Engine, BandsWhoseMaximizersDelayThemDifferentlyReachTheSumTogether)
{
    // Band maximizers delaying by 0 to 1000 frames, the master by 37: every
    // band leaves 1037 frames later than with none, so the output is the
    // undelayed one 1037 frames later, to the bit.
    const std::array<int, MultibandEngine::kInstances> latencies = {0, 100, 250, 500, 1000, 37};
    Rig plain;
    plain.start(44100.0f);
    Rig delayed;
    delayed.runner.delays = true;
    for (std::size_t i = 0; i < latencies.size(); ++i)
        delayed.runner.latencies[i].store(latencies[i]);
    delayed.start(44100.0f);
    EXPECT_EQ(delayed.engine.latency(), plain.engine.latency() + 1037);
    const Stereo input = seededNoise(20000, 8, 0.5f);
    const Stereo reference = plain.run(input, -600);
    const Stereo output = delayed.run(input, -600);
    for (int c = 0; c < 2; ++c)
        for (std::size_t t = 0; t < output[0].size(); ++t)
            ASSERT_EQ(output[c][t], t < 1037 ? 0.0f : reference[c][t - 1037]) << t;
}

TEST(Engine, GainMetersReadTheReductionEachMaximizerApplies)
{
    // Maximizers delaying by 0 to 1000 frames apply fixed gains to a steady
    // tone; each meter reads the reduction from its drive (0 for the bands
    // the tone does not reach, whatever their gain).
    using Instances = std::array<float, MultibandEngine::kInstances>;
    const struct
    {
        const char* what;
        double hz;
        Instances gains, drives, expected;
    } cases[] = {
        {"band 3 at half its level", 2000.0, {1, 1, 0.5f, 1, 1, 1}, {}, {0, 0, 6.0206f, 0, 0, 0}},
        {"the master driven 6 dB, raised 3 dB", 2000.0, {1, 1, 1, 1, 1, 1.4125375f}, {0, 0, 0, 0, 0, 6}, {0, 0, 0, 0, 0, 3}},
        {"an idle band reads 0", 100.0, {0.5f, 1, 1, 1, 0.25f, 1}, {}, {6.0206f, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.runner.delays = true;
        const std::array<int, MultibandEngine::kInstances> latencies = {0, 100, 250, 500, 1000, 37};
        for (std::size_t i = 0; i < latencies.size(); ++i)
            rig.runner.latencies[i].store(latencies[i]);
        rig.runner.gains = c.gains;
        rig.runner.drives = c.drives;
        rig.engine.setMetering(true);
        rig.start(44100.0f);
        rig.run(tone(44100.0f, c.hz, 1.0), -600);
        for (int i = 0; i < MultibandEngine::kInstances; ++i)
        {
            const GainMeter::Reading reading = rig.engine.gainReduction(i);
            EXPECT_NEAR(reading.blockDb, c.expected[static_cast<std::size_t>(i)], 0.1) << i;
            EXPECT_NEAR(reading.holdDb, c.expected[static_cast<std::size_t>(i)], 0.1) << i;
        }
    }
}

TEST(Engine, TapsHoldWhatTheMasterSumsAndNothingBeyondTheirFrames)
{
    // Blocks of up to 300 frames, run in pieces of 64, into taps of 200
    // frames: each block writes min(block, 200) frames and not one more; their
    // sum, band 3 switched off, is what the master (37 frames late) plays.
    constexpr int kFrames = 200;
    constexpr std::size_t kRoom = 320;
    constexpr float kUntouched = 7.0f;
    Rig rig(settingsAt(44100.0f), 64);
    rig.runner.delays = true;
    rig.runner.latencies[MultibandEngine::kMaster].store(37);
    rig.engine.setBand(2, false);
    rig.start(44100.0f);
    std::vector<float> buffers(2 * MultibandEngine::kBands * kRoom, kUntouched);
    MultibandEngine::Taps taps;
    for (int b = 0; b < MultibandEngine::kBands; ++b)
        for (int c = 0; c < 2; ++c)
            taps.channels[b][c] = buffers.data() + static_cast<std::size_t>(2 * b + c) * kRoom;
    taps.frames = kFrames;

    const Stereo input = seededNoise(6000, 9, 0.5f);
    // NaN where a block longer than the taps left a frame unrecorded.
    const std::vector<float> unknown(input[0].size(), std::nanf(""));
    Stereo sum{unknown, unknown};
    std::size_t blockStart = 0;
    const auto collect = [&](std::size_t done) {
        const std::size_t written = std::min<std::size_t>(done - blockStart, kFrames);
        for (std::size_t i = 0; i < kRoom; ++i)
            for (int c = 0; c < 2; ++c)
            {
                float total = 0.0f;
                for (int b = 0; b < MultibandEngine::kBands; ++b)
                {
                    const float sample = taps.channels[b][c][i];
                    ASSERT_EQ(sample == kUntouched, i >= written) << "band " << b << " frame " << i;
                    ASSERT_TRUE(b != 2 || i >= written || sample == 0.0f);
                    total += sample;
                }
                if (i < written)
                    sum[static_cast<std::size_t>(c)][blockStart + i] = total;
            }
        std::fill(buffers.begin(), buffers.end(), kUntouched);
        blockStart = done;
    };
    EXPECT_EQ(rig.engine.setTaps(taps), 37);
    const Stereo output = rig.run(input, -300, collect);
    collect(input[0].size());
    std::size_t recorded = 0;
    for (std::size_t t = 37; t < output[0].size(); ++t)
        for (std::size_t c = 0; c < 2; ++c)
            if (!std::isnan(sum[c][t - 37]))
            {
                ASSERT_EQ(output[c][t], sum[c][t - 37]) << t;
                ++recorded;
            }
    EXPECT_GT(recorded, input[0].size());
    EXPECT_GT(*std::max_element(output[0].begin(), output[0].end()), 0.1f);

    // Stopped, nothing is written.
    rig.engine.setTaps({});
    blockStart = 0;
    rig.run(input, 100, [&](std::size_t done) { blockStart = done; });
    EXPECT_EQ(std::count(buffers.begin(), buffers.end(), kUntouched), static_cast<long>(buffers.size()));
}
