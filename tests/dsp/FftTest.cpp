#include "dsp/Fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#if defined(_GLIBCXX_HAS_GTHREADS) || !defined(__GLIBCXX__)
#include <thread>
#define ORVEX_TEST_THREADS 1
#endif

namespace
{
using Cd = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;
constexpr double kEps = std::numeric_limits<float>::epsilon();

std::vector<int> allSizes()
{
    std::vector<int> sizes;
    for (int n = Dsp::kFftMinSize; n <= Dsp::kFftMaxSize; n *= 2)
        sizes.push_back(n);
    return sizes;
}

int log2Of(int n)
{
    int log = 0;
    while ((1 << log) < n)
        ++log;
    return log;
}

// Frequency index at each position of a forward result, from the recursive
// definition of the in-place split-radix order.
int scrambled(int n, int p)
{
    if (n <= 2)
        return p;
    if (p < n / 2)
        return 2 * scrambled(n / 2, p);
    if (p < 3 * n / 4)
        return 4 * scrambled(n / 4, p - n / 2) + 1;
    return ((4 * scrambled(n / 4, p - 3 * n / 4) - 1) % n + n) % n;
}

std::vector<float> randomSignal(int n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> x(2 * static_cast<std::size_t>(n));
    for (float& v : x)
        v = uniform(generator);
    return x;
}

Cd at(const std::vector<float>& x, int i) { return {x[2 * i], x[2 * i + 1]}; }

double norm2(const std::vector<float>& x)
{
    double sum = 0.0;
    for (float v : x)
        sum += static_cast<double>(v) * v;
    return std::sqrt(sum);
}

// X[k] = sum x[n] exp(+2 pi i n k / N), in double precision.
Cd naiveBin(const std::vector<float>& x, int n, int k, const std::vector<Cd>& roots)
{
    Cd sum = 0.0;
    int index = 0;
    for (int m = 0; m < n; ++m) {
        sum += at(x, m) * roots[static_cast<std::size_t>(index)];
        index = (index + k) & (n - 1);
    }
    return sum;
}

std::vector<Cd> unitRoots(int n)
{
    std::vector<Cd> roots(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        roots[static_cast<std::size_t>(i)] = std::polar(1.0, 2.0 * kPi * i / n);
    return roots;
}

// Independent double-precision radix-2 transform in natural order, for sizes
// where a full naive DFT would be too slow.
void referenceFft(std::vector<Cd>& a)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        for (std::size_t i = 0; i < n; i += len) {
            for (std::size_t j = 0; j < len / 2; ++j) {
                const Cd w = std::polar(1.0, 2.0 * kPi * static_cast<double>(j) / static_cast<double>(len));
                const Cd u = a[i + j], v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
            }
        }
    }
}

// A spectrum bin may be off by a few rounding steps per stage, relative to
// the signal's energy.
double spectrumTolerance(int n, double signalNorm) { return 2.0 * log2Of(n) * kEps * signalNorm; }
} // namespace

TEST(Fft, ScrambledOrderMatchesTheRecursion)
{
    const int order8[] = {0, 4, 2, 6, 1, 5, 7, 3};
    const int order16[] = {0, 8, 4, 12, 2, 10, 14, 6, 1, 9, 5, 13, 15, 7, 3, 11};
    for (int p = 0; p < 8; ++p)
        EXPECT_EQ(Dsp::fftFrequencyAt(8, p), order8[p]);
    for (int p = 0; p < 16; ++p)
        EXPECT_EQ(Dsp::fftFrequencyAt(16, p), order16[p]);
    for (int n : allSizes()) {
        std::vector<char> seen(static_cast<std::size_t>(n), 0);
        for (int p = 0; p < n; ++p) {
            ASSERT_EQ(Dsp::fftFrequencyAt(n, p), scrambled(n, p));
            seen[static_cast<std::size_t>(scrambled(n, p))] = 1;
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), n) << "not a permutation at " << n;
    }
}

TEST(Fft, SmallSizesMatchClosedForms)
{
    float four[8] = {1, 2, 3, -1, 0.5f, 4, -2, 0};
    const Cd x0(1, 2), x1(3, -1), x2(0.5, 4), x3(-2, 0);
    const Cd i(0, 1);
    const Cd expected[4] = {x0 + x1 + x2 + x3, x0 - x1 + x2 - x3, (x0 - x2) + i * (x1 - x3), (x0 - x2) - i * (x1 - x3)};
    Dsp::fftForward(4, four);
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(four[2 * k], expected[k].real(), 1e-6);
        EXPECT_NEAR(four[2 * k + 1], expected[k].imag(), 1e-6);
    }

    // exp(-2 pi i n / 8) is frequency 1 (position 4); exp(+...) frequency 7 (position 6).
    for (int sign : {-1, 1}) {
        float tone[16];
        for (int m = 0; m < 8; ++m) {
            tone[2 * m] = static_cast<float>(std::cos(2 * kPi * m / 8));
            tone[2 * m + 1] = static_cast<float>(sign * std::sin(2 * kPi * m / 8));
        }
        Dsp::fftForward(8, tone);
        const int peak = sign < 0 ? 4 : 6;
        for (int p = 0; p < 8; ++p) {
            EXPECT_NEAR(tone[2 * p], p == peak ? 8.0 : 0.0, 8 * 3 * kEps);
            EXPECT_NEAR(tone[2 * p + 1], 0.0, 8 * 3 * kEps);
        }
    }

    float two[4] = {1.5f, -2, 0.25f, 3};
    Dsp::fftForward(2, two);
    Dsp::fftForward(2, two);
    EXPECT_FLOAT_EQ(two[0], 3.0f);
    EXPECT_FLOAT_EQ(two[1], -4.0f);
    EXPECT_FLOAT_EQ(two[2], 0.5f);
    EXPECT_FLOAT_EQ(two[3], 6.0f);
}

TEST(Fft, ImpulseAndConstant)
{
    for (int n : allSizes()) {
        std::vector<float> x(2 * static_cast<std::size_t>(n), 0.0f);
        x[0] = 1.0f;
        Dsp::fftForward(n, x.data());
        for (int p = 0; p < n; ++p)
            ASSERT_TRUE(x[2 * p] == 1.0f && x[2 * p + 1] == 0.0f) << n << " " << p;
        Dsp::fftInverse(n, x.data());
        const double tolerance = 2.0 * log2Of(n) * kEps * n;
        EXPECT_NEAR(x[0], n, tolerance);
        for (int p = 1; p < n; ++p)
            ASSERT_NEAR(std::abs(at(x, p)), 0.0, tolerance) << n << " " << p;
    }
}

TEST(Fft, UnsupportedSizesLeaveDataUnchanged)
{
    const std::vector<float> original = randomSignal(70000, 5);
    for (int n : {-4, 0, 1, 3, 6, 100, 1000, 65536}) {
        std::vector<float> x = original;
        Dsp::fftForward(n, x.data());
        Dsp::fftInverse(n, x.data());
        EXPECT_EQ(x, original) << n;
    }
    Dsp::fftForward(16, nullptr);
    Dsp::fftInverse(16, nullptr);
}

TEST(Fft, ForwardMatchesNaiveDftInScrambledOrder)
{
    for (int n : allSizes()) {
        const std::vector<float> x = randomSignal(n, 100u + static_cast<unsigned>(n));
        std::vector<float> y = x;
        Dsp::fftForward(n, y.data());
        const double tolerance = spectrumTolerance(n, norm2(x));
        const std::vector<Cd> roots = unitRoots(n);
        double worst = 0.0;
        if (n <= 4096) {
            for (int p = 0; p < n; ++p)
                worst = std::max(worst, std::abs(at(y, p) - naiveBin(x, n, scrambled(n, p), roots)));
        } else {
            // All bins against a double-precision reference transform, and a
            // seeded sample of bins against the naive sum as well.
            std::vector<Cd> reference(static_cast<std::size_t>(n));
            for (int m = 0; m < n; ++m)
                reference[static_cast<std::size_t>(m)] = at(x, m);
            referenceFft(reference);
            for (int p = 0; p < n; ++p)
                worst = std::max(worst, std::abs(at(y, p) - reference[static_cast<std::size_t>(scrambled(n, p))]));
            std::mt19937 generator(7);
            for (int probe = 0; probe < 48; ++probe) {
                const int p = static_cast<int>(generator() % static_cast<unsigned>(n));
                worst = std::max(worst, std::abs(at(y, p) - naiveBin(x, n, scrambled(n, p), roots)));
            }
        }
        EXPECT_LE(worst, tolerance) << "size " << n;
    }
}

TEST(Fft, InverseOfForwardIsScaledIdentity)
{
    for (int n : allSizes()) {
        const std::vector<float> x = randomSignal(n, 300u + static_cast<unsigned>(n));
        std::vector<float> y = x;
        Dsp::fftForward(n, y.data());
        Dsp::fftInverse(n, y.data());
        const double tolerance = 2.0 * spectrumTolerance(n, norm2(x)) * std::sqrt(static_cast<double>(n));
        double worst = 0.0;
        for (int p = 0; p < n; ++p)
            worst = std::max(worst, std::abs(at(y, p) - static_cast<double>(n) * at(x, p)));
        EXPECT_LE(worst, tolerance) << "size " << n;
    }
}

TEST(Fft, ProductOfSpectraIsCircularConvolution)
{
    for (int n : allSizes()) {
        const std::vector<float> a = randomSignal(n, 500u + static_cast<unsigned>(n));
        // Dense b for small sizes; a handful of taps keeps the naive sum cheap
        // for large ones.
        std::vector<float> b(2 * static_cast<std::size_t>(n), 0.0f);
        std::mt19937 generator(900u + static_cast<unsigned>(n));
        std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
        std::vector<int> taps;
        for (int m = 0; m < n; ++m) {
            if (n <= 1024 || generator() % static_cast<unsigned>(n / 8) == 0)
                taps.push_back(m);
        }
        for (int m : taps) {
            b[2 * m] = uniform(generator);
            b[2 * m + 1] = uniform(generator);
        }
        std::vector<float> fa = a, fb = b;
        Dsp::fftForward(n, fa.data());
        Dsp::fftForward(n, fb.data());
        for (int p = 0; p < n; ++p) {
            const Cd product = Cd(fa[2 * p], fa[2 * p + 1]) * Cd(fb[2 * p], fb[2 * p + 1]);
            fa[2 * p] = static_cast<float>(product.real());
            fa[2 * p + 1] = static_cast<float>(product.imag());
        }
        Dsp::fftInverse(n, fa.data());

        const double tolerance = 4.0 * log2Of(n) * kEps * n * norm2(a) * norm2(b);
        double worst = 0.0;
        for (int t = 0; t < n; ++t) {
            Cd sum = 0.0;
            for (int m : taps)
                sum += at(b, m) * at(a, (t - m + n) & (n - 1));
            worst = std::max(worst, std::abs(at(fa, t) - static_cast<double>(n) * sum));
        }
        EXPECT_LE(worst, tolerance) << "size " << n;
    }
}

TEST(Fft, VectorPathsAreBitIdenticalToTheScalarPath)
{
    // Every path performs the same operations in the same order.
    for (Dsp::FftPath path : {Dsp::FftPath::kSse2, Dsp::FftPath::kAvx}) {
        if (!Dsp::fftPathAvailable(path))
            continue;
        for (int n : allSizes()) {
            SCOPED_TRACE(path == Dsp::FftPath::kAvx ? "avx" : "sse2");
            const std::vector<float> x = randomSignal(n, 700u + static_cast<unsigned>(n));
            std::vector<float> fast = x, portable = x;
            Dsp::fftForward(path, n, fast.data());
            Dsp::fftForward(Dsp::FftPath::kScalar, n, portable.data());
            ASSERT_EQ(fast, portable) << "forward " << n;
            Dsp::fftInverse(path, n, fast.data());
            Dsp::fftInverse(Dsp::FftPath::kScalar, n, portable.data());
            ASSERT_EQ(fast, portable) << "inverse " << n;
        }
    }
    // The default entry points run one of the available paths.
    std::vector<float> x = randomSignal(1024, 3), y = x;
    Dsp::fftForward(1024, x.data());
    Dsp::fftForward(Dsp::FftPath::kScalar, 1024, y.data());
    EXPECT_EQ(x, y);
}

TEST(Fft, SpectrumProductsMatchTheScalarReference)
{
    for (int n : {1, 2, 3, 7, 256, 4096}) {
        const std::vector<float> a = randomSignal(n, 40), b = randomSignal(n, 41), start = randomSignal(n, 42);
        std::vector<float> product(a.size()), reference(a.size());
        Dsp::multiplySpectra(n, a.data(), b.data(), product.data());
        Dsp::multiplySpectraScalar(n, a.data(), b.data(), reference.data());
        for (int i = 0; i < n; ++i) {
            const Cd exact = at(a, i) * at(b, i);
            ASSERT_NEAR(product[2 * i], exact.real(), 4 * kEps);
            ASSERT_NEAR(product[2 * i + 1], exact.imag(), 4 * kEps);
            ASSERT_NEAR(reference[2 * i], exact.real(), 4 * kEps);
        }
        std::vector<float> sum = start, sumReference = start;
        Dsp::multiplyAddSpectra(n, a.data(), b.data(), sum.data());
        Dsp::multiplyAddSpectraScalar(n, a.data(), b.data(), sumReference.data());
        for (int i = 0; i < n; ++i) {
            const Cd exact = at(start, i) + at(a, i) * at(b, i);
            ASSERT_NEAR(sum[2 * i], exact.real(), 8 * kEps);
            ASSERT_NEAR(sum[2 * i + 1], exact.imag(), 8 * kEps);
            ASSERT_NEAR(sumReference[2 * i + 1], exact.imag(), 8 * kEps);
        }
        // The accumulator may be the output of an earlier product in place.
        Dsp::multiplySpectra(n, product.data(), b.data(), product.data());
        for (int i = 0; i < n; ++i)
            ASSERT_NEAR(product[2 * i], (at(a, i) * at(b, i) * at(b, i)).real(), 16 * kEps);
    }
}

TEST(Fft, TablesAreBuiltOnceAndSafelyFromSeveralThreads)
{
    const std::vector<float> x = randomSignal(4096, 11);
    std::vector<std::vector<float>> results(4, x);
#ifdef ORVEX_TEST_THREADS
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&result] {
            Dsp::buildFftTables();
            Dsp::fftForward(4096, result.data());
        });
    }
    for (auto& thread : threads)
        thread.join();
#else
    for (auto& result : results)
        Dsp::fftForward(4096, result.data());
#endif
    Dsp::buildFftTables();
    std::vector<float> again = x;
    Dsp::fftForward(4096, again.data());
    for (const auto& result : results)
        EXPECT_EQ(result, again);
}
