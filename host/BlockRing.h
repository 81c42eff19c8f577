// A fixed ring of planar audio blocks passed in order from one producer
// thread to one consumer thread, so that file reading, writing and analysis
// can run beside the plug-in without a copy or an allocation per block.
//
// A side that waits is woken only once a quarter of the ring is ready for it
// (or the stream ends), so that neither side pays a wake-up per block.
// Allocates at construction only. claim/publish/close belong to the producer,
// next/release to the consumer; abort may be called by either side.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class BlockRing
{
public:
    struct Block
    {
        std::vector<float*> channels; // capacity() frames each
        std::int64_t frames = 0;      // frames held
        std::int64_t skip = 0;        // leading frames the consumer is to ignore
        std::int64_t sourceFrames = 0; // frames that came from a file (the rest is padding)
    };

    BlockRing(int blocks, int channels, int capacity);

    // Blocks of `capacity` frames that queue about `frames` frames: at least
    // three, so that both sides can work while a block is in flight, and at
    // most 64.
    static int blocksToQueue(int frames, int capacity);
    BlockRing(const BlockRing&) = delete;
    BlockRing& operator=(const BlockRing&) = delete;

    int capacity() const { return frameCapacity; }

    // Producer: the next free block, waiting until the consumer releases one;
    // nullptr once the ring is aborted.
    Block* claim();
    // Producer: hands the claimed block to the consumer.
    void publish();
    // Producer: no more blocks will be published.
    void close();

    // Consumer: the next published block, waiting for one; nullptr once the
    // ring is closed and drained, or aborted.
    Block* next();
    // Consumer: gives the block from next() back to the producer.
    void release();

    // Either side: both sides get nullptr from now on, without waiting.
    void abort();
    bool isAborted();

private:
    Block& at(std::uint64_t sequence) { return blocks[static_cast<std::size_t>(sequence % blocks.size())]; }

    int frameCapacity;
    std::vector<float> storage;
    std::vector<Block> blocks;
    std::uint64_t batch; // blocks ready before a waiting side is woken
    std::mutex lock;
    std::condition_variable filled;
    std::condition_variable emptied;
    std::uint64_t published = 0; // blocks handed to the consumer so far
    std::uint64_t released = 0;  // blocks given back so far
    bool producerWaiting = false;
    bool consumerWaiting = false;
    bool closed = false;
    bool aborted = false;
};
