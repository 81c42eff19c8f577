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
} // namespace Dsp
