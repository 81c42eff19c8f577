#include "WriteBehind.h"

#include "HostError.h"
#include "ThreadPriority.h"

#include <algorithm>
#include <utility>

namespace
{
// Frames written (and measured) at once, frames queued behind the plug-in,
// and frames after which the system is asked to start writing to disk, so
// that the final flush has little left to do.
constexpr int kChunkFrames = 8192;
constexpr int kQueuedFrames = 65536;
constexpr std::int64_t kWritebackFrames = 1 << 16;
} // namespace

WriteBehind::WriteBehind(SoundFileWriter* destination, int pluginOutputs, int channels, int block, int sampleRate,
                         Analysis analysis, Tap chunkTap, std::optional<Dither> wordLength)
    : writer(destination), tap(std::move(chunkTap)),
      fileChannels(static_cast<std::size_t>(std::clamp(channels, 1, std::max(pluginOutputs, 1)))),
      dither(wordLength), chunk(fileChannels * static_cast<std::size_t>(std::max(kChunkFrames, block))),
      ring(BlockRing::blocksToQueue(kQueuedFrames, block), std::max(pluginOutputs, 1), block)
{
    if (analysis != Analysis::none)
        meter.emplace(static_cast<int>(fileChannels), sampleRate, analysis == Analysis::full);
    worker = std::thread([this] { run(); });
}

WriteBehind::~WriteBehind()
{
    ring.abort();
    if (worker.joinable())
        worker.join();
}

void WriteBehind::stop()
{
    if (worker.joinable())
        worker.join(); // makes `error` visible here
    if (!error.empty())
        throw HostError(error);
}

BlockRing::Block* WriteBehind::claim()
{
    BlockRing::Block* block = ring.claim();
    if (!block)
        stop(); // only the writing thread aborts the ring while we use it
    return block;
}

void WriteBehind::publish()
{
    ring.publish();
}

LoudnessStats WriteBehind::finish()
{
    ring.close();
    stop();
    return meter ? meter->stats() : LoudnessStats{};
}

void WriteBehind::run()
{
    ThreadPriority::lowerCurrent();
    try
    {
        consume();
    }
    catch (const std::exception& failure)
    {
        error = failure.what();
        ring.abort();
    }
}

void WriteBehind::consume()
{
    while (const BlockRing::Block* block = ring.next())
    {
        append(*block);
        ring.release();
    }
    if (!ring.isAborted())
        flush();
}

void WriteBehind::append(const BlockRing::Block& block)
{
    const std::int64_t count = block.frames - block.skip;
    const std::int64_t capacity = static_cast<std::int64_t>(chunk.size() / fileChannels);
    if (chunkFrames + count > capacity)
        flush();
    float* out = chunk.data() + static_cast<std::size_t>(chunkFrames) * fileChannels;
    for (std::size_t c = 0; c < fileChannels; ++c)
    {
        const float* channel = block.channels[c] + block.skip;
        for (std::int64_t i = 0; i < count; ++i)
            out[static_cast<std::size_t>(i) * fileChannels + c] = channel[i];
    }
    chunkFrames += count;
}

void WriteBehind::flush()
{
    if (chunkFrames == 0)
        return;
    if (dither)
        dither->apply(chunk.data(), static_cast<std::size_t>(chunkFrames) * fileChannels);
    if (writer)
        writer->write(chunk.data(), chunkFrames);
    if (meter)
        meter->add(chunk.data(), chunkFrames);
    if (tap)
        tap(chunk.data(), chunkFrames);
    unsynced += chunkFrames;
    chunkFrames = 0;
    if (writer && unsynced >= kWritebackFrames)
    {
        writer->startWriteback();
        unsynced = 0;
    }
}
