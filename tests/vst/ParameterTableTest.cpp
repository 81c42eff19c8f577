// The parameter records on their own: the crossover curve against its
// formula, the slope steps, and every record's conversions against each
// other and against the defaults saved projects hold.
#include "vst/ParameterTable.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

namespace
{
const float kDefaultFreq[] = {0.0403946452f, 0.189761207f, 0.572167218f, 0.885757864f};

TEST(CrossoverMapping, FrequencyFollowsTheLogarithmicLaw)
{
    for (float fs : {44100.0f, 48000.0f, 96000.0f})
        for (float x : {0.0f, kDefaultFreq[0], kDefaultFreq[1], 0.5f, kDefaultFreq[2], kDefaultFreq[3], 1.0f})
        {
            const double argument = 0.999 - 0.988 * double(x);
            const double expected = -(double(fs) / 4) * std::log10(argument);
            // The single-precision constants and product move the argument by a few float ulps.
            const double tol = double(fs) / 4 * 4 * FLT_EPSILON / (argument * std::log(10.0));
            EXPECT_NEAR(crossoverFrequencyHz(x, fs), expected, tol) << "x " << x << " fs " << fs;
            EXPECT_NEAR(ParameterTable::multiband()[1].valueOf(x, fs), expected, tol) << "x " << x << " fs " << fs;
        }
    EXPECT_NEAR(crossoverFrequencyHz(0.0f, 44100.0f), 4.79, 0.01);
    EXPECT_NEAR(crossoverFrequencyHz(1.0f, 44100.0f), 21593.6, 0.1);
    // Host values outside 0..1 are clamped; NaN counts as 0.
    const float fs = 44100.0f;
    EXPECT_EQ(crossoverFrequencyHz(1.5f, fs), crossoverFrequencyHz(1.0f, fs));
    EXPECT_EQ(crossoverFrequencyHz(1e30f, fs), crossoverFrequencyHz(1.0f, fs));
    EXPECT_EQ(crossoverFrequencyHz(-0.2f, fs), crossoverFrequencyHz(0.0f, fs));
    EXPECT_EQ(crossoverFrequencyHz(std::numeric_limits<float>::quiet_NaN(), fs), crossoverFrequencyHz(0.0f, fs));
}

TEST(CrossoverMapping, SlopeSteps)
{
    const float inf = std::numeric_limits<float>::infinity();
    const struct
    {
        float x;
        int step;
    } cases[] = {{0.0f, 1}, {0.21428572f, 2}, {0.2f, 2},  {0.25f, 2}, {0.3f, 3},  {std::nextafter(1.0f, 0.0f), 7},
                 {1.0f, 8}, {1.5f, 8},        {1e30f, 8}, {inf, 8},   {-0.2f, 1}, {-inf, 1},
                 {std::numeric_limits<float>::quiet_NaN(), 1}};
    for (const auto& c : cases)
        EXPECT_EQ(slopeStep(c.x), c.step) << c.x;
}

// The normalised defaults are what hosts have saved all along, bit for bit.
TEST(ParameterTable, DefaultsAreTheSavedOnes)
{
    const std::vector<Parameter>& multiband = ParameterTable::multiband();
    for (int k = 0; k < 4; ++k)
    {
        EXPECT_EQ(multiband[3 * k].defaultNormalised(), 1.0f);
        EXPECT_EQ(multiband[3 * k + 1].defaultNormalised(), kDefaultFreq[k]) << k;
        EXPECT_EQ(multiband[3 * k + 2].defaultNormalised(), 0.21428572f) << k;
    }
    const float maximizer[] = {0.0f, (-0.1f + 30.0f) / 30.0f, 2.0f / 3.0f, 1.0f, 0.0f, 0.0f};
    for (int i = 0; i < ParameterTable::kMaximizerCount; ++i)
        EXPECT_EQ(ParameterTable::maximizer()[static_cast<std::size_t>(i)].defaultNormalised(), maximizer[i]) << i;
}

// Every record: the default in its unit is what the normalised default
// stands for, and the inverse finds the normalised value back.
TEST(ParameterTable, EachCurveAndItsInverseAgree)
{
    for (const auto* list : {&ParameterTable::multiband(), &ParameterTable::maximizer()})
        for (const Parameter& p : *list)
        {
            EXPECT_NEAR(p.valueOf(p.defaultNormalised(), Parameter::kDefaultRate), p.defaultValue,
                        1e-6 * std::fabs(p.defaultValue) + 1e-3)
                << p.name;
            for (float fs : {44100.0f, 96000.0f})
                for (float x : {0.0f, 0.1f, 0.37f, 0.5f, 0.93f, 1.0f})
                {
                    const double value = p.valueOf(x, fs);
                    const float back = static_cast<float>(p.normalisedOf(value, fs));
                    // Toggles and slopes come back to their state or step; the
                    // levels to within their 0.001 dB steps; the rest exactly.
                    if (p.isToggle() || p.curve == ParameterCurve::slopeSteps)
                        EXPECT_EQ(p.valueOf(back, fs), value) << p.name << " " << x;
                    else if (p.unit == ParameterUnit::db)
                        EXPECT_NEAR(back, x, 0.0006 / 30.0) << p.name << " " << x;
                    else
                        EXPECT_NEAR(back, x, 4 * FLT_EPSILON) << p.name << " " << x;
                }
        }
}
} // namespace
