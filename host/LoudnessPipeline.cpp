#include "LoudnessPipeline.h"

#include <algorithm>

namespace
{
constexpr std::size_t kChunkFrames = 8192;
constexpr int kChunks = 8;
} // namespace

LoudnessPipeline::LoudnessPipeline(int channelCount, int sampleRate)
    : meter(channelCount, sampleRate), channels(static_cast<std::size_t>(channelCount))
{
    for (int i = 0; i < kChunks; ++i)
    {
        chunks.push_back({std::vector<float>(kChunkFrames * channels), 0});
        free.push_back(i);
    }
    worker = std::thread([this] { run(); });
}

LoudnessPipeline::~LoudnessPipeline()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    changed.notify_all();
    worker.join();
}

void LoudnessPipeline::add(const float* interleaved, std::int64_t frames)
{
    std::size_t remaining = static_cast<std::size_t>(std::max<std::int64_t>(frames, 0)) * channels;
    while (remaining > 0)
    {
        if (filling < 0)
            filling = takeFreeChunk();
        Chunk& chunk = chunks[static_cast<std::size_t>(filling)];
        const std::size_t count = std::min(chunk.samples.size() - chunk.used, remaining);
        std::copy(interleaved, interleaved + count, chunk.samples.begin() + static_cast<std::ptrdiff_t>(chunk.used));
        chunk.used += count;
        interleaved += count;
        remaining -= count;
        if (chunk.used == chunk.samples.size())
            submit();
    }
}

int LoudnessPipeline::takeFreeChunk()
{
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return !free.empty(); });
    const int chunk = free.back();
    free.pop_back();
    return chunk;
}

void LoudnessPipeline::submit()
{
    if (filling < 0)
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        queued.push_back(filling);
    }
    filling = -1;
    changed.notify_all();
}

void LoudnessPipeline::run()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;)
    {
        changed.wait(guard, [this] { return stopping || !queued.empty(); });
        if (stopping)
            return;
        const int index = queued.front();
        queued.pop_front();
        analysing = true;
        guard.unlock();
        // The chunk belongs to this thread until it is back on the free list.
        Chunk& chunk = chunks[static_cast<std::size_t>(index)];
        meter.add(chunk.samples.data(), static_cast<std::int64_t>(chunk.used / channels));
        chunk.used = 0;
        guard.lock();
        analysing = false;
        free.push_back(index);
        changed.notify_all();
    }
}

LoudnessStats LoudnessPipeline::finish()
{
    submit();
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return queued.empty() && !analysing; });
    return meter.stats();
}
