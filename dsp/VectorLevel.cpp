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
    if (__builtin_cpu_supports("avx512f"))
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
