// Number-to-text conversions: the documented examples, an exact-decimal
// reference for random values, and the fixed-length buffer rule.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace
{

class TextConversionTest : public ::testing::Test
{
protected:
    std::string intText(VstInt32 value, VstInt32 maxLen = 8) { return run([&](char* t) { effect.int2string(value, t, maxLen); }, maxLen); }
    std::string floatText(float value, VstInt32 maxLen = 8) { return run([&](char* t) { effect.float2string(value, t, maxLen); }, maxLen); }
    std::string dBText(float value) { return run([&](char* t) { effect.dB2string(value, t, 8); }, 8); }
    std::string hzText(float samples) { return run([&](char* t) { effect.Hz2string(samples, t, 8); }, 8); }
    std::string msText(float samples) { return run([&](char* t) { effect.ms2string(samples, t, 8); }, 8); }

    // Runs a conversion into a buffer with a guard byte after index maxLen and
    // checks the buffer rule: terminator at maxLen, zero fill, guard untouched.
    template <typename Convert>
    std::string run(Convert convert, VstInt32 maxLen)
    {
        std::string buffer(static_cast<std::size_t>(maxLen) + 2, 'x');
        convert(&buffer[0]);
        const std::size_t length = std::strlen(buffer.c_str());
        EXPECT_LE(length, static_cast<std::size_t>(maxLen));
        for (std::size_t i = length; i <= static_cast<std::size_t>(maxLen); ++i)
            EXPECT_EQ(buffer[i], '\0') << "byte " << i;
        EXPECT_EQ(buffer[static_cast<std::size_t>(maxLen) + 1], 'x') << "wrote past maxLen";
        return buffer.substr(0, length);
    }

    EffectLog log;
    TestEffect effect{nullptr, log};
};

struct IntExample
{
    VstInt32 value;
    const char* text;
};

TEST_F(TextConversionTest, IntExamples)
{
    const IntExample examples[] = {
        {-12, "-12"}, {-96, "-96"}, {-24, "-24"}, {7, "7"}, {12345, "12345"}, {99999999, "99999999"},
        {100000000, "Huge!"}, {0, "0"}, {10, "10"}, {100, "100"}, {-1, "-1"}, {1000001, "1000001"},
        {std::numeric_limits<VstInt32>::max(), "Huge!"},
        // Beyond what nine digits hold on the negative side, too.
        {-1000000000, "Huge!"}, {std::numeric_limits<VstInt32>::min(), "Huge!"},
    };
    for (const IntExample& e : examples)
        EXPECT_EQ(intText(e.value), e.text) << e.value;
    EXPECT_EQ(intText(-999999999, 16), "-999999999");
    EXPECT_EQ(intText(-999999999, 8), "-9999999");
}

TEST_F(TextConversionTest, IntMatchesStandardFormatting)
{
    std::mt19937 random(1234);
    std::uniform_int_distribution<VstInt32> value(-999999999, 99999999);
    for (int i = 0; i < 2000; ++i) {
        const VstInt32 v = value(random);
        const std::string expected = std::to_string(v);
        EXPECT_EQ(intText(v, 16), expected);
        EXPECT_EQ(intText(v, 5), expected.substr(0, 5));
    }
}

struct FloatExample
{
    float value;
    const char* text;
};

TEST_F(TextConversionTest, FloatExamples)
{
    const FloatExample examples[] = {
        {0.0f, "0.000000"},     {0.5f, "0.500000"},     {0.7f, "0.699999"},     {1.0f, "1.000000"},
        {12.5f, "12.50000"},    {200.0f, "200.0000"},   {1000.0f, "1000.000"},  {10000.0f, "10000.00"},
        {22050.0f, "22050.00"}, {12345.678f, "12345.67"}, {1234567.0f, "1234567."}, {-0.5f, "-0.50000"},
        {-12.0f, "-12.0000"},   {-123456.0f, "-123456."}, {-10000000.0f, "Huge!"}, {100000000.0f, "Huge!"},
        {-0.0f, "0.000000"},
    };
    for (const FloatExample& e : examples)
        EXPECT_EQ(floatText(e.value), e.text) << e.value;
    EXPECT_EQ(floatText(1000.0f, 4), "1000");
}

// Integer parts too long for the point keep all their digits instead of losing the first.
TEST_F(TextConversionTest, FloatLongIntegerParts)
{
    EXPECT_EQ(floatText(12345678.0f), "12345678");
    EXPECT_EQ(floatText(99999992.0f), "99999992");
    EXPECT_EQ(floatText(10000000.0f), "10000000");
    EXPECT_EQ(floatText(-1234567.0f), "-1234567");
    EXPECT_EQ(floatText(-9999999.0f), "-9999999");
    EXPECT_EQ(floatText(std::numeric_limits<float>::infinity()), "Huge!");
    EXPECT_EQ(floatText(-std::numeric_limits<float>::infinity()), "Huge!");
    EXPECT_EQ(floatText(std::nanf("")), "NaN");
}

// The conversion cuts the exact decimal value of the float to eight characters.
std::string truncatedDecimal(float value)
{
    char exact[128];
    std::snprintf(exact, sizeof exact, "%.40f", static_cast<double>(std::fabs(value)));
    std::string digits = exact;
    const std::string sign = value < 0.0f ? "-" : "";
    const std::size_t point = digits.find('.');
    if (sign.size() + point + 1 > 8)
        return sign + digits.substr(0, point);
    return (sign + digits).substr(0, 8);
}

TEST_F(TextConversionTest, FloatMatchesExactDecimalTruncation)
{
    std::mt19937 random(42);
    std::uniform_real_distribution<double> exponent(-7.0, 7.9);
    for (int i = 0; i < 20000; ++i) {
        float value = static_cast<float>(std::pow(10.0, exponent(random)));
        if (i % 2 == 1)
            value = -value;
        if (value <= -9999999.0f)
            continue;
        ASSERT_EQ(floatText(value), truncatedDecimal(value)) << value;
    }
}

TEST_F(TextConversionTest, DecibelExamples)
{
    EXPECT_EQ(dBText(1.0f), "0.000000");
    EXPECT_EQ(dBText(0.5f), "-6.02059");
    EXPECT_EQ(dBText(2.0f), "6.020599");
    EXPECT_EQ(dBText(0.001f), "-60.0000");
    EXPECT_EQ(dBText(0.0f), "-oo");
    EXPECT_EQ(dBText(-1.0f), "-oo");
}

TEST_F(TextConversionTest, HertzAndMilliseconds)
{
    EXPECT_EQ(hzText(0.0f), "0.000000");
    EXPECT_EQ(hzText(100.0f), "441.0000");
    EXPECT_EQ(msText(441.0f), "10.00000");
    EXPECT_EQ(msText(0.0f), "0.000000");
    effect.setSampleRate(48000.0f);
    EXPECT_EQ(hzText(480.0f), "100.0000");
    EXPECT_EQ(msText(48.0f), "1.000000");
}

// dB2string, Hz2string and ms2string go through the virtual float2string and getSampleRate.
TEST(TextConversionRouting, UsesOverriddenOperations)
{
    struct Custom : AudioEffectX
    {
        Custom() : AudioEffectX(nullptr, 1, 1) {}
        void processReplacing(float**, float**, VstInt32) override {}
        float getSampleRate() override { return 1000.0f; }
        void float2string(float value, char* text, VstInt32 maxLen) override
        {
            lastValue = value;
            AudioEffectX::float2string(value, text, maxLen);
        }
        float lastValue = -1.0f;
    } custom;
    char text[9];
    custom.Hz2string(10.0f, text, 8);
    EXPECT_EQ(custom.lastValue, 100.0f);
    custom.ms2string(10.0f, text, 8);
    EXPECT_EQ(custom.lastValue, 10.0f);
    custom.dB2string(10.0f, text, 8);
    EXPECT_EQ(custom.lastValue, 20.0f);
    EXPECT_STREQ(text, "20.00000");
}

TEST_F(TextConversionTest, EveryLengthLimitIsAPrefix)
{
    const float values[] = {0.7f, -12.0f, 12345.678f, 100000000.0f, -0.5f};
    for (float value : values) {
        const std::string full = floatText(value, 32);
        for (VstInt32 maxLen = 0; maxLen <= 10; ++maxLen)
            EXPECT_EQ(floatText(value, maxLen), full.substr(0, static_cast<std::size_t>(maxLen)));
    }
    for (VstInt32 maxLen = 0; maxLen <= 10; ++maxLen) {
        EXPECT_EQ(intText(-1234567, maxLen), std::string("-1234567").substr(0, static_cast<std::size_t>(maxLen)));
        EXPECT_EQ(intText(200000000, maxLen), std::string("Huge!").substr(0, static_cast<std::size_t>(maxLen)));
    }
}

TEST_F(TextConversionTest, NullTextAndNegativeLimitWriteNothing)
{
    effect.int2string(12, nullptr, 8);
    effect.float2string(1.0f, nullptr, 8);
    effect.dB2string(0.0f, nullptr, 8);
    effect.Hz2string(10.0f, nullptr, 8);
    effect.ms2string(10.0f, nullptr, 8);
    char text[4] = {'a', 'b', 'c', 'd'};
    effect.float2string(1.0f, text, -1);
    effect.int2string(1, text, -5);
    EXPECT_EQ(std::string(text, 4), "abcd");
}

} // namespace
