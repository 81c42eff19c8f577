// A heap byte block with a fixed growth policy: the storage type of every
// sample, kernel and spectrum buffer on the audio path.
//
// Growth adds at least half the requested size (rounded to whole pages), so
// repeated growth by small steps reallocates rarely; the storage is kept when
// the size drops unless shrinking is asked for and the size falls far below
// the capacity. resize() allocates only when it grows past the capacity or
// shrinks on request; an allocation failure leaves the buffer unchanged.
// Not safe for concurrent use.
#pragma once

#include <cstddef>

class GrowableBuffer
{
public:
    static constexpr int kDefaultGranularity = 4096;

    GrowableBuffer() = default;
    ~GrowableBuffer();
    GrowableBuffer(GrowableBuffer&& other) noexcept;
    GrowableBuffer& operator=(GrowableBuffer&& other) noexcept;
    GrowableBuffer(const GrowableBuffer&) = delete;
    GrowableBuffer& operator=(const GrowableBuffer&) = delete;

    // Sets the size in bytes. The first min(old, new) bytes are preserved;
    // bytes beyond the old size are not initialised. Returns the data, or null
    // when the resulting size is 0. On allocation failure (or a negative or
    // unrepresentable size) nothing changes and the old data pointer is returned.
    void* resize(int newSize, bool allowShrink = false);

    // Frees the storage: size and capacity become 0.
    void release();

    void* data() const { return storage; }
    int size() const { return used; }
    int capacity() const { return allocated; }

    template <class T> T* as() const { return static_cast<T*>(storage); }
    // Whole elements of type T in use.
    template <class T> int count() const { return used / static_cast<int>(sizeof(T)); }

    // Growth step in bytes; below 4096 capacities are not rounded to pages.
    int granularity = kDefaultGranularity;
    // A computed capacity below this is raised to it.
    int minimumCapacity = 0;

    // Replaceable allocator, so tests can make allocations fail. Must be set
    // only while no buffer is being resized on another thread.
    struct Allocator
    {
        void* (*reallocate)(void* block, std::size_t bytes);
        void* (*allocate)(std::size_t bytes);
    };
    // Passing null restores the C library allocator.
    static void setAllocatorForTesting(const Allocator* allocator);

private:
    bool needsReallocation(int newSize, bool allowShrink) const;
    long long grownCapacity(int newSize) const;
    bool reallocate(int newCapacity, int newSize);

    void* storage = nullptr;
    int allocated = 0;
    int used = 0;
};
