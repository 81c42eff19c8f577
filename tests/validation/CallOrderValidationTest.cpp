// Call orders real hosts produce: processing before the start sequence, empty
// blocks, blocks larger than announced, rate and size changes between blocks,
// repeated suspend/resume, many instances, concurrent instances and parameter
// changes from another thread, in-place processing.
#include "ValidationHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <thread>

using namespace Validation;

namespace
{

constexpr double kUnbounded = std::numeric_limits<double>::infinity();

// Every sample finite and within `ceiling` (with float rounding slack).
::testing::AssertionResult finiteAndBounded(const Stereo& s, double ceiling)
{
    const long bad = firstViolation(s, ceiling);
    if (bad < 0)
        return ::testing::AssertionSuccess();
    const auto i = static_cast<std::size_t>(bad);
    return ::testing::AssertionFailure() << "sample " << i << " is " << s.left[i] << " / " << s.right[i]
                                         << " (ceiling " << ceiling << ")";
}

// Processes in place: the host hands the same buffers as input and output.
Stereo renderInPlace(const Effect& effect, const Stereo& input, VstInt32 block)
{
    Stereo io = input;
    for (std::size_t at = 0; at < io.size(); at += static_cast<std::size_t>(block))
    {
        const auto frames = static_cast<VstInt32>(std::min<std::size_t>(block, io.size() - at));
        effect.process(&io.left[at], &io.right[at], &io.left[at], &io.right[at], frames);
    }
    return io;
}

class CallOrderValidation : public testing::TestWithParam<PluginInfo>
{
};

} // namespace

TEST_P(CallOrderValidation, ProcessingBeforeOpenAndResumeIsSafe)
{
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    const double ceiling = outputCeiling(effect, GetParam());
    EXPECT_TRUE(finiteAndBounded(effect.render(sineMix(4 * 512, 2.0f, 44100.0, 11), 512), ceiling));
    effect.start(44100.0f, 512);
    EXPECT_TRUE(finiteAndBounded(effect.render(sineMix(4 * 512, 2.0f, 44100.0, 12), 512), ceiling));
}

TEST_P(CallOrderValidation, EmptyBlockWritesNothing)
{
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    effect.start(44100.0f, 512);
    effect.render(sineMix(1024, 0.5f, 44100.0, 13), 512);
    Stereo in = sineMix(64, 0.5f, 44100.0, 14);
    const Stereo inBefore = in;
    Stereo out(64);
    std::fill(out.left.begin(), out.left.end(), 0.25f);
    std::fill(out.right.begin(), out.right.end(), -0.25f);
    effect.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 0);
    for (std::size_t i = 0; i < out.size(); ++i)
    {
        ASSERT_EQ(out.left[i], 0.25f) << "output written at " << i;
        ASSERT_EQ(out.right[i], -0.25f) << "output written at " << i;
    }
    EXPECT_EQ(in.left, inBefore.left);
    EXPECT_EQ(in.right, inBefore.right);
    EXPECT_TRUE(finiteAndBounded(effect.render(sineMix(1024, 0.5f, 44100.0, 15), 512), kUnbounded));
}

TEST_P(CallOrderValidation, BlockLargerThanAnnouncedGivesTheSameResult)
{
    // Announce 64 frames, then process 8192 at once: the result must be what
    // processing the same stream in 64-frame blocks gives.
    const Stereo signal = sineMix(2 * 8192, 1.5f, 44100.0, 17);
    Effect large(GetParam());
    Effect small(GetParam());
    ASSERT_TRUE(large && small);
    large.start(44100.0f, 64);
    small.start(44100.0f, 64);
    const Stereo bigBlocks = large.render(signal, 8192);
    const Stereo smallBlocks = small.render(signal, 64);
    EXPECT_TRUE(finiteAndBounded(bigBlocks, outputCeiling(large, GetParam())));
    EXPECT_LE(maxDifference(bigBlocks, smallBlocks), 1e-5);
}

TEST_P(CallOrderValidation, RateAndBlockSizeChangesBetweenBlocksAreSafe)
{
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    effect.start(44100.0f, 512);
    const double ceiling = outputCeiling(effect, GetParam());
    struct Change
    {
        float rate;
        VstInt32 block;
        bool suspend;
    };
    const Change changes[] = {{48000.0f, 256, false}, {96000.0f, 1024, true}, {22050.0f, 100, false},
                              {44100.0f, 4096, true}, {48000.0f, 1, false},   {44100.0f, 512, true}};
    unsigned seed = 20;
    for (const Change& change : changes)
    {
        EXPECT_TRUE(finiteAndBounded(effect.render(sineMix(8 * 512, 2.0f, 44100.0, seed++), 512), ceiling));
        if (change.suspend)
            effect.suspend();
        effect.dispatch(effSetSampleRate, 0, 0, nullptr, change.rate);
        effect.dispatch(effSetBlockSize, 0, change.block);
        if (change.suspend)
            effect.resume();
        EXPECT_GE(effect.get()->initialDelay, 0);
        const VstInt32 block = std::max<VstInt32>(change.block, 64);
        EXPECT_TRUE(finiteAndBounded(effect.render(sineMix(static_cast<std::size_t>(4 * block), 2.0f, change.rate,
                                                           seed++),
                                                   change.block),
                                     ceiling))
            << "after changing to " << change.rate << " Hz, block " << change.block;
    }
}

TEST_P(CallOrderValidation, RepeatedSuspendAndResumeIsSafe)
{
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    effect.start(44100.0f, 512);
    const double ceiling = outputCeiling(effect, GetParam());
    const int cycles = scaled(60, 10);
    for (int i = 0; i < cycles; ++i)
    {
        effect.suspend();
        if (i % 3 == 0)
            effect.suspend(); // some hosts suspend twice
        effect.resume();
        if (i % 5 == 0)
            effect.resume();
        ASSERT_TRUE(finiteAndBounded(effect.render(sineMix(512, 2.0f, 44100.0, 100u + i), 512), ceiling))
            << "cycle " << i;
    }
}

TEST_P(CallOrderValidation, ManyInstancesAreCreatedAndClosed)
{
    const int together = scaled(16, 8);
    std::vector<std::unique_ptr<Effect>> effects;
    std::set<void*> objects;
    for (int i = 0; i < together; ++i)
    {
        effects.push_back(std::make_unique<Effect>(GetParam()));
        ASSERT_TRUE(*effects.back()) << "instance " << i;
        objects.insert(effects.back()->get()->object);
        effects.back()->start(44100.0f, 256);
    }
    EXPECT_EQ(objects.size(), static_cast<std::size_t>(together));
    const Stereo signal = sineMix(256, 1.0f, 44100.0, 31);
    for (auto& effect : effects)
        EXPECT_TRUE(finiteAndBounded(effect->render(signal, 256), kUnbounded));
    // Close in an order other than creation.
    for (int i = together - 1; i >= 0; i -= 2)
        effects[static_cast<std::size_t>(i)].reset();
    effects.clear();

    const int oneByOne = scaled(32, 6);
    for (int i = 0; i < oneByOne; ++i)
    {
        Effect effect(GetParam());
        ASSERT_TRUE(effect) << "instance " << i;
        if (i % 2 == 0)
            effect.start(i % 4 == 0 ? 44100.0f : 48000.0f, 128);
    }
}

TEST_P(CallOrderValidation, TwoInstancesProcessConcurrently)
{
    const std::size_t frames = static_cast<std::size_t>(scaled(200, 40)) * 512;
    const Stereo signals[2] = {sineMix(frames, 1.5f, 44100.0, 41), sineMix(frames, 0.7f, 44100.0, 42)};
    Stereo references[2];
    for (int k = 0; k < 2; ++k)
    {
        Effect reference(GetParam());
        ASSERT_TRUE(reference);
        reference.start(44100.0f, 512);
        references[k] = reference.render(signals[k], 512);
    }
    Effect a(GetParam());
    Effect b(GetParam());
    ASSERT_TRUE(a && b);
    a.start(44100.0f, 512);
    b.start(44100.0f, 512);
    Stereo results[2];
    std::thread first([&] { results[0] = a.render(signals[0], 512); });
    std::thread second([&] { results[1] = b.render(signals[1], 512); });
    first.join();
    second.join();
    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(maxDifference(results[k], references[k]), 0.0) << "instance " << k;
}

TEST_P(CallOrderValidation, ParameterChangesFromAnotherThreadAreSafe)
{
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    effect.start(44100.0f, 512);
    const VstInt32 count = effect.get()->numParams;
    const int blocks = scaled(200, 40);
    Stereo out;
    std::atomic<bool> done{false};
    std::thread audio([&] {
        out = effect.render(sineMix(static_cast<std::size_t>(blocks) * 512, 1.0f, 44100.0, 51), 512);
        done = true;
    });
    std::mt19937 random(52);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int sets = 0;
    while (!done && sets < scaled(400, 50))
    {
        const auto index = static_cast<VstInt32>(random() % static_cast<unsigned>(count));
        effect.setParameter(index, unit(random));
        (void)effect.getParameter(index);
        (void)effect.text(effGetParamDisplay, index);
        ++sets;
    }
    audio.join();
    EXPECT_TRUE(finiteAndBounded(out, kUnbounded));
}

TEST_P(CallOrderValidation, InPlaceProcessingMatchesSeparateBuffers)
{
    const Stereo signal = sineMix(40 * 512 + 100, 1.5f, 44100.0, 61);
    for (VstInt32 block : {512, 441})
    {
        Effect separate(GetParam());
        Effect inPlace(GetParam());
        ASSERT_TRUE(separate && inPlace);
        separate.start(44100.0f, 512);
        inPlace.start(44100.0f, 512);
        EXPECT_EQ(maxDifference(separate.render(signal, block), renderInPlace(inPlace, signal, block)), 0.0)
            << "block " << block;
    }
}

INSTANTIATE_TEST_SUITE_P(Plugins, CallOrderValidation, testing::ValuesIn(pluginsUnderTest()), pluginLabel);
