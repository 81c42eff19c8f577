#include "Dither.h"

#include <sndfile.h>

#include <cmath>

Dither::Dither(int bits, DitherKind kind, std::uint64_t seed)
    : steps(std::ldexp(1.0, bits - 1)), noise(kind == DitherKind::tpdf ? std::ldexp(1.0, -32) : 0.0),
      state(seed ? seed : 1)
{
}

void Dither::apply(float* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
    {
        // xorshift64*: two independent 32-bit uniforms from one draw.
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        const std::uint64_t draw = state * 0x2545F4914F6CDD1Du;
        const std::int64_t triangle = static_cast<std::int64_t>(draw >> 32) +
                                      static_cast<std::int64_t>(draw & 0xFFFFFFFFu) - (std::int64_t{1} << 32);
        // In steps, in double: a float near full scale has no room below a 24-bit step.
        const double value = static_cast<double>(samples[i]) * steps + noise * static_cast<double>(triangle);
        samples[i] = static_cast<float>(std::nearbyint(value) / steps);
    }
}

int Dither::bitsOf(int format)
{
    switch (format & SF_FORMAT_SUBMASK)
    {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return 8;
    case SF_FORMAT_PCM_16: return 16;
    case SF_FORMAT_PCM_24: return 24;
    default: return 0;
    }
}
