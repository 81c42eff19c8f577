#include "dsp/VectorLevel.h"

#include <cstdlib>
#include <cstring>

namespace Dsp
{
namespace
{
VectorLevel offered()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    // The first processors with AVX-512 (before VBMI2 came) lower the clock
    // of the whole core for a while after heavy 512-bit work, which would slow
    // everything else the audio thread does; on them the meters keep to AVX2.
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vbmi2"))
        return VectorLevel::kAvx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return VectorLevel::kAvx2;
#endif
    return VectorLevel::kBaseline;
}

VectorLevel chosen()
{
    const VectorLevel level = offered();
    const char* asked = std::getenv("ORVEX_VECTOR_LEVEL");
    if (asked != nullptr && std::strcmp(asked, "baseline") == 0)
        return VectorLevel::kBaseline;
    if (asked != nullptr && std::strcmp(asked, "avx2") == 0 && level == VectorLevel::kAvx512)
        return VectorLevel::kAvx2;
    return level;
}
} // namespace

VectorLevel vectorLevel()
{
    // A local static: callers choose their paths while libraries load, in
    // whatever order their initializers run.
    static const VectorLevel level = chosen();
    return level;
}
} // namespace Dsp
