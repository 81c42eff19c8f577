#include "crossover/GrowableBuffer.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace
{
constexpr int kPage = 4096;
constexpr long long kMaximumIncrement = 4194304;
// Keeps the block plus the C library's bookkeeping just under whole pages.
constexpr long long kHeaderReserve = 96;

void* libraryReallocate(void* block, std::size_t bytes) { return std::realloc(block, bytes); }
void* libraryAllocate(std::size_t bytes) { return std::malloc(bytes); }

const GrowableBuffer::Allocator kLibraryAllocator = {libraryReallocate, libraryAllocate};
const GrowableBuffer::Allocator* currentAllocator = &kLibraryAllocator;
} // namespace

void GrowableBuffer::setAllocatorForTesting(const Allocator* allocator)
{
    currentAllocator = allocator ? allocator : &kLibraryAllocator;
}

GrowableBuffer::~GrowableBuffer()
{
    std::free(storage);
}

GrowableBuffer::GrowableBuffer(GrowableBuffer&& other) noexcept
    : granularity(other.granularity), minimumCapacity(other.minimumCapacity),
      storage(other.storage), allocated(other.allocated), used(other.used)
{
    other.storage = nullptr;
    other.allocated = 0;
    other.used = 0;
}

GrowableBuffer& GrowableBuffer::operator=(GrowableBuffer&& other) noexcept
{
    if (this != &other) {
        std::free(storage);
        granularity = other.granularity;
        minimumCapacity = other.minimumCapacity;
        storage = other.storage;
        allocated = other.allocated;
        used = other.used;
        other.storage = nullptr;
        other.allocated = 0;
        other.used = 0;
    }
    return *this;
}

void GrowableBuffer::release()
{
    std::free(storage);
    storage = nullptr;
    allocated = 0;
    used = 0;
}

bool GrowableBuffer::needsReallocation(int newSize, bool allowShrink) const
{
    if (newSize > allocated)
        return true;
    const long long farBelow = static_cast<long long>(allocated) - 4LL * granularity;
    return allowShrink && newSize < used && newSize < allocated / 2 && newSize < farBelow;
}

long long GrowableBuffer::grownCapacity(int newSize) const
{
    long long increment = std::max(newSize / 2, granularity);
    long long capacity;
    if (granularity < kPage) {
        capacity = increment + newSize;
    } else {
        increment = std::clamp(increment / kPage * kPage, static_cast<long long>(kPage), kMaximumIncrement);
        capacity = (increment + newSize + kHeaderReserve) / kPage * kPage - kHeaderReserve;
    }
    capacity = std::max(capacity, static_cast<long long>(minimumCapacity));
    // A granularity of 0 or below must still yield room for the new size.
    return std::max(capacity, static_cast<long long>(newSize));
}

bool GrowableBuffer::reallocate(int newCapacity, int newSize)
{
    if (newCapacity == 0) {
        std::free(storage);
        storage = nullptr;
        allocated = 0;
        return true;
    }
    const auto bytes = static_cast<std::size_t>(newCapacity);
    if (void* moved = currentAllocator->reallocate(storage, bytes)) {
        storage = moved;
        allocated = newCapacity;
        return true;
    }
    // realloc may fail where a fresh block and a copy still succeed.
    void* fresh = currentAllocator->allocate(bytes);
    if (!fresh)
        return false;
    const int keep = std::min(used, newSize);
    if (keep > 0)
        std::memcpy(fresh, storage, static_cast<std::size_t>(keep));
    std::free(storage);
    storage = fresh;
    allocated = newCapacity;
    return true;
}

void* GrowableBuffer::resize(int newSize, bool allowShrink)
{
    if (newSize != used && newSize >= 0) {
        bool ok = true;
        if (needsReallocation(newSize, allowShrink)) {
            const long long capacity = grownCapacity(newSize);
            if (capacity > INT_MAX)
                ok = false;
            else if (capacity != allocated)
                ok = reallocate(static_cast<int>(capacity), newSize);
        }
        if (ok)
            used = newSize;
    }
    return used > 0 ? storage : nullptr;
}
