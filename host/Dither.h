// Brings float samples to the word length of an integer file: TPDF dither,
// then rounding to the nearest step, so that the file's own conversion is
// exact. (libsndfile's clipping conversion rounds toward minus infinity: a
// DC offset of half a step and truncation distortion.)
//
// TPDF dither adds to each sample the sum of two independent uniform values
// of +-1/2 step (a triangular density over +-1 step). The rounding error is
// then noise of constant power (step^2 / 4), independent of the signal,
// instead of distortion that follows it: a quiet fade-out stays a tone in
// soft noise rather than a buzz of harmonics.
//
// Applied once, to the final samples on their way to the file (WriteBehind).
// One object per output file and thread; apply() allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>

enum class DitherKind
{
    none, // rounding only
    tpdf,
};

class Dither
{
public:
    // bits: the file's word length (16 for pcm16). A fixed seed makes every
    // render of the same input the same file.
    Dither(int bits, DitherKind kind, std::uint64_t seed = 0x9E3779B97F4A7C15u);

    // Dithers and rounds `count` samples in place, each independently.
    void apply(float* samples, std::size_t count);

    // The word length of an SF_FORMAT_* subtype holding integer samples that
    // this applies to (8, 16, 24), else 0 (float, compressed, and 32-bit
    // integers, finer than a float's mantissa).
    static int bitsOf(int format);

private:
    double steps;  // steps per unit of full scale: libsndfile scales by 2^(bits - 1)
    double noise;  // one step divided by 2^32, the range of each uniform value; 0 without dither
    std::uint64_t state;
};
