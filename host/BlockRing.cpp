#include "BlockRing.h"

#include <algorithm>

BlockRing::BlockRing(int blockCount, int channelCount, int capacity)
    : frameCapacity(std::max(capacity, 1)),
      storage(static_cast<std::size_t>(std::max(blockCount, 1)) * static_cast<std::size_t>(std::max(channelCount, 1)) *
              static_cast<std::size_t>(frameCapacity)),
      blocks(static_cast<std::size_t>(std::max(blockCount, 1))), batch(std::max<std::uint64_t>(blocks.size() / 4, 1))
{
    float* data = storage.data();
    for (Block& block : blocks)
    {
        for (int c = 0; c < std::max(channelCount, 1); ++c, data += frameCapacity)
            block.channels.push_back(data);
    }
}

int BlockRing::blocksToQueue(int frames, int capacity)
{
    return std::clamp(frames / std::max(capacity, 1), 3, 64);
}

BlockRing::Block* BlockRing::claim()
{
    std::unique_lock<std::mutex> guard(lock);
    producerWaiting = true;
    emptied.wait(guard, [this] { return aborted || published - released < blocks.size(); });
    producerWaiting = false;
    return aborted ? nullptr : &at(published);
}

void BlockRing::publish()
{
    std::lock_guard<std::mutex> guard(lock);
    ++published;
    if (consumerWaiting && published - released >= batch)
        filled.notify_one();
}

void BlockRing::close()
{
    std::lock_guard<std::mutex> guard(lock);
    closed = true;
    filled.notify_one();
}

BlockRing::Block* BlockRing::next()
{
    std::unique_lock<std::mutex> guard(lock);
    consumerWaiting = true;
    filled.wait(guard, [this] { return aborted || closed || released < published; });
    consumerWaiting = false;
    return aborted || released == published ? nullptr : &at(released);
}

void BlockRing::release()
{
    std::lock_guard<std::mutex> guard(lock);
    ++released;
    if (producerWaiting && blocks.size() - (published - released) >= batch)
        emptied.notify_one();
}

void BlockRing::abort()
{
    std::lock_guard<std::mutex> guard(lock);
    aborted = true;
    filled.notify_one();
    emptied.notify_one();
}

bool BlockRing::isAborted()
{
    std::lock_guard<std::mutex> guard(lock);
    return aborted;
}
