// The odd points of a 2x half-band interpolation stage: a Kaiser-windowed
// sinc sampled half a sample off its centre. Header-only, so the command-line
// host, which links nothing of the plug-ins, shares it with the maximizer.
#pragma once

#include <cmath>
#include <vector>

namespace Dsp
{
// Modified Bessel function of the first kind, order 0 (series to 60 terms).
inline double besselI0(double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60; ++k)
    {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

// Kaiser window of shape beta at r in [-1, 1] (1 at r = 0).
inline double kaiserWindow(double r, double beta)
{
    return besselI0(beta * std::sqrt(1.0 - r * r)) / besselI0(beta);
}

// Tap pair k = 0 .. pairs-1 weighs the points k + 1/2 either side of an odd
// point: odd[j] = sum over k of taps[k] (in[j - k] + in[j + 1 + k]). Not
// normalised: the pairs sum to about 1/2.
inline std::vector<double> halfBandPairs(int pairs, double beta)
{
    constexpr double kPi = 3.14159265358979323846;
    std::vector<double> taps(static_cast<std::size_t>(pairs));
    for (int k = 0; k < pairs; ++k)
    {
        const double t = k + 0.5;
        taps[static_cast<std::size_t>(k)] = std::sin(kPi * t) / (kPi * t) * kaiserWindow(t / pairs, beta);
    }
    return taps;
}
} // namespace Dsp
