#include "crossover/ChunkedQueue.h"
#include "crossover/FifoBuffer.h"
#include "crossover/GrowableBuffer.h"
#include "crossover/StereoRing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace
{
// Capacities from the growth rule, computed independently for comparison.
int expectedCapacity(int newSize)
{
    long long inc = newSize / 2 > 4096 ? newSize / 2 : 4096;
    inc = inc / 4096 * 4096;
    if (inc > 4194304)
        inc = 4194304;
    return static_cast<int>((inc + newSize + 96) / 4096 * 4096 - 96);
}

void fill(GrowableBuffer& buffer, unsigned char seed)
{
    auto* bytes = buffer.as<unsigned char>();
    for (int i = 0; i < buffer.size(); ++i)
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
}

bool holdsPattern(const void* data, int count, unsigned char seed)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < count; ++i) {
        if (bytes[i] != static_cast<unsigned char>(seed + i * 7))
            return false;
    }
    return true;
}

// Allocator whose reallocate and allocate calls can be made to fail.
struct FailingAllocator
{
    static inline bool failReallocate = false;
    static inline bool failAllocate = false;
    static void* reallocate(void* block, std::size_t bytes) { return failReallocate ? nullptr : std::realloc(block, bytes); }
    static void* allocate(std::size_t bytes) { return failAllocate ? nullptr : std::malloc(bytes); }
};

class AllocatorScope
{
public:
    AllocatorScope(bool failReallocate, bool failAllocate)
    {
        FailingAllocator::failReallocate = failReallocate;
        FailingAllocator::failAllocate = failAllocate;
        GrowableBuffer::setAllocatorForTesting(&allocator);
    }
    ~AllocatorScope() { GrowableBuffer::setAllocatorForTesting(nullptr); }

private:
    GrowableBuffer::Allocator allocator{FailingAllocator::reallocate, FailingAllocator::allocate};
};
} // namespace

TEST(GrowableBuffer, GrowthFollowsThePageRule)
{
    GrowableBuffer buffer;
    EXPECT_EQ(buffer.resize(0), nullptr);
    EXPECT_NE(buffer.resize(16), nullptr);
    EXPECT_EQ(buffer.capacity(), 4000);
    buffer.resize(8192);
    EXPECT_EQ(buffer.capacity(), 12192);

    GrowableBuffer large;
    large.resize(10000000);
    EXPECT_EQ(large.capacity(), 14192544);

    for (int size : {1, 3999, 4000, 4001, 8191, 100000, 1 << 20, 9000000}) {
        GrowableBuffer fresh;
        fresh.resize(size);
        EXPECT_EQ(fresh.capacity(), expectedCapacity(size)) << size;
        EXPECT_GE(fresh.capacity(), size);
    }
}

TEST(GrowableBuffer, SmallGranularityAndMinimumCapacity)
{
    GrowableBuffer buffer;
    buffer.granularity = 64;
    buffer.resize(10);
    EXPECT_EQ(buffer.capacity(), 74);
    buffer.resize(300);
    EXPECT_EQ(buffer.capacity(), 450);

    GrowableBuffer floor;
    floor.minimumCapacity = 50000;
    floor.resize(16);
    EXPECT_EQ(floor.capacity(), 50000);
}

TEST(GrowableBuffer, ResizeKeepsContentsAndStorage)
{
    GrowableBuffer buffer;
    void* first = buffer.resize(1000);
    fill(buffer, 3);
    EXPECT_EQ(buffer.resize(1000), first);
    EXPECT_EQ(buffer.resize(0), nullptr);
    EXPECT_EQ(buffer.capacity(), 4000);
    EXPECT_EQ(buffer.resize(3000), first);

    buffer.resize(500);
    fill(buffer, 9);
    buffer.resize(100000);
    EXPECT_TRUE(holdsPattern(buffer.data(), 500, 9));
}

TEST(GrowableBuffer, ShrinksOnlyWhenFarBelowCapacity)
{
    GrowableBuffer kept;
    kept.resize(4000);
    kept.resize(8192);
    ASSERT_EQ(kept.capacity(), 12192);
    kept.resize(100, true);
    EXPECT_EQ(kept.capacity(), 12192);
    EXPECT_EQ(kept.size(), 100);

    GrowableBuffer shrunk;
    shrunk.resize(30000);
    ASSERT_EQ(shrunk.capacity(), 40864);
    fill(shrunk, 5);
    shrunk.resize(100, true);
    EXPECT_EQ(shrunk.capacity(), 4000);
    EXPECT_TRUE(holdsPattern(shrunk.data(), 100, 5));

    GrowableBuffer noShrink;
    noShrink.resize(30000);
    noShrink.resize(100);
    EXPECT_EQ(noShrink.capacity(), 40864);
}

TEST(GrowableBuffer, AllocationFailureLeavesTheBufferUnchanged)
{
    GrowableBuffer buffer;
    void* data = buffer.resize(256);
    fill(buffer, 1);
    {
        AllocatorScope failing(true, true);
        EXPECT_EQ(buffer.resize(100000), data);
    }
    EXPECT_EQ(buffer.size(), 256);
    EXPECT_EQ(buffer.capacity(), 4000);
    EXPECT_TRUE(holdsPattern(buffer.data(), 256, 1));

    // A failing realloc falls back to a fresh block and a copy.
    {
        AllocatorScope reallocFails(true, false);
        EXPECT_NE(buffer.resize(100000), nullptr);
    }
    EXPECT_EQ(buffer.size(), 100000);
    EXPECT_TRUE(holdsPattern(buffer.data(), 256, 1));

    // Sizes whose capacity does not fit an int, and negative sizes, fail too.
    const void* before = buffer.data();
    EXPECT_EQ(buffer.resize(0x7ffff000), before);
    EXPECT_EQ(buffer.resize(-5), before);
    EXPECT_EQ(buffer.size(), 100000);
}

TEST(GrowableBuffer, MoveTransfersOwnership)
{
    GrowableBuffer a;
    a.resize(64);
    fill(a, 2);
    GrowableBuffer b(std::move(a));
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.size(), 0);
    EXPECT_TRUE(holdsPattern(b.data(), 64, 2));
    GrowableBuffer c;
    c.resize(10);
    c = std::move(b);
    EXPECT_EQ(c.size(), 64);
    EXPECT_TRUE(holdsPattern(c.data(), 64, 2));
}

TEST(FifoBuffer, AppendReadAndCompact)
{
    FifoBuffer fifo;
    EXPECT_EQ(fifo.readPointer(), nullptr);
    std::vector<unsigned char> bytes(100);
    for (int i = 0; i < 100; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    fifo.append(bytes.data(), 100);
    EXPECT_EQ(fifo.unread(), 100);

    fifo.advance(50); // exactly half read: no compaction yet
    EXPECT_EQ(fifo.offset(), 50);
    EXPECT_EQ(*fifo.readAs<unsigned char>(), 50);

    fifo.advance(1); // more than half: unread bytes move to the start
    EXPECT_EQ(fifo.offset(), 0);
    EXPECT_EQ(fifo.size(), 49);
    EXPECT_EQ(*fifo.readAs<unsigned char>(), 51);

    const auto* zeros = static_cast<const unsigned char*>(fifo.append(nullptr, 10));
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(fifo.unread(), 59);
    EXPECT_EQ(zeros[9], 0);
    EXPECT_EQ(fifo.readAs<unsigned char>()[48], 99);
}

TEST(FifoBuffer, AdvancePastTheEndEmptiesAndAppendRestarts)
{
    FifoBuffer fifo;
    fifo.append(nullptr, 40);
    const int capacity = fifo.capacity();
    fifo.advance(1000);
    EXPECT_EQ(fifo.size(), 0);
    EXPECT_EQ(fifo.offset(), 0);
    EXPECT_EQ(fifo.readPointer(), nullptr);
    EXPECT_EQ(fifo.capacity(), capacity);

    fifo.append(nullptr, 8);
    fifo.advance(8 - 4);
    fifo.advance(4); // all read; 8 > 4 compacts to empty
    unsigned char one = 1;
    fifo.append(&one, 1);
    EXPECT_EQ(fifo.offset(), 0);
    EXPECT_EQ(fifo.size(), 1);
    fifo.advance(-10);
    EXPECT_EQ(fifo.offset(), 0);
}

TEST(ChunkedQueue, SpillsIntoChunksAndRecyclesThem)
{
    ChunkedQueue queue;
    std::vector<unsigned char> data(100000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 13 + 1);
    EXPECT_EQ(queue.write(data.data(), 100000), 100000);
    EXPECT_EQ(queue.chunkCount(), 2);
    int length = 0;
    queue.peek(0, &length);
    EXPECT_EQ(length, 65472);
    queue.peek(65472, &length);
    EXPECT_EQ(length, 34528);

    queue.consumeBytes(70000);
    EXPECT_EQ(queue.chunkCount(), 1);
    EXPECT_EQ(queue.spareCount(), 1);
    EXPECT_EQ(queue.readOffset(), 4528);
    EXPECT_EQ(queue.queued(), 30000);

    EXPECT_EQ(queue.write(data.data(), 40000), 40000);
    EXPECT_EQ(queue.queued(), 70000);
    EXPECT_EQ(queue.chunkCount(), 2);
    EXPECT_EQ(queue.spareCount(), 0);
    queue.peek(0, &length);
    EXPECT_EQ(length, 65472 - 4528);
    queue.peek(65472 - 4528, &length);
    EXPECT_EQ(length, 9056);

    // The stream reads back in order across the chunk boundary.
    std::vector<unsigned char> out(80000);
    EXPECT_EQ(queue.copyOut(out.data(), 80000), 70000);
    EXPECT_EQ(std::memcmp(out.data(), data.data() + 70000, 30000), 0);
    EXPECT_EQ(std::memcmp(out.data() + 30000, data.data(), 40000), 0);
    EXPECT_EQ(queue.queued(), 70000);
}

TEST(ChunkedQueue, ConsumeClearAndZeros)
{
    ChunkedQueue queue;
    queue.write(nullptr, 1000);
    unsigned char byte = 0xff;
    EXPECT_EQ(queue.copyOut(&byte, 1), 1);
    EXPECT_EQ(byte, 0);
    int length = -1;
    EXPECT_EQ(queue.peek(1000, &length), nullptr);
    EXPECT_EQ(length, 0);

    queue.consumeBytes(5000);
    EXPECT_EQ(queue.queued(), 0);
    EXPECT_EQ(queue.readOffset(), 0);
    EXPECT_EQ(queue.chunkCount(), 0);
    EXPECT_EQ(queue.spareCount(), 1);

    queue.write(nullptr, 200000);
    EXPECT_EQ(queue.chunkCount(), 4);
    queue.clear();
    EXPECT_EQ(queue.queued(), 0);
    EXPECT_EQ(queue.chunkCount(), 0);
    EXPECT_EQ(queue.spareCount(), 4);
    queue.write(nullptr, 200000);
    EXPECT_EQ(queue.spareCount(), 0);
}

TEST(ChunkedQueue, FailedChunkAllocationWritesLess)
{
    ChunkedQueue queue;
    queue.write(nullptr, 1000);
    AllocatorScope failing(true, true);
    const int written = queue.write(nullptr, 200000);
    EXPECT_LT(written, 200000);
    EXPECT_EQ(queue.queued(), 1000 + written);
    std::vector<unsigned char> out(static_cast<std::size_t>(queue.queued()) + 10);
    EXPECT_EQ(queue.copyOut(out.data(), static_cast<int>(out.size())), queue.queued());
}

TEST(StereoRing, ReadsBackByAgeWithSilenceBeforeTheStream)
{
    // Blocks of random length (some longer than the room, some null) against
    // a plain record of the whole stream; reads of random age and length.
    constexpr int kRoom = 37;
    StereoRing ring;
    ASSERT_TRUE(ring.reserve(kRoom));
    std::mt19937 rng(5);
    std::vector<float> stream[2];
    for (int step = 0; step < 400; ++step) {
        const int n = static_cast<int>(rng() % 50);
        std::vector<float> block[2];
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                block[c].push_back(static_cast<float>(stream[c].size() + i + 1) * (c ? -1.0f : 1.0f));
        const float* inputs[2] = {block[0].data(), block[1].data()};
        const bool silent = step % 7 == 3;
        ring.write(silent ? nullptr : inputs, n);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                stream[c].push_back(silent ? 0.0f : block[c][static_cast<std::size_t>(i)]);
        if (step == 200) {
            ring.clear();
            stream[0].clear();
            stream[1].clear();
        }
        const int held = std::min(kRoom, static_cast<int>(stream[0].size()));
        ASSERT_EQ(held, ring.held());
        const int length = static_cast<int>(rng() % kRoom) + 1;
        const int age = static_cast<int>(rng() % (kRoom - length + 1));
        std::vector<float> out[2] = {std::vector<float>(length, 9.0f), std::vector<float>(length, 9.0f)};
        float* outputs[2] = {out[0].data(), out[1].data()};
        ring.read(outputs, age, length);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < length; ++i) {
                const long long at = static_cast<long long>(stream[c].size()) - age - length + i;
                ASSERT_EQ(at < 0 ? 0.0f : stream[c][static_cast<std::size_t>(at)], out[c][static_cast<std::size_t>(i)])
                    << "step " << step << " channel " << c << " age " << age << " frame " << i;
            }
        std::vector<float> visited;
        ring.visitNewest(held, [&](const float* const* channels, int count) {
            visited.insert(visited.end(), channels[1], channels[1] + count);
        });
        ASSERT_EQ(static_cast<std::size_t>(held), visited.size());
        ASSERT_TRUE(std::equal(visited.begin(), visited.end(), stream[1].end() - held)) << "step " << step;
    }
}
