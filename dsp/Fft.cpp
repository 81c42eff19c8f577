#include "dsp/Fft.h"

#include <cmath>
#include <cstdint>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define ORVEX_FFT_SSE2 1
#endif

// A 256-bit path for processors that have AVX, chosen at run time; the rest
// of the library stays baseline (SSE2) code.
#if defined(ORVEX_FFT_SSE2) && defined(__GNUC__)
#include <immintrin.h>
#define ORVEX_FFT_AVX 1
#define ORVEX_TARGET_AVX __attribute__((target("avx")))
#endif

// Butterfly helpers must melt into their loops: called out of line they pass
// registers through memory and halve the speed.
#if defined(__GNUC__)
#define ORVEX_FFT_INLINE inline __attribute__((always_inline))
#else
#define ORVEX_FFT_INLINE inline
#endif

namespace Dsp
{
namespace
{
constexpr int kLogFirstTable = 4; // size 16
constexpr int kLogLastTable = 15; // size 32768
constexpr int kLargestQuarterWaveTable = 512;

constexpr int tableEntries(int size)
{
    return size <= kLargestQuarterWaveTable ? size / 4 - 1 : size / 8 - 1;
}

constexpr int totalTableFloats()
{
    int floats = 0;
    for (int log = kLogFirstTable; log <= kLogLastTable; ++log)
        floats += 2 * tableEntries(1 << log);
    return floats;
}

constexpr int log2Of(int n)
{
    int log = 0;
    while ((1 << log) < n)
        ++log;
    return log;
}

// Entry k (k >= 1) of the size-M table holds (cos, sin)(2 pi k / M) at
// byLog[log2 M][2 (k - 1)]; entry 0, (1, 0), is never stored. Sizes up to
// 512 store a quarter wave, larger ones an eighth.
struct TwiddleTables
{
    float storage[totalTableFloats()];
    const float* byLog[kLogLastTable + 1];
    float c8;
    // Ready-made vector operands, copied from the tables: the twiddles of
    // k = 0..3 of each size ((1, 0) then entries 1..3), and (1, 0, c8, c8)
    // for the 8-point pass.
    float firstFour[kLogLastTable + 1][8];
    float eightPoint[4];
};

void fillTables(TwiddleTables& t)
{
    float* next = t.storage;
    for (int log = 0; log <= kLogLastTable; ++log)
        t.byLog[log] = nullptr;
    for (int log = kLogFirstTable; log <= kLogLastTable; ++log) {
        const int size = 1 << log;
        const double step = 2.0 * 3.14159265358979323846 / size;
        t.byLog[log] = next;
        for (int k = 1; k <= tableEntries(size); ++k) {
            const long double angle = static_cast<long double>(k) * static_cast<long double>(step);
            *next++ = static_cast<float>(std::cos(angle));
            *next++ = static_cast<float>(std::sin(angle));
        }
    }
    t.c8 = t.byLog[kLogFirstTable][2 * (2 - 1)];
    for (int log = kLogFirstTable; log <= kLogLastTable; ++log) {
        t.firstFour[log][0] = 1.0f;
        t.firstFour[log][1] = 0.0f;
        for (int i = 0; i < 6; ++i)
            t.firstFour[log][2 + i] = t.byLog[log][i];
    }
    const float eightPoint[4] = {1.0f, 0.0f, t.c8, t.c8};
    for (int i = 0; i < 4; ++i)
        t.eightPoint[i] = eightPoint[i];
}

const TwiddleTables& tables()
{
    // Initialised once, thread-safely, and read-only afterwards.
    static const TwiddleTables built = [] {
        TwiddleTables t{};
        fillTables(t);
        return t;
    }();
    return built;
}

// ---------------------------------------------------------------------------
// Scalar passes

// w^k = exp(2 pi i k / N) for 0 < k < N/4 of a size-N pass.
template <int N>
inline void twiddle(const TwiddleTables& t, int k, float& c, float& s)
{
    if constexpr (N == 8) {
        c = t.c8;
        s = t.c8;
    } else if constexpr (N <= kLargestQuarterWaveTable) {
        const float* e = t.byLog[log2Of(N)] + 2 * (k - 1);
        c = e[0];
        s = e[1];
    } else {
        const float* table = t.byLog[log2Of(N)];
        if (k < N / 8) {
            c = table[2 * (k - 1)];
            s = table[2 * (k - 1) + 1];
        } else if (k == N / 8) {
            c = t.c8;
            s = t.c8;
        } else {
            // w^(N/4 - j) = sin(2 pi j / N) + i cos(2 pi j / N)
            const float* e = table + 2 * (N / 4 - k - 1);
            c = e[1];
            s = e[0];
        }
    }
}

template <int N>
inline void forwardButterflyScalar(float* x, int k, const TwiddleTables& t)
{
    constexpr int q = 2 * (N / 4);
    float* a = x + 2 * k;
    float* b = a + q;
    float* c = b + q;
    float* d = c + q;
    const float ur = a[0] - c[0], ui = a[1] - c[1];
    const float vr = b[0] - d[0], vi = b[1] - d[1];
    a[0] += c[0];
    a[1] += c[1];
    b[0] += d[0];
    b[1] += d[1];
    // z1 = u + i v, z3 = u - i v
    const float z1r = ur - vi, z1i = ui + vr;
    const float z3r = ur + vi, z3i = ui - vr;
    if (k == 0) {
        c[0] = z1r;
        c[1] = z1i;
        d[0] = z3r;
        d[1] = z3i;
        return;
    }
    float wc, ws;
    twiddle<N>(t, k, wc, ws);
    c[0] = z1r * wc - z1i * ws;
    c[1] = z1r * ws + z1i * wc;
    d[0] = z3r * wc + z3i * ws;
    d[1] = z3i * wc - z3r * ws;
}

template <int N>
inline void inverseButterflyScalar(float* x, int k, const TwiddleTables& t)
{
    constexpr int q = 2 * (N / 4);
    float* a = x + 2 * k;
    float* b = a + q;
    float* c = b + q;
    float* d = c + q;
    float s1r = c[0], s1i = c[1], s3r = d[0], s3i = d[1];
    if (k != 0) {
        float wc, ws;
        twiddle<N>(t, k, wc, ws);
        s1r = c[0] * wc + c[1] * ws; // c w^-k
        s1i = c[1] * wc - c[0] * ws;
        s3r = d[0] * wc - d[1] * ws; // d w^k
        s3i = d[0] * ws + d[1] * wc;
    }
    const float tr = s1r + s3r, ti = s1i + s3i;
    const float dr = s1r - s3r, di = s1i - s3i;
    const float e0r = a[0], e0i = a[1], e1r = b[0], e1i = b[1];
    a[0] = e0r + tr;
    a[1] = e0i + ti;
    c[0] = e0r - tr;
    c[1] = e0i - ti;
    // e1 -/+ i (s1 - s3)
    b[0] = e1r + di;
    b[1] = e1i - dr;
    d[0] = e1r - di;
    d[1] = e1i + dr;
}

template <int N>
inline void forwardPassScalar(float* x, const TwiddleTables& t)
{
    for (int k = 0; k < N / 4; ++k)
        forwardButterflyScalar<N>(x, k, t);
}

template <int N>
inline void inversePassScalar(float* x, const TwiddleTables& t)
{
    for (int k = 0; k < N / 4; ++k)
        inverseButterflyScalar<N>(x, k, t);
}

// ---------------------------------------------------------------------------
// SSE2 passes: two butterflies (k, k + 1) per step.

#ifdef ORVEX_FFT_SSE2
constexpr int kSmallestVectorPass = 32;

ORVEX_FFT_INLINE __m128 signEven() { return _mm_castsi128_ps(_mm_setr_epi32(INT32_MIN, 0, INT32_MIN, 0)); }
ORVEX_FFT_INLINE __m128 signOdd() { return _mm_castsi128_ps(_mm_setr_epi32(0, INT32_MIN, 0, INT32_MIN)); }
ORVEX_FFT_INLINE __m128 swapPairs(__m128 z) { return _mm_shuffle_ps(z, z, _MM_SHUFFLE(2, 3, 0, 1)); }

// z w for two complex pairs.
ORVEX_FFT_INLINE __m128 multiply(__m128 z, __m128 w)
{
    const __m128 re = _mm_shuffle_ps(z, z, _MM_SHUFFLE(2, 2, 0, 0));
    const __m128 im = _mm_shuffle_ps(z, z, _MM_SHUFFLE(3, 3, 1, 1));
    return _mm_add_ps(_mm_mul_ps(re, w), _mm_xor_ps(_mm_mul_ps(im, swapPairs(w)), signEven()));
}

// z conj(w) for two complex pairs.
ORVEX_FFT_INLINE __m128 multiplyConjugate(__m128 z, __m128 w)
{
    const __m128 re = _mm_shuffle_ps(z, z, _MM_SHUFFLE(2, 2, 0, 0));
    const __m128 im = _mm_shuffle_ps(z, z, _MM_SHUFFLE(3, 3, 1, 1));
    return _mm_add_ps(_mm_xor_ps(_mm_mul_ps(re, w), signOdd()), _mm_mul_ps(im, swapPairs(w)));
}

// i z for two complex pairs.
ORVEX_FFT_INLINE __m128 timesI(__m128 z) { return _mm_xor_ps(swapPairs(z), signEven()); }

// Calls body(k, twiddles of k and k + 1) for every even k of a size-N pass.
template <int N, class Body>
ORVEX_FFT_INLINE void forEachTwiddlePair(const TwiddleTables& t, Body body)
{
    const float* e = t.byLog[log2Of(N)];
    body(0, _mm_loadu_ps(t.firstFour[log2Of(N)]));
    if constexpr (N <= kLargestQuarterWaveTable) {
        for (int k = 2; k < N / 4; k += 2)
            body(k, _mm_loadu_ps(e + 2 * (k - 1)));
    } else {
        for (int k = 2; k < N / 8; k += 2)
            body(k, _mm_loadu_ps(e + 2 * (k - 1)));
        const float* f = e + 2 * (N / 8 - 2);
        body(N / 8, _mm_setr_ps(t.c8, t.c8, f[1], f[0]));
        // Entries j - 1 and j, reversed and swapped, are w^(k+1) and w^k.
        for (int k = N / 8 + 2; k < N / 4; k += 2) {
            const __m128 v = _mm_loadu_ps(e + 2 * (N / 4 - k - 2));
            body(k, _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)));
        }
    }
}

// One forward butterfly on two (k, k + 1) pairs held in registers.
ORVEX_FFT_INLINE void forwardButterfly(__m128& a, __m128& b, __m128& c, __m128& d, __m128 w)
{
    const __m128 u = _mm_sub_ps(a, c);
    const __m128 iv = timesI(_mm_sub_ps(b, d));
    a = _mm_add_ps(a, c);
    b = _mm_add_ps(b, d);
    c = multiply(_mm_add_ps(u, iv), w);
    d = multiplyConjugate(_mm_sub_ps(u, iv), w);
}

ORVEX_FFT_INLINE void inverseButterfly(__m128& a, __m128& b, __m128& c, __m128& d, __m128 w)
{
    const __m128 s1 = multiplyConjugate(c, w);
    const __m128 s3 = multiply(d, w);
    const __m128 sum = _mm_add_ps(s1, s3);
    const __m128 idiff = timesI(_mm_sub_ps(s1, s3));
    c = _mm_sub_ps(a, sum);
    a = _mm_add_ps(a, sum);
    d = _mm_add_ps(b, idiff);
    b = _mm_sub_ps(b, idiff);
}

template <int N>
ORVEX_FFT_INLINE void forwardPassVector(float* x, const TwiddleTables& t)
{
    constexpr int q = 2 * (N / 4);
    forEachTwiddlePair<N>(t, [x](int k, __m128 w) {
        float* p = x + 2 * k;
        __m128 a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + q);
        __m128 c = _mm_loadu_ps(p + 2 * q), d = _mm_loadu_ps(p + 3 * q);
        forwardButterfly(a, b, c, d, w);
        _mm_storeu_ps(p, a);
        _mm_storeu_ps(p + q, b);
        _mm_storeu_ps(p + 2 * q, c);
        _mm_storeu_ps(p + 3 * q, d);
    });
}

template <int N>
ORVEX_FFT_INLINE void inversePassVector(float* x, const TwiddleTables& t)
{
    constexpr int q = 2 * (N / 4);
    forEachTwiddlePair<N>(t, [x](int k, __m128 w) {
        float* p = x + 2 * k;
        __m128 a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + q);
        __m128 c = _mm_loadu_ps(p + 2 * q), d = _mm_loadu_ps(p + 3 * q);
        inverseButterfly(a, b, c, d, w);
        _mm_storeu_ps(p, a);
        _mm_storeu_ps(p + q, b);
        _mm_storeu_ps(p + 2 * q, c);
        _mm_storeu_ps(p + 3 * q, d);
    });
}

// Sizes 2 to 16 held entirely in registers, two complex values per register.

ORVEX_FFT_INLINE __m128 signMask(bool l0, bool l1, bool l2, bool l3)
{
    return _mm_castsi128_ps(_mm_setr_epi32(l0 ? INT32_MIN : 0, l1 ? INT32_MIN : 0, l2 ? INT32_MIN : 0, l3 ? INT32_MIN : 0));
}

// (p, q) -> (p + q, p - q)
ORVEX_FFT_INLINE __m128 butterfly2(__m128 r)
{
    return _mm_add_ps(_mm_movelh_ps(r, r), _mm_xor_ps(_mm_movehl_ps(r, r), signMask(false, false, true, true)));
}

ORVEX_FFT_INLINE void forward4(__m128& r0, __m128& r1)
{
    const __m128 sum = _mm_add_ps(r0, r1);
    const __m128 diff = _mm_sub_ps(r0, r1); // (u, v)
    r0 = butterfly2(sum);
    // (u + i v, u - i v)
    const __m128 v = _mm_shuffle_ps(diff, diff, _MM_SHUFFLE(2, 3, 2, 3));
    r1 = _mm_add_ps(_mm_movelh_ps(diff, diff), _mm_xor_ps(v, signMask(true, false, false, true)));
}

ORVEX_FFT_INLINE void inverse4(__m128& r0, __m128& r1)
{
    const __m128 e = butterfly2(r0);  // (e0, e1)
    const __m128 td = butterfly2(r1); // (s1 + s3, s1 - s3)
    // (s1 + s3, -i (s1 - s3))
    const __m128 m = _mm_xor_ps(_mm_shuffle_ps(td, td, _MM_SHUFFLE(2, 3, 1, 0)), signMask(false, false, false, true));
    r0 = _mm_add_ps(e, m);
    r1 = _mm_sub_ps(e, m);
}

ORVEX_FFT_INLINE void forward8(__m128* r, const TwiddleTables& t)
{
    forwardButterfly(r[0], r[1], r[2], r[3], _mm_loadu_ps(t.eightPoint));
    forward4(r[0], r[1]);
    r[2] = butterfly2(r[2]);
    r[3] = butterfly2(r[3]);
}

ORVEX_FFT_INLINE void inverse8(__m128* r, const TwiddleTables& t)
{
    inverse4(r[0], r[1]);
    r[2] = butterfly2(r[2]);
    r[3] = butterfly2(r[3]);
    inverseButterfly(r[0], r[1], r[2], r[3], _mm_loadu_ps(t.eightPoint));
}

ORVEX_FFT_INLINE void forward16(__m128* r, const TwiddleTables& t)
{
    const float* e = t.byLog[kLogFirstTable];
    forwardButterfly(r[0], r[2], r[4], r[6], _mm_loadu_ps(t.firstFour[kLogFirstTable]));
    forwardButterfly(r[1], r[3], r[5], r[7], _mm_loadu_ps(e + 2));
    forward8(r, t);
    forward4(r[4], r[5]);
    forward4(r[6], r[7]);
}

ORVEX_FFT_INLINE void inverse16(__m128* r, const TwiddleTables& t)
{
    const float* e = t.byLog[kLogFirstTable];
    inverse8(r, t);
    inverse4(r[4], r[5]);
    inverse4(r[6], r[7]);
    inverseButterfly(r[0], r[2], r[4], r[6], _mm_loadu_ps(t.firstFour[kLogFirstTable]));
    inverseButterfly(r[1], r[3], r[5], r[7], _mm_loadu_ps(e + 2));
}

// Runs a register transform of R registers (2R complex values) on x.
template <int R, class Transform>
ORVEX_FFT_INLINE void inRegisters(float* x, Transform transform)
{
    __m128 r[R];
    for (int i = 0; i < R; ++i)
        r[i] = _mm_loadu_ps(x + 4 * i);
    transform(r);
    for (int i = 0; i < R; ++i)
        _mm_storeu_ps(x + 4 * i, r[i]);
}
#endif

#ifdef ORVEX_FFT_AVX
// ---------------------------------------------------------------------------
// AVX passes: four butterflies (k .. k + 3) per step, same arithmetic as SSE2.

ORVEX_TARGET_AVX ORVEX_FFT_INLINE __m256 swapPairs256(__m256 z) { return _mm256_permute_ps(z, _MM_SHUFFLE(2, 3, 0, 1)); }

ORVEX_TARGET_AVX ORVEX_FFT_INLINE __m256 multiply256(__m256 z, __m256 w)
{
    const __m256 re = _mm256_mul_ps(_mm256_moveldup_ps(z), w);
    return _mm256_addsub_ps(re, _mm256_mul_ps(_mm256_movehdup_ps(z), swapPairs256(w)));
}

ORVEX_TARGET_AVX ORVEX_FFT_INLINE __m256 multiplyConjugate256(__m256 z, __m256 w)
{
    const __m256 signOdd = _mm256_castsi256_ps(_mm256_setr_epi32(0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN));
    const __m256 re = _mm256_xor_ps(_mm256_mul_ps(_mm256_moveldup_ps(z), w), signOdd);
    return _mm256_add_ps(re, _mm256_mul_ps(_mm256_movehdup_ps(z), swapPairs256(w)));
}

ORVEX_TARGET_AVX ORVEX_FFT_INLINE __m256 timesI256(__m256 z)
{
    const __m256 signEven = _mm256_castsi256_ps(_mm256_setr_epi32(INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0));
    return _mm256_xor_ps(swapPairs256(z), signEven);
}

template <int N, bool Inverse>
ORVEX_TARGET_AVX ORVEX_FFT_INLINE void butterflies256(float* p, __m256 w)
{
    constexpr int q = 2 * (N / 4);
    const __m256 a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + q);
    const __m256 c = _mm256_loadu_ps(p + 2 * q), d = _mm256_loadu_ps(p + 3 * q);
    if constexpr (!Inverse) {
        const __m256 u = _mm256_sub_ps(a, c);
        const __m256 iv = timesI256(_mm256_sub_ps(b, d));
        _mm256_storeu_ps(p, _mm256_add_ps(a, c));
        _mm256_storeu_ps(p + q, _mm256_add_ps(b, d));
        _mm256_storeu_ps(p + 2 * q, multiply256(_mm256_add_ps(u, iv), w));
        _mm256_storeu_ps(p + 3 * q, multiplyConjugate256(_mm256_sub_ps(u, iv), w));
    } else {
        const __m256 s1 = multiplyConjugate256(c, w);
        const __m256 s3 = multiply256(d, w);
        const __m256 sum = _mm256_add_ps(s1, s3);
        const __m256 idiff = timesI256(_mm256_sub_ps(s1, s3));
        _mm256_storeu_ps(p, _mm256_add_ps(a, sum));
        _mm256_storeu_ps(p + 2 * q, _mm256_sub_ps(a, sum));
        _mm256_storeu_ps(p + q, _mm256_sub_ps(b, idiff));
        _mm256_storeu_ps(p + 3 * q, _mm256_add_ps(b, idiff));
    }
}

// Twiddles of k .. k + 3 for k above N/8 of an eighth-wave table: entries
// j - 3 .. j (j = N/4 - k) reversed, each with its components swapped.
ORVEX_TARGET_AVX ORVEX_FFT_INLINE __m256 reversedTwiddles256(const float* entries)
{
    const __m256 v = _mm256_loadu_ps(entries);
    return _mm256_permute_ps(_mm256_permute2f128_ps(v, v, 1), _MM_SHUFFLE(0, 1, 2, 3));
}

template <int N, bool Inverse>
ORVEX_TARGET_AVX void pass256(float* x, const TwiddleTables& t)
{
    const float* e = t.byLog[log2Of(N)]; // entry m at e + 2 (m - 1)
    butterflies256<N, Inverse>(x, _mm256_loadu_ps(t.firstFour[log2Of(N)]));
    if constexpr (N <= kLargestQuarterWaveTable) {
        for (int k = 4; k < N / 4; k += 4)
            butterflies256<N, Inverse>(x + 2 * k, _mm256_loadu_ps(e + 2 * (k - 1)));
    } else {
        for (int k = 4; k < N / 8; k += 4)
            butterflies256<N, Inverse>(x + 2 * k, _mm256_loadu_ps(e + 2 * (k - 1)));
        const float* f1 = e + 2 * (N / 8 - 2);
        const float* f2 = f1 - 2;
        const float* f3 = f2 - 2;
        butterflies256<N, Inverse>(x + 2 * (N / 8), _mm256_setr_ps(t.c8, t.c8, f1[1], f1[0], f2[1], f2[0], f3[1], f3[0]));
        for (int k = N / 8 + 4; k < N / 4; k += 4)
            butterflies256<N, Inverse>(x + 2 * k, reversedTwiddles256(e + 2 * (N / 4 - k - 4)));
    }
}

// The same unrolled recursion as Transform, compiled for AVX; sizes up to 16
// run in 128-bit registers.
template <int N>
struct TransformAvx
{
    ORVEX_TARGET_AVX static void forward(float* x, const TwiddleTables& t)
    {
        pass256<N, false>(x, t);
        TransformAvx<N / 2>::forward(x, t);
        TransformAvx<N / 4>::forward(x + N, t);
        TransformAvx<N / 4>::forward(x + 3 * N / 2, t);
    }

    ORVEX_TARGET_AVX static void inverse(float* x, const TwiddleTables& t)
    {
        TransformAvx<N / 2>::inverse(x, t);
        TransformAvx<N / 4>::inverse(x + N, t);
        TransformAvx<N / 4>::inverse(x + 3 * N / 2, t);
        pass256<N, true>(x, t);
    }
};

template <int R>
ORVEX_TARGET_AVX ORVEX_FFT_INLINE void loadRegisters(const float* x, __m128* r)
{
    for (int i = 0; i < R; ++i)
        r[i] = _mm_loadu_ps(x + 4 * i);
}

template <int R>
ORVEX_TARGET_AVX ORVEX_FFT_INLINE void storeRegisters(float* x, const __m128* r)
{
    for (int i = 0; i < R; ++i)
        _mm_storeu_ps(x + 4 * i, r[i]);
}

template <>
struct TransformAvx<16>
{
    ORVEX_TARGET_AVX static void forward(float* x, const TwiddleTables& t)
    {
        __m128 r[8];
        loadRegisters<8>(x, r);
        forward16(r, t);
        storeRegisters<8>(x, r);
    }

    ORVEX_TARGET_AVX static void inverse(float* x, const TwiddleTables& t)
    {
        __m128 r[8];
        loadRegisters<8>(x, r);
        inverse16(r, t);
        storeRegisters<8>(x, r);
    }
};

template <>
struct TransformAvx<8>
{
    ORVEX_TARGET_AVX static void forward(float* x, const TwiddleTables& t)
    {
        __m128 r[4];
        loadRegisters<4>(x, r);
        forward8(r, t);
        storeRegisters<4>(x, r);
    }

    ORVEX_TARGET_AVX static void inverse(float* x, const TwiddleTables& t)
    {
        __m128 r[4];
        loadRegisters<4>(x, r);
        inverse8(r, t);
        storeRegisters<4>(x, r);
    }
};

template <>
struct TransformAvx<4>
{
    ORVEX_TARGET_AVX static void forward(float* x, const TwiddleTables&)
    {
        __m128 r[2];
        loadRegisters<2>(x, r);
        forward4(r[0], r[1]);
        storeRegisters<2>(x, r);
    }

    ORVEX_TARGET_AVX static void inverse(float* x, const TwiddleTables&)
    {
        __m128 r[2];
        loadRegisters<2>(x, r);
        inverse4(r[0], r[1]);
        storeRegisters<2>(x, r);
    }
};
#endif

template <int N, bool Vector>
inline void forwardPass(float* x, const TwiddleTables& t)
{
#ifdef ORVEX_FFT_SSE2
    if constexpr (Vector && N >= kSmallestVectorPass) {
        forwardPassVector<N>(x, t);
        return;
    }
#endif
    forwardPassScalar<N>(x, t);
}

template <int N, bool Vector>
inline void inversePass(float* x, const TwiddleTables& t)
{
#ifdef ORVEX_FFT_SSE2
    if constexpr (Vector && N >= kSmallestVectorPass) {
        inversePassVector<N>(x, t);
        return;
    }
#endif
    inversePassScalar<N>(x, t);
}

// ---------------------------------------------------------------------------
// One routine per size, unrolled at compile time into a fixed sequence of
// passes and smaller transforms.

template <int N, bool Vector>
struct Transform
{
    static void forward(float* x, const TwiddleTables& t)
    {
        forwardPass<N, Vector>(x, t);
        Transform<N / 2, Vector>::forward(x, t);
        Transform<N / 4, Vector>::forward(x + N, t);
        Transform<N / 4, Vector>::forward(x + 3 * N / 2, t);
    }

    static void inverse(float* x, const TwiddleTables& t)
    {
        Transform<N / 2, Vector>::inverse(x, t);
        Transform<N / 4, Vector>::inverse(x + N, t);
        Transform<N / 4, Vector>::inverse(x + 3 * N / 2, t);
        inversePass<N, Vector>(x, t);
    }
};

#ifdef ORVEX_FFT_SSE2
template <>
struct Transform<16, true>
{
    static void forward(float* x, const TwiddleTables& t) { inRegisters<8>(x, [&t](__m128* r) { forward16(r, t); }); }
    static void inverse(float* x, const TwiddleTables& t) { inRegisters<8>(x, [&t](__m128* r) { inverse16(r, t); }); }
};

template <>
struct Transform<8, true>
{
    static void forward(float* x, const TwiddleTables& t) { inRegisters<4>(x, [&t](__m128* r) { forward8(r, t); }); }
    static void inverse(float* x, const TwiddleTables& t) { inRegisters<4>(x, [&t](__m128* r) { inverse8(r, t); }); }
};

template <>
struct Transform<4, true>
{
    static void forward(float* x, const TwiddleTables&) { inRegisters<2>(x, [](__m128* r) { forward4(r[0], r[1]); }); }
    static void inverse(float* x, const TwiddleTables&) { inRegisters<2>(x, [](__m128* r) { inverse4(r[0], r[1]); }); }
};
#endif

template <bool Vector>
struct Transform<2, Vector>
{
    static void forward(float* x, const TwiddleTables&)
    {
        const float ar = x[0], ai = x[1];
        x[0] = ar + x[2];
        x[1] = ai + x[3];
        x[2] = ar - x[2];
        x[3] = ai - x[3];
    }
    static void inverse(float* x, const TwiddleTables& t) { forward(x, t); }
};

template <bool Vector>
struct Transform<1, Vector>
{
    static void forward(float*, const TwiddleTables&) {}
    static void inverse(float*, const TwiddleTables&) {}
};

template <int N>
void runScalar(float* data, bool inverse, const TwiddleTables& t)
{
    if (inverse)
        Transform<N, false>::inverse(data, t);
    else
        Transform<N, false>::forward(data, t);
}

template <int N>
void runSse2(float* data, bool inverse, const TwiddleTables& t)
{
    if (inverse)
        Transform<N, true>::inverse(data, t);
    else
        Transform<N, true>::forward(data, t);
}

#ifdef ORVEX_FFT_AVX
template <int N>
ORVEX_TARGET_AVX void runAvx(float* data, bool inverse, const TwiddleTables& t)
{
    if constexpr (N < 4) {
        runSse2<N>(data, inverse, t);
    } else if (inverse) {
        TransformAvx<N>::inverse(data, t);
    } else {
        TransformAvx<N>::forward(data, t);
    }
}
#endif

template <int N>
bool runIfSize(FftPath path, int n, float* data, bool inverse, const TwiddleTables& t)
{
    if (n != N)
        return false;
    switch (path) {
    case FftPath::kScalar:
        runScalar<N>(data, inverse, t);
        break;
    case FftPath::kSse2:
        runSse2<N>(data, inverse, t);
        break;
    case FftPath::kAvx:
#ifdef ORVEX_FFT_AVX
        runAvx<N>(data, inverse, t);
#endif
        break;
    }
    return true;
}

template <int... Log>
void dispatch(FftPath path, int n, float* data, bool inverse, std::integer_sequence<int, Log...>)
{
    if (!data || !fftPathAvailable(path))
        return;
    const TwiddleTables& t = tables();
    (runIfSize<2 << Log>(path, n, data, inverse, t) || ...);
}

// Sizes 2 << 0 .. 2 << 14, that is 2 .. 32768.
using SupportedSizes = std::make_integer_sequence<int, 15>;

bool processorHasAvx()
{
#ifdef ORVEX_FFT_AVX
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
#else
    return false;
#endif
}

FftPath fastestPath()
{
    static const FftPath fastest = processorHasAvx() ? FftPath::kAvx
#ifdef ORVEX_FFT_SSE2
                                                     : FftPath::kSse2;
#else
                                                     : FftPath::kScalar;
#endif
    return fastest;
}
} // namespace

bool fftPathAvailable(FftPath path)
{
    switch (path) {
    case FftPath::kScalar:
        return true;
    case FftPath::kSse2:
#ifdef ORVEX_FFT_SSE2
        return true;
#else
        return false;
#endif
    case FftPath::kAvx:
        return fastestPath() == FftPath::kAvx;
    }
    return false;
}

void fftForward(FftPath path, int n, float* data) { dispatch(path, n, data, false, SupportedSizes{}); }
void fftInverse(FftPath path, int n, float* data) { dispatch(path, n, data, true, SupportedSizes{}); }
void fftForward(int n, float* data) { dispatch(fastestPath(), n, data, false, SupportedSizes{}); }
void fftInverse(int n, float* data) { dispatch(fastestPath(), n, data, true, SupportedSizes{}); }

void buildFftTables() { tables(); }

void multiplySpectraScalar(int n, const float* a, const float* b, float* product)
{
    for (int i = 0; i < 2 * n; i += 2) {
        const float re = a[i] * b[i] - a[i + 1] * b[i + 1];
        const float im = a[i] * b[i + 1] + a[i + 1] * b[i];
        product[i] = re;
        product[i + 1] = im;
    }
}

void multiplyAddSpectraScalar(int n, const float* a, const float* b, float* accumulator)
{
    for (int i = 0; i < 2 * n; i += 2) {
        const float re = a[i] * b[i] - a[i + 1] * b[i + 1];
        const float im = a[i] * b[i + 1] + a[i + 1] * b[i];
        accumulator[i] += re;
        accumulator[i + 1] += im;
    }
}

#ifdef ORVEX_FFT_AVX
namespace
{
template <bool Accumulate>
ORVEX_TARGET_AVX void multiplySpectraAvx(int n, const float* a, const float* b, float* out)
{
    int i = 0;
    for (; i + 8 <= 2 * n; i += 8) {
        __m256 product = multiply256(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i));
        if constexpr (Accumulate)
            product = _mm256_add_ps(_mm256_loadu_ps(out + i), product);
        _mm256_storeu_ps(out + i, product);
    }
    if constexpr (Accumulate)
        multiplyAddSpectraScalar((2 * n - i) / 2, a + i, b + i, out + i);
    else
        multiplySpectraScalar((2 * n - i) / 2, a + i, b + i, out + i);
}
} // namespace
#endif

#ifdef ORVEX_FFT_SSE2
namespace
{
template <bool Accumulate>
void multiplySpectraSse2(int n, const float* a, const float* b, float* out)
{
    int i = 0;
    for (; i + 4 <= 2 * n; i += 4) {
        __m128 product = multiply(_mm_loadu_ps(a + i), _mm_loadu_ps(b + i));
        if constexpr (Accumulate)
            product = _mm_add_ps(_mm_loadu_ps(out + i), product);
        _mm_storeu_ps(out + i, product);
    }
    if constexpr (Accumulate)
        multiplyAddSpectraScalar((2 * n - i) / 2, a + i, b + i, out + i);
    else
        multiplySpectraScalar((2 * n - i) / 2, a + i, b + i, out + i);
}
} // namespace

void multiplySpectra(int n, const float* a, const float* b, float* product)
{
#ifdef ORVEX_FFT_AVX
    if (fastestPath() == FftPath::kAvx)
        return multiplySpectraAvx<false>(n, a, b, product);
#endif
    multiplySpectraSse2<false>(n, a, b, product);
}

void multiplyAddSpectra(int n, const float* a, const float* b, float* accumulator)
{
#ifdef ORVEX_FFT_AVX
    if (fastestPath() == FftPath::kAvx)
        return multiplySpectraAvx<true>(n, a, b, accumulator);
#endif
    multiplySpectraSse2<true>(n, a, b, accumulator);
}
#else
void multiplySpectra(int n, const float* a, const float* b, float* product)
{
    multiplySpectraScalar(n, a, b, product);
}

void multiplyAddSpectra(int n, const float* a, const float* b, float* accumulator)
{
    multiplyAddSpectraScalar(n, a, b, accumulator);
}
#endif

int fftFrequencyAt(int n, int position)
{
    if (n <= 2)
        return position;
    if (position < n / 2)
        return 2 * fftFrequencyAt(n / 2, position);
    if (position < 3 * n / 4)
        return 4 * fftFrequencyAt(n / 4, position - n / 2) + 1;
    return (4 * fftFrequencyAt(n / 4, position - 3 * n / 4) - 1 + n) % n;
}
} // namespace Dsp
