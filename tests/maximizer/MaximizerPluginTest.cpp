#include "MaximizerTestSupport.h"
#include "OrvexMaximizer.h"
#include "TestHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

using namespace MaximizerTest;

namespace
{
const audioMasterCallback modernHost = TestHost::hostCallback;
using TestHost::textOf;

// Runs the record's replacing (or accumulating) entry in seeded random blocks.
Stereo runRecord(AEffect* effect, const Stereo& in, unsigned seed, bool accumulate = false)
{
    std::mt19937 rng(seed);
    Stereo out(in.size());
    for (std::size_t pos = 0; pos < in.size();)
    {
        const int n = static_cast<int>(std::min<std::size_t>(1 + rng() % 3000, in.size() - pos));
        float* ins[2] = {const_cast<float*>(&in.left[pos]), const_cast<float*>(&in.right[pos])};
        float* outs[2] = {&out.left[pos], &out.right[pos]};
        (accumulate ? effect->process : effect->processReplacing)(effect, ins, outs, n);
        pos += static_cast<std::size_t>(n);
    }
    return out;
}

void expectIdentityAndPassThrough(AEffect* effect)
{
    ASSERT_NE(nullptr, effect);
    EXPECT_EQ(kEffectMagic, effect->magic);
    EXPECT_EQ(2, effect->numInputs);
    EXPECT_EQ(2, effect->numOutputs);
    EXPECT_EQ(OrvexMaximizer::kNumParameters, effect->numParams);
    EXPECT_EQ(effFlagsCanReplacing, effect->flags & (effFlagsCanReplacing | effFlagsHasEditor));
    EXPECT_EQ(fourCharCode('O', 'r', 'v', 'M'), effect->uniqueID);
    EXPECT_EQ(Limiter::kLatency, effect->initialDelay);
    EXPECT_EQ("Orvex Maximizer", textOf(effect, effGetEffectName));
    EXPECT_EQ("Orvex Maximizer", textOf(effect, effGetProductString));
    EXPECT_EQ("ylk", textOf(effect, effGetVendorString));

    const char* names[] = {"Thresh", "Ceiling", "Release", "Link", "TruePeak", "AutoRel"};
    const char* defaults[] = {"0.000000", "-0.10000", "100.0000", "100.0000", "Off", "Off"};
    for (VstInt32 i = 0; i < OrvexMaximizer::kNumParameters; ++i)
    {
        EXPECT_EQ(names[i], textOf(effect, effGetParamName, i));
        EXPECT_EQ(defaults[i], textOf(effect, effGetParamDisplay, i));
    }
    EXPECT_EQ("dB", textOf(effect, effGetParamLabel, OrvexMaximizer::kCeiling));
    EXPECT_EQ("ms", textOf(effect, effGetParamLabel, OrvexMaximizer::kRelease));

    // As the multiband host starts an instance.
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    effect->setParameter(effect, 15, 0.0f);
    const Stereo in = whiteNoise(20000, 0.95f, 81);
    const Stereo out = runRecord(effect, in, 82);
    for (int c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < in.size(); ++i)
            ASSERT_EQ(i < static_cast<std::size_t>(Limiter::kLatency) ? 0.0f : in[c][i - Limiter::kLatency],
                      out[c][i])
                << c << " " << i;
}
} // namespace

TEST(MaximizerPlugin, RecordIdentityParametersAndPassThrough)
{
    auto* effect = new OrvexMaximizer(modernHost);
    expectIdentityAndPassThrough(effect->getAeffect());
    effect->getAeffect()->dispatcher(effect->getAeffect(), effClose, 0, 0, nullptr, 0.0f);
}

TEST(MaximizerPlugin, ParameterRangesDisplaysAndForeignIndices)
{
    OrvexMaximizer effect(modernHost);
    AEffect* e = effect.getAeffect();
    struct Case
    {
        VstInt32 index;
        float value;
        const char* display;
    };
    const Case cases[] = {
        {OrvexMaximizer::kThreshold, 1.0f, "-30.0000"}, {OrvexMaximizer::kThreshold, 0.2f, "-6.00000"},
        {OrvexMaximizer::kCeiling, 0.0f, "-30.0000"},   {OrvexMaximizer::kCeiling, 1.0f, "0.000000"},
        {OrvexMaximizer::kRelease, 0.0f, "1.000000"},   {OrvexMaximizer::kRelease, 1.0f, "1000.000"},
        {OrvexMaximizer::kLink, 0.0f, "0.000000"},      {OrvexMaximizer::kLink, 2.5f, "100.0000"},
        {OrvexMaximizer::kTruePeak, 1.0f, "On"},        {OrvexMaximizer::kAutoRelease, 0.7f, "On"},
    };
    for (const Case& k : cases)
    {
        e->setParameter(e, k.index, k.value);
        EXPECT_EQ(std::min(k.value, 1.0f), e->getParameter(e, k.index));
        EXPECT_EQ(k.display, textOf(e, effGetParamDisplay, k.index)) << k.index << " at " << k.value;
    }
    e->setParameter(e, OrvexMaximizer::kLink, -1.0f);
    EXPECT_EQ(0.0f, e->getParameter(e, OrvexMaximizer::kLink));
    e->setParameter(e, OrvexMaximizer::kLink, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(0.0f, e->getParameter(e, OrvexMaximizer::kLink));

    // Indices outside the list: nothing stored, 0 answered, buffers untouched.
    for (VstInt32 index : {-1, 6, 15, 1000})
    {
        e->setParameter(e, index, 0.5f);
        EXPECT_EQ(0.0f, e->getParameter(e, index));
        for (VstInt32 opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay})
        {
            char buffer[16];
            std::memset(buffer, 'x', sizeof buffer);
            e->dispatcher(e, opcode, index, 0, buffer, 0.0f);
            EXPECT_EQ(std::string(16, 'x'), std::string(buffer, 16)) << opcode << " " << index;
        }
    }
}

TEST(MaximizerPlugin, LimitsThroughTheRecordAndSuspendClearsState)
{
    OrvexMaximizer effect(modernHost);
    AEffect* e = effect.getAeffect();
    e->setParameter(e, OrvexMaximizer::kThreshold, 0.4f); // drive by 12 dB
    e->setParameter(e, OrvexMaximizer::kCeiling, 0.9f);   // -3 dB
    e->setParameter(e, OrvexMaximizer::kRelease, 0.0f);   // 1 ms
    const Stereo loud = whiteNoise(20000, 4.0f, 91);
    const Stereo out = runRecord(e, loud, 92);
    EXPECT_LE(samplePeak(out), dbToGain(-3.0));
    EXPECT_GT(samplePeak(out), dbToGain(-3.1));

    // The accumulating entry adds the same result to what the outputs hold.
    e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    Stereo sum(loud.size());
    std::fill(sum.left.begin(), sum.left.end(), 0.25f);
    float* ins[2] = {const_cast<float*>(loud.left.data()), const_cast<float*>(loud.right.data())};
    float* sums[2] = {sum.left.data(), sum.right.data()};
    e->process(e, ins, sums, static_cast<VstInt32>(loud.size()));
    for (std::size_t i = 0; i < loud.size(); ++i)
    {
        ASSERT_EQ(0.25f + out.left[i], sum.left[i]) << i;
        ASSERT_EQ(out.right[i], sum.right[i]) << i;
    }

    // After suspend and resume, silence in is silence out at once.
    e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    const Stereo quiet = runRecord(e, Stereo(500), 93);
    EXPECT_EQ(0.0f, samplePeak(quiet));
    e->processReplacing(e, ins, sums, 0);
    e->processReplacing(e, nullptr, nullptr, 16);
}

TEST(MaximizerPlugin, ThresholdDrivesAndReleaseFollowsTheHostRate)
{
    {
        // A quiet tone driven by 12 dB stays below the ceiling: its gain is the drive.
        OrvexMaximizer effect(modernHost);
        AEffect* e = effect.getAeffect();
        e->setParameter(e, OrvexMaximizer::kThreshold, 0.4f);
        EXPECT_NEAR(samplePeak(runRecord(e, sine(20000, 0.01, 0.1f), 94)), 0.1 * dbToGain(12.0), 1e-4);
    }
    for (float rate : {44100.0f, 96000.0f})
    {
        OrvexMaximizer effect(modernHost);
        AEffect* e = effect.getAeffect();
        e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, rate);
        const auto process = [&](const Stereo& in) { return runRecord(e, in, 95); };
        EXPECT_NEAR(0.1, releaseSeconds(rate, 100.0f, process), 2.0 / rate) << "default release at " << rate << " Hz";
    }
}

TEST(MaximizerPlugin, ParametersAndRateChangeWhileAudioRuns)
{
    // Host threads write parameters and the sample rate while the audio thread
    // processes: the output must keep to the ceiling throughout (run under
    // ThreadSanitizer to check the hand-over).
    OrvexMaximizer effect(modernHost);
    AEffect* e = effect.getAeffect();
    e->setParameter(e, OrvexMaximizer::kCeiling, 0.8f); // -6 dB, never changed below
    std::atomic<bool> done{false};
    std::atomic<int> changes{0};
    std::thread host([&] {
        std::mt19937 rng(101);
        for (; !done.load(); ++changes)
        {
            const VstInt32 index = static_cast<VstInt32>(rng() % 6);
            if (index != OrvexMaximizer::kCeiling)
                e->setParameter(e, index, static_cast<float>(rng() % 1000) / 999.0f);
            e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, rng() % 2 ? 44100.0f : 96000.0f);
            char buffer[16];
            e->dispatcher(e, effGetParamDisplay, index, 0, buffer, 0.0f);
        }
    });
    // The changes start before the audio and go on until it ends: they overlap.
    const Stereo in = whiteNoise(100000, 8.0f, 102);
    while (changes.load() == 0)
        std::this_thread::yield();
    const Stereo out = runRecord(e, in, 103);
    done.store(true);
    host.join();
    EXPECT_LE(samplePeak(out), dbToGain(-6.0));
}

TEST(MaximizerPlugin, SharedObjectEntryPoints)
{
    void* library = TestHost::openLibrary(ORVEX_MAXIMIZER_PATH);
    ASSERT_NE(nullptr, library);
    auto entry = reinterpret_cast<VstPluginMainProc>(TestHost::librarySymbol(library, "VSTPluginMain"));
    auto legacy = reinterpret_cast<VstPluginMainProc>(TestHost::librarySymbol(library, "main"));
    ASSERT_NE(nullptr, entry);
    ASSERT_EQ(entry, legacy);
    EXPECT_EQ(nullptr, entry([](AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return 0; }));
    EXPECT_EQ(nullptr, entry(nullptr));
    AEffect* effect = entry(modernHost);
    expectIdentityAndPassThrough(effect);
    EXPECT_EQ(1, effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f));
    TestHost::closeLibrary(library);
}
