// An independent double-precision model of the crossover, for checking the
// effect against: Butterworth filters by the bilinear transform written from
// the textbook Q-factor form, the band kernels as the autocorrelation of each
// band's impulse response, and the analytic band magnitudes.
#pragma once

#include <array>
#include <vector>

namespace Reference
{

// One band: a high-pass at lowerHz (none when 0) and a low-pass at upperHz (none when 0).
struct Band
{
    double lowerHz = 0.0;
    double upperHz = 0.0;
    int lowerOrder = 0;
    int upperOrder = 0;
};

// The five bands of four crossovers given as normalised parameter values.
std::array<Band, 5> bands(const std::array<float, 4>& frequencyValues, const std::array<float, 4>& slopeValues,
                          double sampleRate);

// |H_hp(f)|^2 |H_lp(f)|^2 of the band's IIR filters: the kernel's magnitude.
double kernelMagnitude(const Band& band, double hz, double sampleRate);

// The band's IIR impulse response (high-pass then low-pass), `length` samples.
std::vector<double> impulseResponse(const Band& band, double sampleRate, int length);

// Half length of a band: the first multiple of 256, at least max(256, minLength),
// at which the response's envelope (x0.9 per sample, raised to |h|) is at most 1e-7.
int halfLength(const Band& band, double sampleRate, int minLength);

// The half length all five bands share: m := max(m, halfLength(m)) until settled.
int commonHalfLength(const std::array<Band, 5>& bands, double sampleRate);

// 2 len taps: sum_j h[j] h[n - (len - 1) + j] over the first len samples of h,
// peaking at index len - 1.
std::vector<double> kernel(const Band& band, double sampleRate, int len);

} // namespace Reference
