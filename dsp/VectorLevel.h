// The widest vector instructions the paths chosen at run time may use: what
// the processor offers, or less where the environment variable
// ORVEX_VECTOR_LEVEL asks for "avx2" or "baseline", so that tests and
// benchmarks can run the narrower paths on any processor. Looked up once.
#pragma once

namespace Dsp
{
enum class VectorLevel
{
    kBaseline, // what the compiler targets by default
    kAvx2,     // AVX2 with FMA
    kAvx512,   // AVX-512 F, on processors that keep their clock with it
};

VectorLevel vectorLevel();

// Of the versions of one routine, the one for vectorLevel().
template <typename Routine>
Routine widest(Routine avx512, Routine avx2, Routine baseline)
{
    switch (vectorLevel())
    {
    case VectorLevel::kAvx512:
        return avx512;
    case VectorLevel::kAvx2:
        return avx2;
    case VectorLevel::kBaseline:
        break;
    }
    return baseline;
}
} // namespace Dsp
