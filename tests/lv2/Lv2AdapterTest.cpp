// The LV2 adapter driving a recording effect (doubles its input, logs every
// parameter store): what reaches the effect, in which block sizes, and what
// the latency port says.
#include "lv2/Lv2Effect.h"
#include "vst/TestEffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace
{
EffectLog effectLog;
TestEffect* lastEffect = nullptr;

AEffect* ORVEX_VSTCALL testEntry(audioMasterCallback host)
{
    lastEffect = new TestEffect(host, effectLog);
    return lastEffect->getAeffect();
}

// The multiband table has the recording effect's 49 parameters.
struct Rig
{
    // Cleared before the adapter below opens the effect.
    int logCleared = (effectLog = EffectLog{}, 0);
    const PluginDescription& plugin = multibandDescription();
    Lv2Effect lv2{plugin, &testEntry, 48000.0};
    std::vector<float> controls;
    float latency = -1.0f;

    explicit Rig(Lv2Effect::Scheduler scheduler = nullptr, void* context = nullptr)
    {
        lv2.setScheduler(scheduler, context);
        for (std::uint32_t i = 0; i < plugin.controlCount(); ++i)
            controls.push_back(plugin.controls[i].defaultValue);
        for (std::uint32_t i = 0; i < plugin.controlCount(); ++i)
            lv2.connectPort(i, &controls[i]);
        lv2.connectPort(plugin.latencyPort(), &latency);
        lv2.activate();
    }
    // Runs `frames` frames in place through one buffer per channel.
    void runInPlace(std::vector<float>& left, std::vector<float>& right)
    {
        lv2.connectPort(plugin.audioInput(0), left.data());
        lv2.connectPort(plugin.audioOutput(0), left.data());
        lv2.connectPort(plugin.audioInput(1), right.data());
        lv2.connectPort(plugin.audioOutput(1), right.data());
        lv2.run(static_cast<std::uint32_t>(left.size()));
    }
};

TEST(Lv2Adapter, ControlsReachTheEffectOnceAndThenOnlyWhenTheyChange)
{
    Rig rig;
    std::vector<float> left(64), right(64);
    rig.runInPlace(left, right);
    ASSERT_EQ(effectLog.parameterSets.size(), rig.plugin.controlCount());
    for (std::size_t i = 0; i < effectLog.parameterSets.size(); ++i)
        EXPECT_EQ(effectLog.parameterSets[i].first, static_cast<VstInt32>(i));

    effectLog.parameterSets.clear();
    rig.runInPlace(left, right);
    rig.runInPlace(left, right);
    EXPECT_TRUE(effectLog.parameterSets.empty());

    // One changed control, one NaN (ignored), one set back to the value it had.
    rig.controls[4] = 1500.0f;
    rig.controls[7] = std::numeric_limits<float>::quiet_NaN();
    rig.runInPlace(left, right);
    rig.controls[7] = rig.plugin.controls[7].defaultValue;
    rig.runInPlace(left, right);
    ASSERT_EQ(effectLog.parameterSets.size(), 1u);
    EXPECT_EQ(effectLog.parameterSets[0].first, 4);
}

TEST(Lv2Adapter, WithAWorkerControlChangesLeaveRunAndReachTheEffectFromTheWorker)
{
    // A worker that takes changes while it has room, as a host's ring does.
    struct Worker
    {
        std::vector<Lv2Effect::ControlChange> queued;
        std::size_t room = 1000;
        static bool take(void* self, const Lv2Effect::ControlChange& change)
        {
            auto* worker = static_cast<Worker*>(self);
            if (worker->queued.size() >= worker->room)
                return false;
            worker->queued.push_back(change);
            return true;
        }
    } worker;
    // The controls at activation are the stream's initial state: they reach
    // the effect at once, before its resume, even with a worker.
    effectLog.parameterSets.clear();
    Rig rig(&Worker::take, &worker);
    EXPECT_EQ(effectLog.parameterSets.size(), rig.plugin.controlCount());
    std::vector<float> left(64), right(64);
    rig.runInPlace(left, right);
    EXPECT_TRUE(worker.queued.empty());
    effectLog.parameterSets.clear();

    // A change the worker has no room for is offered again at the next run.
    worker.queued.clear();
    worker.room = 0;
    rig.controls[4] = 1500.0f;
    rig.runInPlace(left, right);
    EXPECT_TRUE(worker.queued.empty());
    worker.room = 1000;
    rig.runInPlace(left, right);
    ASSERT_EQ(worker.queued.size(), 1u);
    EXPECT_EQ(worker.queued[0].index, 4);
    EXPECT_TRUE(effectLog.parameterSets.empty());
    rig.lv2.applyScheduled(worker.queued[0]);
    ASSERT_EQ(effectLog.parameterSets.size(), 1u);
    EXPECT_EQ(effectLog.parameterSets[0].first, 4);
    EXPECT_EQ(effectLog.parameterSets[0].second, worker.queued[0].value);
}

TEST(Lv2Adapter, AnyBlockSizeInPlaceWithTheLatencyOfTheRecordAfterEveryRun)
{
    Rig rig;
    int expectedCalls = 0;
    for (std::uint32_t frames : {0u, 1u, 511u, Lv2Effect::kMaxChunk, Lv2Effect::kMaxChunk + 1, 5000u})
    {
        std::vector<float> left(frames), right(frames);
        for (std::uint32_t i = 0; i < frames; ++i)
        {
            left[i] = static_cast<float>(i);
            right[i] = -static_cast<float>(i);
        }
        // The latency may change between any two runs.
        lastEffect->setInitialDelay(static_cast<VstInt32>(frames) + 3);
        rig.runInPlace(left, right);
        expectedCalls += static_cast<int>((frames + Lv2Effect::kMaxChunk - 1) / Lv2Effect::kMaxChunk);
        EXPECT_EQ(effectLog.replacingCalls, expectedCalls) << frames;
        EXPECT_EQ(rig.latency, static_cast<float>(frames + 3));
        for (std::uint32_t i = 0; i < frames; ++i)
        {
            ASSERT_EQ(left[i], 2.0f * static_cast<float>(i)) << frames << " frames, at " << i;
            ASSERT_EQ(right[i], -2.0f * static_cast<float>(i)) << frames << " frames, at " << i;
        }
    }
}

TEST(Lv2Adapter, OpensResumesSuspendsAndClosesTheEffectOnce)
{
    {
        Rig rig;
        rig.lv2.activate();
        rig.lv2.deactivate();
        rig.lv2.activate();
        EXPECT_EQ(effectLog.opens, 1);
        EXPECT_EQ(effectLog.resumes, 2);
        EXPECT_EQ(effectLog.suspends, 1);
    }
    EXPECT_EQ(effectLog.suspends, 2);
    EXPECT_EQ(effectLog.closes, 1);
    EXPECT_EQ(effectLog.destructions, 1);
}

TEST(Lv2Adapter, RefusesAnEffectThatDoesNotMatchTheTable)
{
    effectLog = EffectLog{};
    // The maximizer's table has 6 controls; the recording effect has 49.
    Lv2Effect lv2(maximizerDescription(), &testEntry, 48000.0);
    EXPECT_FALSE(lv2.isOpen());
    EXPECT_EQ(effectLog.destructions, 1);
    Lv2Effect noRate(multibandDescription(), &testEntry, 0.0);
    EXPECT_FALSE(noRate.isOpen());
}
} // namespace
