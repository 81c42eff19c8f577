#include "dsp/ButterworthFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using Dsp::ButterworthFilter;

namespace
{

constexpr double kPi = 3.14159265358979323846;
const double kHalfPower = 1.0 / std::sqrt(2.0);

enum class Kind { LowPass, HighPass };

ButterworthFilter makeFilter(Kind kind, int order, double fc)
{
    ButterworthFilter f;
    const bool ok = kind == Kind::LowPass ? f.designLowPass(order, fc) : f.designHighPass(order, fc);
    EXPECT_TRUE(ok);
    return f;
}

// Butterworth magnitude after the bilinear transform with pre-warping.
double analyticGain(Kind kind, int order, double fc, double f)
{
    if (kind == Kind::LowPass && f >= 0.5)
        return 0.0;
    if (kind == Kind::HighPass && f <= 0.0)
        return 0.0;
    const double ratio = std::tan(kPi * f) / std::tan(kPi * fc);
    const double r = kind == Kind::LowPass ? ratio : 1.0 / ratio;
    return 1.0 / std::sqrt(1.0 + std::pow(r, 2.0 * order));
}

std::vector<float> impulseResponse(ButterworthFilter& f, int n)
{
    std::vector<float> h(n, 0.0f);
    h[0] = 1.0f;
    f.filterBlock(h.data(), n);
    return h;
}

// Direct DFT of a real signal at f cycles per sample, in double.
std::complex<double> dft(const std::vector<float>& x, double f)
{
    std::complex<double> sum;
    for (size_t n = 0; n < x.size(); ++n)
        sum += double(x[n]) * std::polar(1.0, -2 * kPi * f * double(n));
    return sum;
}

// Down to and up to the extremes the crossover frequency mapping produces.
const double kCutoffs[] = {0.0001, 0.002, 0.01, 0.05, 0.1, 0.25, 0.4, 0.48, 0.4897};

// Rounding a section's coefficients moves its poles; near z = +-1 (cutoff
// close to 0 or to half the rate) the gain is sensitive to that as 1/distance^2.
double designTolerance(int order, double fc)
{
    const double d = kPi * std::min(fc, 0.5 - fc);
    return 8 * order * DBL_EPSILON / (d * d);
}

} // namespace

TEST(ButterworthFilter, CoefficientsAtQuarterRate)
{
    const double tol = 16 * DBL_EPSILON;
    const double a2 = 3.0 - 2.0 * std::sqrt(2.0);
    const double b0 = 1.0 / (2.0 + std::sqrt(2.0));

    ButterworthFilter lp1 = makeFilter(Kind::LowPass, 1, 0.25);
    ASSERT_EQ(lp1.sectionCount(), 1);
    const Dsp::BiquadSection& s1 = lp1.section(0);
    EXPECT_NEAR(s1.a1, 0.0, tol);
    EXPECT_EQ(s1.a2, 0.0);
    EXPECT_NEAR(s1.b0, 0.5, tol);
    EXPECT_NEAR(s1.b1, 0.5, tol);
    EXPECT_EQ(s1.b2, 0.0);

    ButterworthFilter hp1 = makeFilter(Kind::HighPass, 1, 0.25);
    EXPECT_NEAR(hp1.section(0).b0, 0.5, tol);
    EXPECT_NEAR(hp1.section(0).b1, -0.5, tol);

    for (Kind kind : {Kind::LowPass, Kind::HighPass})
    {
        ButterworthFilter f = makeFilter(kind, 2, 0.25);
        ASSERT_EQ(f.sectionCount(), 1);
        const Dsp::BiquadSection& s = f.section(0);
        const double sign = kind == Kind::LowPass ? 1.0 : -1.0;
        EXPECT_EQ(s.a0, 1.0);
        EXPECT_NEAR(s.a1, 0.0, tol);
        EXPECT_NEAR(s.a2, a2, tol);
        EXPECT_NEAR(s.b0, b0, tol);
        EXPECT_NEAR(s.b1, sign * 2.0 * b0, tol);
        EXPECT_NEAR(s.b2, b0, tol);
    }
}

TEST(ButterworthFilter, SectionCountFollowsOrder)
{
    for (int order = 1; order <= ButterworthFilter::kMaxOrder; ++order)
        EXPECT_EQ(makeFilter(Kind::LowPass, order, 0.1).sectionCount(), (order + 1) / 2);

    // Order 5: two second-order sections from the conjugate pairs, then one first-order.
    ButterworthFilter f = makeFilter(Kind::HighPass, 5, 0.1);
    ASSERT_EQ(f.sectionCount(), 3);
    EXPECT_NE(f.section(0).a2, 0.0);
    EXPECT_NE(f.section(1).a2, 0.0);
    EXPECT_EQ(f.section(2).a2, 0.0);
    EXPECT_EQ(f.section(2).b2, 0.0);
}

// The design's response against the analytic magnitude, for every order and
// several cutoffs: unit gain at the pass-band edge, 1/sqrt 2 at the cutoff.
TEST(ButterworthFilter, ResponseMatchesAnalyticMagnitude)
{
    for (Kind kind : {Kind::LowPass, Kind::HighPass})
        for (int order = 1; order <= ButterworthFilter::kMaxOrder; ++order)
            for (double fc : kCutoffs)
            {
                SCOPED_TRACE(testing::Message() << "order " << order << " fc " << fc
                                                << (kind == Kind::LowPass ? " low" : " high"));
                ButterworthFilter f = makeFilter(kind, order, fc);
                const double tol = designTolerance(order, fc);
                EXPECT_NEAR(std::abs(f.response(kind == Kind::LowPass ? 0.0 : 0.5)), 1.0, 64 * DBL_EPSILON);
                EXPECT_NEAR(std::abs(f.response(fc)), kHalfPower, tol);
                for (int i = 1; i < 64; ++i)
                {
                    const double freq = 0.5 * i / 64;
                    EXPECT_NEAR(std::abs(f.response(freq)), analyticGain(kind, order, fc, freq), tol);
                }
            }
}

// The same, measured on the filtered impulse: a direct DFT of the output.
TEST(ButterworthFilter, FilteredImpulseMatchesAnalyticMagnitude)
{
    const int n = 1 << 14;
    for (Kind kind : {Kind::LowPass, Kind::HighPass})
        for (int order = 1; order <= ButterworthFilter::kMaxOrder; ++order)
            for (double fc : {0.01, 0.1, 0.25, 0.45})
            {
                SCOPED_TRACE(testing::Message() << "order " << order << " fc " << fc
                                                << (kind == Kind::LowPass ? " low" : " high"));
                ButterworthFilter f = makeFilter(kind, order, fc);
                const std::vector<float> h = impulseResponse(f, n);
                // The response must have died out, so the DFT sees all of it.
                ASSERT_LT(std::fabs(h[n - 1]), 1e-9);
                double l1 = 0.0;
                for (float v : h)
                    l1 += std::fabs(v);
                // Float rounding of each output sample plus the alternating offset.
                const double tol = l1 * FLT_EPSILON + n * ButterworthFilter::kOffset;
                const double edge = kind == Kind::LowPass ? 0.0 : 0.5;
                EXPECT_NEAR(std::abs(dft(h, edge)), 1.0, tol);
                EXPECT_NEAR(std::abs(dft(h, fc)), kHalfPower, tol);
                for (double freq : {0.5 * fc, 0.9 * fc, 1.1 * fc, 2.0 * fc, 0.3, 0.49})
                {
                    if (freq < 0.5)
                    {
                        EXPECT_NEAR(std::abs(dft(h, freq)), analyticGain(kind, order, fc, freq), tol);
                    }
                }
            }
}

TEST(ButterworthFilter, AlternatingOffsetOnSilence)
{
    ButterworthFilter f = makeFilter(Kind::LowPass, 4, 0.1);
    const float minus = static_cast<float>(-ButterworthFilter::kOffset);
    const float plus = static_cast<float>(ButterworthFilter::kOffset);

    std::vector<float> x(5, 0.0f);
    f.filterBlock(x.data(), 5);
    EXPECT_EQ(x, (std::vector<float>{minus, plus, minus, plus, minus}));

    // Continues across blocks and after clearState.
    x.assign(2, 0.0f);
    f.filterBlock(x.data(), 2);
    EXPECT_EQ(x, (std::vector<float>{plus, minus}));
    f.clearState();
    x.assign(3, 0.0f);
    f.filterBlock(x.data(), 3);
    EXPECT_EQ(x, (std::vector<float>{plus, minus, plus}));
}

TEST(ButterworthFilter, ClearStateRestartsTheResponse)
{
    ButterworthFilter f = makeFilter(Kind::HighPass, 3, 0.05);
    const std::vector<float> first = impulseResponse(f, 300);
    f.clearState();
    // The 300 samples leave the offset's alternation where it started.
    EXPECT_EQ(impulseResponse(f, 300), first);
}

TEST(ButterworthFilter, BlockwiseEqualsOneShot)
{
    ButterworthFilter whole = makeFilter(Kind::LowPass, 7, 0.03);
    ButterworthFilter halves = makeFilter(Kind::LowPass, 7, 0.03);
    std::vector<float> a(512, 0.0f), b(512, 0.0f);
    a[0] = b[0] = 1.0f;
    whole.filterBlock(a.data(), 512);
    halves.filterBlock(b.data(), 256);
    halves.filterBlock(b.data() + 256, 256);
    EXPECT_EQ(a, b);

    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    for (int trial = 0; trial < 8; ++trial)
    {
        const int order = 1 + trial;
        ButterworthFilter one = makeFilter(Kind::HighPass, order, 0.02 + 0.05 * trial);
        ButterworthFilter split = makeFilter(Kind::HighPass, order, 0.02 + 0.05 * trial);
        std::vector<float> x(3000);
        for (float& v : x)
            v = sample(rng);
        std::vector<float> y = x;
        one.filterBlock(x.data(), int(x.size()));
        for (size_t pos = 0; pos < y.size();)
        {
            const int len = std::min<int>(std::uniform_int_distribution<int>(0, 700)(rng), int(y.size() - pos));
            split.filterBlock(y.data() + pos, len);
            pos += len;
        }
        EXPECT_EQ(x, y) << "order " << order;
    }
}

// A rejected design leaves the filter inactive: samples pass untouched, also
// when it held a valid design before. Debug builds stop at an assertion.
TEST(ButterworthFilter, RejectsInvalidOrderOrCutoff)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct { int order; double fc; } cases[] = {
        {0, 0.1}, {-1, 0.1}, {9, 0.1}, {100, 0.1}, {INT_MIN, 0.1}, {INT_MAX, 0.1},
        {2, 0.0}, {2, -0.1}, {2, 0.5}, {2, 0.7}, {2, nan}, {2, inf}, {2, -inf}};
    for (const auto& c : cases)
        for (Kind kind : {Kind::LowPass, Kind::HighPass})
        {
            SCOPED_TRACE(testing::Message() << "order " << c.order << " fc " << c.fc);
            ButterworthFilter f = makeFilter(Kind::LowPass, 4, 0.1);
            auto design = [&] {
                return kind == Kind::LowPass ? f.designLowPass(c.order, c.fc)
                                             : f.designHighPass(c.order, c.fc);
            };
#ifdef NDEBUG
            EXPECT_FALSE(design());
            EXPECT_EQ(f.sectionCount(), 0);
            std::vector<float> x = {1.0f, -0.5f, 0.25f, 0.0f};
            const std::vector<float> before = x;
            f.filterBlock(x.data(), int(x.size()));
            EXPECT_EQ(x, before);
#elif GTEST_HAS_DEATH_TEST
            EXPECT_DEATH(design(), "");
#endif
        }
}

TEST(ButterworthFilter, IgnoresEmptyOrNullBlocks)
{
    ButterworthFilter f = makeFilter(Kind::LowPass, 2, 0.1);
    f.filterBlock(nullptr, 16);
    float x = 0.0f;
    f.filterBlock(&x, 0);
    f.filterBlock(&x, -5);
    EXPECT_EQ(x, 0.0f);
    // Nothing above advanced the offset: the first real sample still gets -offset.
    f.filterBlock(&x, 1);
    EXPECT_EQ(x, static_cast<float>(-ButterworthFilter::kOffset));
}
