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
}

void TruePeakDetector::samplePeak(const float* x, float* peak, int n)
{
    for (int i = 0; i < n; ++i)
        peak[i] = std::fabs(x[i - kDelay]);
}

void TruePeakDetector::truePeak(const float* x, float* peak, int n) const
{
    assert(n <= kMaxBlock);
    float a1[kMaxBlock], a2[kMaxBlock], a3[kMaxBlock];
    std::fill(a1, a1 + n, 0.0f);
    std::fill(a2, a2 + n, 0.0f);
    std::fill(a3, a3 + n, 0.0f);
    const auto& h1 = taps[0];
    const auto& h2 = taps[1];
    const auto& h3 = taps[2];
    // Four taps of all three phases per pass over the block: time runs in the
    // inner loop, so it vectorises over samples, and each input load serves
    // twelve multiplications.
    static_assert(kTaps % 4 == 0, "taps come in groups of four");
    for (int j = 0; j < kTaps; j += 4)
    {
        const float* xj = x - j;
        for (int i = 0; i < n; ++i)
        {
            const float x0 = xj[i], x1 = xj[i - 1], x2 = xj[i - 2], x3 = xj[i - 3];
            a1[i] += h1[j] * x0 + h1[j + 1] * x1 + h1[j + 2] * x2 + h1[j + 3] * x3;
            a2[i] += h2[j] * x0 + h2[j + 1] * x1 + h2[j + 2] * x2 + h2[j + 3] * x3;
            a3[i] += h3[j] * x0 + h3[j + 1] * x1 + h3[j + 2] * x2 + h3[j + 3] * x3;
        }
    }
    for (int i = 0; i < n; ++i)
    {
        const float interpolated = std::max(std::max(std::fabs(a1[i]), std::fabs(a2[i])), std::fabs(a3[i]));
        peak[i] = std::max(std::fabs(x[i - kDelay]), interpolated);
    }
}
