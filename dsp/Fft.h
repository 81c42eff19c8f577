// In-place complex FFT for power-of-two sizes 2..32768 on interleaved
// (real, imaginary) single-precision data: conjugate-pair split radix,
// decimation in frequency forward and decimation in time inverse.
//
// Spectra stay in the order the in-place recursion leaves them ("scrambled"):
// position p of a size-N forward result holds frequency s_N(p), where
// s_N(p) = p for N <= 2, 2 s_{N/2}(p) for p < N/2,
// 4 s_{N/4}(p - N/2) + 1 for N/2 <= p < 3N/4 and
// (4 s_{N/4}(p - 3N/4) - 1) mod N above. fftInverse takes that order back, so
// spectra can be multiplied element by element and inverted without any
// reordering pass. The forward transform uses exp(+2 pi i n k / N).
//
// Neither direction scales: fftInverse(fftForward(x)) = N x.
// The transforms allocate nothing, use no scratch memory, and may run
// concurrently on different data. Any n other than 2, 4, ..., 32768 (or null
// data) leaves the data unchanged.
#pragma once

namespace Dsp
{
constexpr int kFftMinSize = 2;
constexpr int kFftMaxSize = 32768;

void fftForward(int n, float* data);
void fftInverse(int n, float* data);

// Instruction paths. fftForward/fftInverse above run the fastest one the
// processor supports (chosen once, at the first call); every path computes
// the same result up to rounding, and the portable scalar one is the
// reference the vector code is tested against.
enum class FftPath
{
    kScalar,
    kSse2,
    kAvx,
};
bool fftPathAvailable(FftPath path);
// The transforms on a given path; an unavailable path leaves the data unchanged.
void fftForward(FftPath path, int n, float* data);
void fftInverse(FftPath path, int n, float* data);

// Element-wise complex products of n interleaved values, for spectra in the
// same order: product = a b, and accumulator += a b. The output may alias an
// input exactly (same pointer), but not partially.
void multiplySpectra(int n, const float* a, const float* b, float* product);
void multiplyAddSpectra(int n, const float* a, const float* b, float* accumulator);
// Portable scalar versions, the reference for the vector code.
void multiplySpectraScalar(int n, const float* a, const float* b, float* product);
void multiplyAddSpectraScalar(int n, const float* a, const float* b, float* accumulator);

// Builds the process-wide twiddle tables on the first call and does nothing
// afterwards. Thread-safe; the tables never change once built. The transforms
// build them themselves if needed, so calling this early only moves the cost.
void buildFftTables();

// The scrambled-order frequency index s_N(p) held at position p of a size-n
// forward result (for tests and diagnostics).
int fftFrequencyAt(int n, int position);
} // namespace Dsp
