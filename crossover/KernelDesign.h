// Design of the five linear-phase crossover band kernels: each band's
// Butterworth high-pass (lower edge) and low-pass (upper edge) impulse response
// is filtered again, time-reversed, by the same filters. The kernel's response
// is |H_hp|^2 * |H_lp|^2 with a pure delay of (half length - 1) samples.
//
// Everything here allocates (scratch and kernel buffers) and runs on the thread
// that rebuilds the crossovers, never on the audio path. The functions share no
// state and may run on several threads at once on different kernels.
#pragma once

#include <array>

class BandKernel;

constexpr int kBandCount = 5;
constexpr int kCrossoverCount = 4;
// Impulse responses grow, and kernel half lengths are counted, in these steps.
constexpr int kKernelStep = 256;
// Stop once the response's envelope has fallen to this.
constexpr double kKernelThreshold = 1e-7;
// Upper bound on a half length, so a non-decaying response cannot run forever.
// The steepest, lowest crossover the frequency mapping allows needs far less.
constexpr int kMaxKernelHalfLength = 1 << 18;

// One row of the band edge table. A frequency of exactly 0 means the band has
// no filter at that edge.
struct BandEdges
{
    float lowerHz = 0.0f;
    float upperHz = 0.0f;
    int lowerOrder = 0;
    int upperOrder = 0;
};

using BandEdgeTable = std::array<BandEdges, kBandCount>;

// Band 1 is a low-pass at crossover 1, band 5 a high-pass at crossover 4; band b
// in between runs from crossover b - 1 to b. Frequencies are taken in parameter
// order, neither sorted nor clamped.
BandEdgeTable bandEdgeTable(const std::array<float, kCrossoverCount>& crossoverHz,
                            const std::array<int, kCrossoverCount>& slopeSteps);

// The half length the band needs: the first multiple of 256, at least
// max(256, minLength), at which the impulse response's envelope is at most
// 1e-7. Edge frequencies are divided by sampleRate; cutoffs outside the range
// the frequency mapping produces (1e-4..0.49 of the rate) are clamped to it,
// orders to 1..8, and an edge that is NaN is treated as absent.
int estimateKernelLength(int minLength, float lowerHz, float upperHz, int lowerOrder, int upperOrder,
                         double sampleRate);
int estimateKernelLength(int minLength, const BandEdges& band, double sampleRate);

// The half length shared by all bands: starting at 256, m := max(m, estimate(m,
// band)) for the bands in order. A band whose response has not yet risen above
// the threshold after 256 samples (a very low, steep low-pass) estimates short
// and, once designed with minimum m, can run longer than m: its kernel is then
// longer than the others, and the band splitters align the bands' delays.
int commonKernelLength(const BandEdgeTable& bands, double sampleRate);

// Fills channel 0 of the kernel with 2 * len taps, len being the band's half
// length for minLength; sets the channel count to 1 and the kernel's sample
// rate. The taps peak at, and are symmetric (up to truncation) about, index
// len - 1. On allocation failure channel 0 is left empty.
void designBandKernel(BandKernel& kernel, int minLength, float lowerHz, float upperHz, int lowerOrder,
                      int upperOrder, double sampleRate);
void designBandKernel(BandKernel& kernel, int minLength, const BandEdges& band, double sampleRate);
