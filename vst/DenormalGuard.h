// Flushes denormal numbers to zero for the lifetime of the guard, and restores
// the caller's floating-point mode afterwards. Audio entry points create one on
// the stack: recursive filters and decaying gains otherwise slow down by orders
// of magnitude when their state decays into the denormal range.
#pragma once

#if defined(__SSE__) || defined(__x86_64__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>
#define ORVEX_HAVE_MXCSR 1
#endif

class DenormalGuard
{
public:
    DenormalGuard()
    {
#ifdef ORVEX_HAVE_MXCSR
        saved = _mm_getcsr();
        // Flush-to-zero (bit 15) and denormals-are-zero (bit 6).
        _mm_setcsr(saved | 0x8040u);
#elif defined(__aarch64__)
        __asm__ __volatile__("mrs %0, fpcr" : "=r"(saved));
        const unsigned long long flushToZero = saved | (1ull << 24);
        __asm__ __volatile__("msr fpcr, %0" : : "r"(flushToZero));
#endif
    }

    ~DenormalGuard()
    {
#ifdef ORVEX_HAVE_MXCSR
        _mm_setcsr(saved);
#elif defined(__aarch64__)
        __asm__ __volatile__("msr fpcr, %0" : : "r"(saved));
#endif
    }

    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
#ifdef ORVEX_HAVE_MXCSR
    unsigned int saved = 0;
#elif defined(__aarch64__)
    unsigned long long saved = 0;
#endif
};
