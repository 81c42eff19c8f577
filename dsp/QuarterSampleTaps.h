// The interpolator common true-peak meters use: a 49-tap Hann-windowed sinc
// at four times the rate, taken as it is (not scaled to unity gain), as three
// phases of twelve taps: the point at x[i] + r / 4 (r = 1, 2, 3) is
// sum over k of phases[r - 1][k] x[i + kAhead - k], reading x[i - 5] to
// x[i + kAhead]. Header-only: the maximizer and the multiband effect share it.
#pragma once

#include <array>
#include <cmath>

namespace Dsp
{
constexpr int kQuarterSampleTaps = 12;
constexpr int kQuarterSampleAhead = 6;
using QuarterSamplePhases = std::array<std::array<float, kQuarterSampleTaps>, 3>;

inline QuarterSamplePhases quarterSamplePhases()
{
    constexpr double kPi = 3.14159265358979323846;
    QuarterSamplePhases phases{};
    // Tap j of the 49 sits at j - 24 quarter samples.
    for (int r = 1; r < 4; ++r)
        for (int k = 0; k < kQuarterSampleTaps; ++k)
        {
            const int j = r + 4 * k;
            const double m = (j - 24) / 4.0;
            const double window = 0.5 * (1.0 - std::cos(2.0 * kPi * j / 48.0));
            phases[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(k)] =
                static_cast<float>(std::sin(kPi * m) / (kPi * m) * window);
        }
    return phases;
}
} // namespace Dsp
