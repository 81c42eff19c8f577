// Speaker-arrangement tools: allocation, release, speaker copies and matching.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

class SpeakerArrangementTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        effect.deallocateArrangement(&first);
        effect.deallocateArrangement(&second);
    }

    // A speaker whose every field is distinct, derived from n.
    static void fillSpeaker(VstSpeakerProperties& speaker, int n)
    {
        speaker.azimuth = 0.5f * static_cast<float>(n);
        speaker.elevation = -0.25f * static_cast<float>(n);
        speaker.radius = 1.0f + static_cast<float>(n);
        speaker.reserved = 3.0f * static_cast<float>(n);
        const std::string name = "Speaker " + std::to_string(n);
        std::memset(speaker.name, 0, sizeof speaker.name);
        std::memcpy(speaker.name, name.c_str(), name.size());
        speaker.type = 100 + n;
        for (std::size_t i = 0; i < sizeof speaker.future; ++i)
            speaker.future[i] = static_cast<char>(n + static_cast<int>(i));
    }

    static void expectSameSpeaker(const VstSpeakerProperties& a, const VstSpeakerProperties& b)
    {
        EXPECT_EQ(a.azimuth, b.azimuth);
        EXPECT_EQ(a.elevation, b.elevation);
        EXPECT_EQ(a.radius, b.radius);
        EXPECT_EQ(a.reserved, b.reserved);
        EXPECT_STREQ(a.name, b.name);
        EXPECT_EQ(a.type, b.type);
        EXPECT_EQ(std::memcmp(a.future, b.future, sizeof a.future), 0);
    }

    EffectLog log;
    TestEffect effect{nullptr, log};
    VstSpeakerArrangement* first = nullptr;
    VstSpeakerArrangement* second = nullptr;
};

TEST_F(SpeakerArrangementTest, AllocateGivesZeroedBlock)
{
    for (VstInt32 channels : {0, 1, 2, 8, 13}) {
        ASSERT_TRUE(effect.allocateArrangement(&first, channels)); // releases the previous one
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->type, 0);
        EXPECT_EQ(first->numChannels, channels);
        const auto* bytes = reinterpret_cast<const unsigned char*>(speakerAt(first, 0));
        const std::size_t entryBytes = static_cast<std::size_t>(channels) * sizeof(VstSpeakerProperties);
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < entryBytes; ++i)
            nonZero += bytes[i] != 0 ? 1u : 0u;
        EXPECT_EQ(nonZero, 0u);
    }
}

TEST_F(SpeakerArrangementTest, FailedAllocationLeavesPlaceNull)
{
    ASSERT_TRUE(effect.allocateArrangement(&first, 2));
    EXPECT_FALSE(effect.allocateArrangement(&first, -1));
    EXPECT_EQ(first, nullptr);
    EXPECT_FALSE(effect.allocateArrangement(nullptr, 2));
}

TEST_F(SpeakerArrangementTest, DeallocateAlwaysAnswersTrue)
{
    ASSERT_TRUE(effect.allocateArrangement(&first, 4));
    EXPECT_TRUE(effect.deallocateArrangement(&first));
    EXPECT_EQ(first, nullptr);
    EXPECT_TRUE(effect.deallocateArrangement(&first));
    EXPECT_TRUE(effect.deallocateArrangement(nullptr));
}

TEST_F(SpeakerArrangementTest, CopySpeaker)
{
    VstSpeakerProperties from{};
    VstSpeakerProperties to{};
    fillSpeaker(from, 7);
    EXPECT_TRUE(effect.copySpeaker(&to, &from));
    expectSameSpeaker(to, from);

    // A name filling all 64 bytes is cut to 63 characters and terminated.
    std::memset(from.name, 'n', sizeof from.name);
    EXPECT_TRUE(effect.copySpeaker(&to, &from));
    EXPECT_EQ(std::string(to.name), std::string(63, 'n'));

    EXPECT_TRUE(effect.copySpeaker(&to, &to));
    EXPECT_FALSE(effect.copySpeaker(nullptr, &from));
    EXPECT_FALSE(effect.copySpeaker(&to, nullptr));
}

TEST_F(SpeakerArrangementTest, MatchCopiesEveryChannel)
{
    for (VstInt32 channels : {3, 12}) {
        ASSERT_TRUE(effect.allocateArrangement(&first, channels));
        first->type = 40 + channels;
        for (VstInt32 i = 0; i < channels; ++i)
            fillSpeaker(*speakerAt(first, i), i + channels);

        ASSERT_TRUE(effect.matchArrangement(&second, first)); // replaces any earlier arrangement
        ASSERT_NE(second, nullptr);
        ASSERT_NE(second, first);
        EXPECT_EQ(second->type, first->type);
        ASSERT_EQ(second->numChannels, channels);
        for (VstInt32 i = 0; i < channels; ++i)
            expectSameSpeaker(*speakerAt(second, i), *speakerAt(first, i));
    }
}

TEST_F(SpeakerArrangementTest, MatchWithNullSourceLeavesDestination)
{
    ASSERT_TRUE(effect.allocateArrangement(&first, 2));
    VstSpeakerArrangement* const before = first;
    EXPECT_FALSE(effect.matchArrangement(&first, nullptr));
    EXPECT_EQ(first, before);
    EXPECT_EQ(first->numChannels, 2);
}

TEST_F(SpeakerArrangementTest, MatchWithItselfKeepsIt)
{
    ASSERT_TRUE(effect.allocateArrangement(&first, 2));
    fillSpeaker(*speakerAt(first, 1), 5);
    VstSpeakerArrangement* const source = first;
    EXPECT_TRUE(effect.matchArrangement(&first, source));
    EXPECT_EQ(first, source);
    EXPECT_EQ(speakerAt(first, 1)->type, 105);
}

TEST_F(SpeakerArrangementTest, MatchWithBadChannelCountFails)
{
    VstSpeakerArrangement bad{};
    bad.numChannels = -3;
    ASSERT_TRUE(effect.allocateArrangement(&first, 2));
    EXPECT_FALSE(effect.matchArrangement(&first, &bad));
    EXPECT_EQ(first, nullptr);
}

} // namespace
