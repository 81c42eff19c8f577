// What comes out of the plug-ins: hostile input, truthful latency, no heap
// traffic on the audio thread, and denormal hygiene.
#include "AllocationCounter.h"
#include "ValidationHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#if defined(__SSE__) || defined(__x86_64__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>
#define ORVEX_VALIDATION_MXCSR 1
#endif

using namespace Validation;

namespace
{

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 44100.0;

Stereo quietSine(std::size_t frames)
{
    Stereo s(frames);
    for (std::size_t i = 0; i < frames; ++i)
    {
        s.left[i] = static_cast<float>(0.1 * std::sin(2 * kPi * 440.0 * static_cast<double>(i) / kRate));
        s.right[i] = static_cast<float>(0.1 * std::sin(2 * kPi * 660.0 * static_cast<double>(i) / kRate + 0.5));
    }
    return s;
}

enum class Hostile
{
    nanBurst,
    nanSingleSample,
    positiveInfinity,
    negativeInfinity,
    denormals,
    loudBurst
};

const char* nameOf(Hostile kind)
{
    switch (kind)
    {
    case Hostile::nanBurst: return "NaN burst";
    case Hostile::nanSingleSample: return "single NaN in the left channel";
    case Hostile::positiveInfinity: return "+Inf burst";
    case Hostile::negativeInfinity: return "-Inf burst";
    case Hostile::denormals: return "denormal burst";
    case Hostile::loudBurst: return "+60 dBFS burst";
    }
    return "?";
}

void spoil(Stereo& s, Hostile kind, std::size_t at, std::size_t length)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float tiny = std::numeric_limits<float>::denorm_min();
    for (std::size_t i = at; i < at + length; ++i)
    {
        const float loud = 1000.0f * static_cast<float>(std::sin(2 * kPi * 1000.0 * static_cast<double>(i) / kRate));
        const float value[] = {nan, nan, inf, -inf, (i % 2 ? 1.0f : -1.0f) * tiny * static_cast<float>(1 + i % 1000),
                               loud};
        s.left[i] = value[static_cast<int>(kind)];
        if (kind != Hostile::nanSingleSample)
            s.right[i] = value[static_cast<int>(kind)];
    }
}

class HostileInputValidation : public testing::TestWithParam<PluginInfo>
{
};

class LatencyValidation : public testing::TestWithParam<PluginInfo>
{
};

class RealtimeValidation : public testing::TestWithParam<PluginInfo>
{
};

} // namespace

TEST_P(HostileInputValidation, OutputStaysFiniteBoundedAndRecovers)
{
    const PluginInfo& plugin = GetParam();
    Effect clean(plugin);
    ASSERT_TRUE(clean);
    clean.start(static_cast<float>(kRate), 512);
    const double ceiling = outputCeiling(clean, plugin);
    const auto latency = static_cast<std::size_t>(std::max<VstInt32>(0, clean.get()->initialDelay));
    const std::size_t burstAt = 11025 + 77;
    const std::size_t burstLength = 2048;
    // After the burst the effect gets its latency plus 2 s to forget it; then
    // a quarter second is compared with the clean run.
    const std::size_t recovered = burstAt + burstLength + latency + 2 * static_cast<std::size_t>(kRate);
    const Stereo input = quietSine(recovered + 11025);
    const Stereo reference = clean.render(input, 512);
    ASSERT_EQ(firstViolation(reference, ceiling), -1);

    for (Hostile kind : {Hostile::nanBurst, Hostile::nanSingleSample, Hostile::positiveInfinity,
                         Hostile::negativeInfinity, Hostile::denormals, Hostile::loudBurst})
    {
        SCOPED_TRACE(nameOf(kind));
        Effect effect(plugin);
        ASSERT_TRUE(effect);
        effect.start(static_cast<float>(kRate), 512);
        Stereo spoiled = input;
        spoil(spoiled, kind, burstAt, kind == Hostile::nanSingleSample ? 1 : burstLength);
        const Stereo out = effect.render(spoiled, 512);
        const long bad = firstViolation(out, ceiling);
        EXPECT_EQ(bad, -1) << plugin.label << ", " << nameOf(kind) << ": sample " << bad << " is "
                           << (bad >= 0 ? out.left[static_cast<std::size_t>(bad)] : 0.0f) << " / "
                           << (bad >= 0 ? out.right[static_cast<std::size_t>(bad)] : 0.0f) << ", ceiling "
                           << ceiling;
        EXPECT_LE(maxDifference(out, reference, recovered), 1e-4)
            << plugin.label << ", " << nameOf(kind) << ": not back to the clean output " << (recovered - burstAt)
            << " samples after the burst began";
    }
}

// Runs a small impulse (no limiting) through a started effect in `block`-frame
// blocks and expects its peak, on both channels, exactly initialDelay later.
void expectImpulseAtReportedDelay(const Effect& effect, VstInt32 block, const std::string& where)
{
    const std::size_t position = 1333; // not a multiple of any block size used
    const VstInt32 delay = effect.get()->initialDelay;
    ASSERT_GE(delay, 0) << where;
    Stereo impulse(position + static_cast<std::size_t>(delay) + 2048);
    impulse.left[position] = 0.01f;
    impulse.right[position] = -0.01f;
    const Stereo out = effect.render(impulse, block);
    for (const std::vector<float>* channel : {&out.left, &out.right})
    {
        std::size_t peak = 0;
        for (std::size_t i = 0; i < channel->size(); ++i)
            if (std::fabs((*channel)[i]) > std::fabs((*channel)[peak]))
                peak = i;
        const char* side = channel == &out.left ? ", left" : ", right";
        EXPECT_EQ(peak, position + static_cast<std::size_t>(delay)) << where << ", initialDelay " << delay << side;
        EXPECT_GT(std::fabs((*channel)[peak]), 0.005f) << where << ": impulse lost" << side;
    }
}

TEST_P(LatencyValidation, ImpulseLandsAtTheReportedDelay)
{
    for (float rate : {44100.0f, 48000.0f})
        for (VstInt32 block : {1, 64, 441, 512, 1024, 4096})
        {
            Effect effect(GetParam());
            ASSERT_TRUE(effect);
            effect.start(rate, block);
            expectImpulseAtReportedDelay(effect, block, std::string(GetParam().label) + " at " +
                                                            std::to_string(rate) + " Hz, block " +
                                                            std::to_string(block));
        }
}

TEST_P(LatencyValidation, DelayStaysTruthfulAfterParameterChanges)
{
    // Every parameter moved to one value, as a preset change does; the host
    // reads initialDelay again at the resume that follows.
    for (float rate : {44100.0f, 48000.0f})
        for (float value : {1.0f, 0.75f})
        {
            Effect effect(GetParam());
            ASSERT_TRUE(effect);
            effect.start(rate, 512);
            effect.suspend();
            for (VstInt32 i = 0; i < effect.get()->numParams; ++i)
                effect.setParameter(i, value);
            effect.resume();
            expectImpulseAtReportedDelay(effect, 512, std::string(GetParam().label) + " at " +
                                                          std::to_string(rate) + " Hz, every parameter " +
                                                          std::to_string(value));
        }
}

TEST_P(RealtimeValidation, CountingSeesThePluginsOwnAllocations)
{
    if (!AllocationCounter::available())
        GTEST_SKIP() << "allocation counting needs Linux without sanitizers";
    void* (*volatile allocate)(std::size_t) = &std::malloc;
    AllocationCounter::start();
    void* block = allocate(32);
    AllocationCounter::stop();
    std::free(block);
    EXPECT_EQ(AllocationCounter::allocations(), 1);

    // Creating and starting an effect allocates inside the library; the
    // counter must see it, or the check below could never fail.
    AllocationCounter::start();
    {
        Effect effect(GetParam());
        effect.start(44100.0f, 512);
    }
    AllocationCounter::stop();
    EXPECT_GT(AllocationCounter::allocations(), 0);
    EXPECT_GT(AllocationCounter::frees(), 0);
}

TEST_P(RealtimeValidation, AudioThreadDoesNotAllocate)
{
    if (!AllocationCounter::available())
        GTEST_SKIP() << "allocation counting needs Linux without sanitizers";
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    effect.start(44100.0f, 512);
    Stereo in = sineMix(512, 1.5f, kRate, 71);
    Stereo out(512);
    float* inputs[2] = {in.left.data(), in.right.data()};
    float* outputs[2] = {out.left.data(), out.right.data()};
    AEffect* e = effect.get();
    for (int i = 0; i < 8; ++i)
        e->processReplacing(e, inputs, outputs, 512);
    // The multiband effect's crossover moves now and then, outside the
    // counting: taking over a design, catching up and crossfading, and growing
    // the delay happen in the counted blocks.
    const bool multiband = e->numParams == 49;
    const std::pair<int, float> moves[] = {{4, 0.3f}, {2, 1.0f}, {4, 0.2f}, {7, 0.6f}};
    long allocations = 0, frees = 0;
    for (const auto& [index, value] : moves)
    {
        if (multiband)
            e->setParameter(e, index, value);
        AllocationCounter::start();
        for (int i = 0; i < 50; ++i)
            e->processReplacing(e, inputs, outputs, 512);
        AllocationCounter::stop();
        allocations += AllocationCounter::allocations();
        frees += AllocationCounter::frees();
    }
    EXPECT_EQ(allocations, 0) << GetParam().label << " allocates on the audio thread";
    EXPECT_EQ(frees, 0) << GetParam().label << " frees on the audio thread";
}

#if defined(ORVEX_VALIDATION_MXCSR)
TEST_P(RealtimeValidation, CallerFloatingPointModeIsLeftAsFound)
{
    constexpr unsigned kStatusFlags = 0x3Fu; // sticky exception flags a plug-in may raise
    constexpr unsigned kDefaultMode = 0x1F80u;
    constexpr unsigned kFlushModes = 0x8040u; // flush-to-zero and denormals-are-zero
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    effect.start(44100.0f, 512);
    Stereo in = sineMix(512, 1.5f, kRate, 81);
    Stereo out(512);
    for (unsigned mode : {kDefaultMode, kDefaultMode | kFlushModes, kDefaultMode | 0x8000u})
    {
        const unsigned saved = _mm_getcsr();
        _mm_setcsr(mode);
        effect.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 512);
        const unsigned afterProcess = _mm_getcsr();
        _mm_setcsr(mode);
        effect.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
        effect.setParameter(0, 0.3f);
        const unsigned afterDispatch = _mm_getcsr();
        _mm_setcsr(saved);
        EXPECT_EQ(afterProcess & ~kStatusFlags, mode) << std::hex << "processReplacing changed MXCSR " << mode;
        EXPECT_EQ(afterDispatch & ~kStatusFlags, mode) << std::hex << "dispatcher/setParameter changed MXCSR " << mode;
    }
}
#endif

TEST_P(RealtimeValidation, SilenceAfterLoudSignalHoldsNoDenormals)
{
#if defined(ORVEX_VALIDATION_MXCSR)
    // The caller computes with denormals enabled, as most hosts do.
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved & ~0x8040u);
#endif
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    effect.start(static_cast<float>(kRate), 512);
    effect.render(sineMix(static_cast<std::size_t>(kRate), 2.0f, kRate, 91), 512);
    const Stereo silence(static_cast<std::size_t>(scaled(4, 2)) * static_cast<std::size_t>(kRate));
    const Stereo out = effect.render(silence, 512);
#if defined(ORVEX_VALIDATION_MXCSR)
    _mm_setcsr(saved);
#endif
    long denormals = 0;
    long first = -1;
    for (std::size_t i = 0; i < out.size(); ++i)
        for (float x : {out.left[i], out.right[i]})
            if (std::fpclassify(x) == FP_SUBNORMAL)
            {
                ++denormals;
                if (first < 0)
                    first = static_cast<long>(i);
            }
    EXPECT_EQ(denormals, 0) << GetParam().label << ": first denormal output at sample " << first;
    EXPECT_EQ(std::fabs(out.left.back()) + std::fabs(out.right.back()), 0.0f) << "silence does not decay to zero";
}

INSTANTIATE_TEST_SUITE_P(Plugins, HostileInputValidation, testing::ValuesIn(pluginsUnderTest()), pluginLabel);
INSTANTIATE_TEST_SUITE_P(Plugins, LatencyValidation, testing::ValuesIn(pluginsUnderTest()), pluginLabel);
INSTANTIATE_TEST_SUITE_P(Plugins, RealtimeValidation, testing::ValuesIn(pluginsUnderTest()), pluginLabel);
