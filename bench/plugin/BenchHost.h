// What the plug-in benchmarks share as a host: the host callback a loaded
// effect is given, and the processor time of the calling thread, by which
// block times are taken (a block preempted by another process on a shared
// machine does not count as slow).
#pragma once

#include "vst/AEffect.h"

#include <time.h>

namespace BenchHost
{
inline VstIntPtr ORVEX_VSTCALL callback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

inline double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
} // namespace BenchHost
