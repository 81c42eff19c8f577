// The ring that carries blocks between the plug-in thread and the reading and
// writing threads: order, contents and counts survive any interleaving, the
// end of the stream reaches the consumer, and an abort frees a waiting side.
#include "BlockRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

namespace
{
// The producer numbers every frame; the consumer checks the numbers arrive in
// order, with the counts the producer set, whatever the block sizes.
void streamThrough(int blocks, int capacity, std::uint32_t seed)
{
    BlockRing ring(blocks, 2, capacity);
    constexpr std::int64_t kFrames = 200000;
    std::thread producer([&] {
        std::mt19937 engine(seed);
        std::int64_t sent = 0;
        while (sent < kFrames)
        {
            BlockRing::Block* block = ring.claim();
            ASSERT_NE(block, nullptr);
            const std::int64_t frames = std::min<std::int64_t>(1 + engine() % static_cast<unsigned>(capacity), kFrames - sent);
            for (std::int64_t i = 0; i < frames; ++i)
            {
                block->channels[0][i] = static_cast<float>(sent + i);
                block->channels[1][i] = -static_cast<float>(sent + i);
            }
            block->frames = frames;
            block->skip = frames / 2;
            ring.publish();
            sent += frames;
        }
        ring.close();
    });
    std::int64_t received = 0;
    while (const BlockRing::Block* block = ring.next())
    {
        ASSERT_EQ(block->skip, block->frames / 2);
        for (std::int64_t i = 0; i < block->frames; ++i)
        {
            ASSERT_EQ(block->channels[0][i], static_cast<float>(received + i));
            ASSERT_EQ(block->channels[1][i], -static_cast<float>(received + i));
        }
        received += block->frames;
        ring.release();
    }
    producer.join();
    EXPECT_EQ(received, kFrames);
}

TEST(HostBlockRing, CarriesEveryFrameInOrder)
{
    // One block, a few (each side waits on the other) and many.
    streamThrough(1, 7, 1);
    streamThrough(3, 64, 2);
    streamThrough(64, 1024, 3);
}

TEST(HostBlockRing, ClosedRingDrainsThenEnds)
{
    BlockRing ring(4, 1, 8);
    for (int i = 0; i < 3; ++i)
    {
        BlockRing::Block* block = ring.claim();
        ASSERT_NE(block, nullptr);
        block->frames = i + 1;
        ring.publish();
    }
    ring.close();
    for (int i = 0; i < 3; ++i)
    {
        const BlockRing::Block* block = ring.next();
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block->frames, i + 1);
        ring.release();
    }
    EXPECT_EQ(ring.next(), nullptr);
    EXPECT_EQ(ring.next(), nullptr);
    EXPECT_FALSE(ring.isAborted());
}

TEST(HostBlockRing, AbortFreesAWaitingProducerAndConsumer)
{
    {
        BlockRing full(2, 1, 8);
        full.claim();
        full.publish();
        full.claim();
        full.publish();
        std::atomic<bool> returned{false};
        std::thread producer([&] {
            EXPECT_EQ(full.claim(), nullptr); // waits: both blocks are queued
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(returned);
        full.abort();
        producer.join();
        EXPECT_TRUE(returned);
        EXPECT_EQ(full.next(), nullptr); // queued blocks are not handed out after an abort
    }
    {
        BlockRing empty(2, 1, 8);
        std::thread consumer([&] { EXPECT_EQ(empty.next(), nullptr); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        empty.abort();
        consumer.join();
        EXPECT_TRUE(empty.isAborted());
    }
}
} // namespace
