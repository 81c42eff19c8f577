#include "TruePeakDetector.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace
{
constexpr double kPi = 3.14159265358979323846;

// Four-term Blackman-Harris window over |t| < halfWidth: sidelobes 92 dB down,
// so the images of the 4x interpolation are rejected that far, and a main lobe
// of +-4/(2 halfWidth) cycles per sample, which sets the transition band
// around Nyquist.
double blackmanHarris(double t, double halfWidth)
{
    const double r = t / halfWidth;
    if (r <= -1.0 || r >= 1.0)
        return 0.0;
    const double w = 2.0 * kPi * (0.5 + 0.5 * r);
    return 0.35875 - 0.48829 * std::cos(w) + 0.14128 * std::cos(2.0 * w) - 0.01168 * std::cos(3.0 * w);
}

double sinc(double t)
{
    return t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t);
}
} // namespace

TruePeakDetector::TruePeakDetector()
{
    for (int phase = 1; phase < kPhases; ++phase)
    {
        const double fraction = static_cast<double>(phase) / kPhases;
        std::array<double, kTaps> h{};
        double sum = 0.0;
        for (int j = 0; j < kTaps; ++j)
        {
            // Tap j weighs x[i - j]; the interpolated point lies j - kDelay + fraction after it.
            const double t = j - kDelay + fraction;
            h[j] = sinc(t) * blackmanHarris(t, kDelay);
            sum += h[j];
        }
        // Unity gain at DC for every phase, so steps and DC are not mistaken for overshoots.
        for (int j = 0; j < kTaps; ++j)
            taps[phase - 1][j] = static_cast<float>(h[j] / sum);
    }
    // The phases mirror each other: 3/4 is 1/4 reversed and 1/2 is its own
    // mirror image. Made exact, so the folded sums below compute these taps.
    for (int j = 0; j < kFolded; ++j)
    {
        const int mirror = kTaps - 1 - j;
        taps[2][j] = taps[0][mirror];
        taps[2][mirror] = taps[0][j];
        taps[1][mirror] = taps[1][j];
        half[j] = taps[1][j];
        even[j] = 0.5f * (taps[0][j] + taps[0][mirror]);
        odd[j] = 0.5f * (taps[0][j] - taps[0][mirror]);
    }
}

void TruePeakDetector::samplePeak(const float* x, float* peak, int n)
{
    for (int i = 0; i < n; ++i)
        peak[i] = std::fabs(x[i - kDelay]);
}

void TruePeakDetector::truePeak(const float* x, float* peak, int n) const
{
    assert(n <= kMaxBlock);
    // With u = x[i - j] and v = x[i - (kTaps - 1 - j)], tap pair j adds
    // h1 u + h1' v to phase 1/4 and h1' u + h1 v to phase 3/4 (h1' the
    // mirrored tap): their sum and difference need one product each, and
    // phase 1/2 one more, where the plain sums need six.
    float sums[kMaxBlock], differences[kMaxBlock], middle[kMaxBlock];
    std::fill(sums, sums + n, 0.0f);
    std::fill(differences, differences + n, 0.0f);
    std::fill(middle, middle + n, 0.0f);
    // Two tap pairs per pass over the block: time runs in the inner loop, so
    // it vectorises over samples.
    static_assert(kFolded % 2 == 0, "tap pairs come in twos");
    for (int j = 0; j < kFolded; j += 2)
    {
        const float* near = x - j;
        const float* far = x - (kTaps - 2 - j);
        const float e0 = even[j], e1 = even[j + 1], o0 = odd[j], o1 = odd[j + 1];
        const float m0 = half[j], m1 = half[j + 1];
        for (int i = 0; i < n; ++i)
        {
            // Pair j: near[i] and far[i - 1]; pair j + 1: near[i - 1] and far[i].
            const float s0 = near[i] + far[i - 1], d0 = near[i] - far[i - 1];
            const float s1 = near[i - 1] + far[i], d1 = near[i - 1] - far[i];
            sums[i] += e0 * s0 + e1 * s1;
            differences[i] += o0 * d0 + o1 * d1;
            middle[i] += m0 * s0 + m1 * s1;
        }
    }
    for (int i = 0; i < n; ++i)
    {
        // Phases 1/4 and 3/4 are sums + differences and sums - differences:
        // the larger magnitude of the two is |sums| + |differences|.
        const float outer = std::fabs(sums[i]) + std::fabs(differences[i]);
        const float interpolated = std::max(outer, std::fabs(middle[i]));
        peak[i] = std::max(std::fabs(x[i - kDelay]), interpolated);
    }
}
