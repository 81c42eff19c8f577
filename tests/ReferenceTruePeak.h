// The independent true-peak reference the tests check against: the largest
// magnitude of a signal interpolated at sixteenths of a sample by a
// Kaiser-windowed (beta 12) sinc over +-256 samples, in double precision,
// with silence before and after the signal: longer and finer than anything
// the limiter computes, flat to about 0.49 of the rate. Slow: about a second
// per second of audio.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

inline double referenceTruePeak(const std::vector<float>& x)
{
    constexpr double kPi = 3.14159265358979323846;
    constexpr int kHalf = 256;
    constexpr int kFactor = 16;
    auto bessel = [](double v) {
        double sum = 1.0, term = 1.0;
        for (int k = 1; k < 60; ++k)
        {
            term *= (v / (2 * k)) * (v / (2 * k));
            sum += term;
        }
        return sum;
    };
    std::vector<double> taps[kFactor];
    for (int p = 1; p < kFactor; ++p)
        for (int k = -kHalf + 1; k <= kHalf; ++k)
        {
            const double t = k - static_cast<double>(p) / kFactor; // distance from the point to sample i + k
            const double r = t / kHalf;
            taps[p].push_back(std::sin(kPi * t) / (kPi * t) * bessel(12.0 * std::sqrt(1.0 - r * r)) / bessel(12.0));
        }
    const int n = static_cast<int>(x.size());
    std::vector<double> padded(static_cast<std::size_t>(n + 2 * kHalf), 0.0);
    std::copy(x.begin(), x.end(), padded.begin() + kHalf);
    double peak = 0.0;
    for (int i = 0; i < n; ++i)
    {
        peak = std::max(peak, std::fabs(static_cast<double>(x[static_cast<std::size_t>(i)])));
        const double* around = &padded[static_cast<std::size_t>(i + 1)]; // x[i - kHalf + 1]
        for (int p = 1; p < kFactor; ++p)
        {
            double sum = 0.0;
            for (int k = 0; k < 2 * kHalf; ++k)
                sum += taps[p][static_cast<std::size_t>(k)] * around[k];
            peak = std::max(peak, std::fabs(sum));
        }
    }
    return peak;
}

