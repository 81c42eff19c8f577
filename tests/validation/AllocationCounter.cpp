#include "AllocationCounter.h"

#include "ValidationHost.h"

#include <cerrno>
#include <cstddef>

#if defined(__linux__) && defined(__GLIBC__) && !defined(ORVEX_VALIDATION_SANITIZED)
#define ORVEX_COUNT_ALLOCATIONS 1
#endif

#if defined(ORVEX_COUNT_ALLOCATIONS)

// The C library's own allocator, which the definitions below forward to.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* block, std::size_t size);
extern "C" void* __libc_memalign(std::size_t alignment, std::size_t size);
extern "C" void __libc_free(void* block);

namespace
{
// Initial-exec thread locals of the executable: reading them never allocates.
__attribute__((tls_model("initial-exec"))) thread_local bool counting = false;
__attribute__((tls_model("initial-exec"))) thread_local long allocationCount = 0;
__attribute__((tls_model("initial-exec"))) thread_local long freeCount = 0;

void noteAllocation()
{
    if (counting)
        ++allocationCount;
}
} // namespace

extern "C" void* malloc(std::size_t size) noexcept
{
    noteAllocation();
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept
{
    noteAllocation();
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, std::size_t size) noexcept
{
    noteAllocation();
    return __libc_realloc(block, size);
}

extern "C" void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    noteAllocation();
    return __libc_memalign(alignment, size);
}

extern "C" void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    noteAllocation();
    return __libc_memalign(alignment, size);
}

extern "C" int posix_memalign(void** place, std::size_t alignment, std::size_t size) noexcept
{
    noteAllocation();
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr)
        return ENOMEM;
    *place = block;
    return 0;
}

extern "C" void free(void* block) noexcept
{
    if (counting && block != nullptr)
        ++freeCount;
    __libc_free(block);
}

namespace AllocationCounter
{
bool available() { return true; }
void start()
{
    allocationCount = 0;
    freeCount = 0;
    counting = true;
}
void stop() { counting = false; }
long allocations() { return allocationCount; }
long frees() { return freeCount; }
} // namespace AllocationCounter

#else

namespace AllocationCounter
{
bool available() { return false; }
void start() {}
void stop() {}
long allocations() { return 0; }
long frees() { return 0; }
} // namespace AllocationCounter

#endif
