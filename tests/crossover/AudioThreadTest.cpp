// The rules that keep the audio thread safe fire when broken (debug builds,
// where their checks are compiled in).
#include "crossover/AudioThread.h"
#include "crossover/BandSplitter.h"
#include "crossover/Crossover.h"

#include <gtest/gtest.h>

#include <functional>

TEST(AudioThreadRules, EachCheckFiresWhenItsRuleIsBroken)
{
#ifdef NDEBUG
    GTEST_SKIP() << "the checks are compiled into debug builds only";
#else
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    const struct
    {
        const char* rule;
        std::function<void()> breakIt;
    } cases[] = {
        {"the audio thread destroys nothing",
         [] {
             auto splitter = std::make_unique<BandSplitter>();
             AudioThread::Scope audio;
             splitter.reset();
         }},
        {"only publishing hands objects on",
         [] {
             Crossover crossover;
             Crossover::Garbage garbage;
             AudioThread::Scope audio;
             crossover.restart(garbage);
         }},
        {"one pending update",
         [] {
             PendingSlot<int> slot;
             slot.put(std::make_unique<int>(1));
             slot.put(std::make_unique<int>(2));
         }},
        {"retired lists are bounded",
         [] {
             RetiredList<int> retired;
             retired.reserve(2);
             for (int i = 0; i < 3; ++i)
                 retired.retire(std::make_unique<int>(i));
         }},
    };
    for (const auto& c : cases)
        EXPECT_DEATH(c.breakIt(), "") << c.rule;
#endif
}

TEST(AudioThreadRules, KeptRulesDoNotFire)
{
    RetiredList<int> retired;
    retired.reserve(2);
    retired.retire(std::make_unique<int>(1));
    retired.retire(nullptr);
    std::vector<std::unique_ptr<int>> freed;
    retired.handOver(freed);
    EXPECT_EQ(freed.size(), 1u);
    EXPECT_EQ(retired.size(), 0u);
    PendingSlot<int> slot;
    slot.put(std::make_unique<int>(1));
    EXPECT_EQ(*slot.take(), 1);
    slot.put(std::make_unique<int>(2));
    EXPECT_TRUE(static_cast<bool>(slot));
}
