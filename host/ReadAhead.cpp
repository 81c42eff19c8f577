#include "ReadAhead.h"

#include "ThreadPriority.h"

#include <algorithm>

namespace
{
// Frames read (and measured) at once, and frames queued for the plug-in.
constexpr int kChunkFrames = 8192;
constexpr int kQueuedFrames = 65536;
} // namespace

ReadAhead::ReadAhead(SoundFileReader& source, int pluginInputs, int blockSize, std::int64_t tailFrames,
                     Analysis analysis, float inputGain)
    : reader(source), fileChannels(source.channels()), block(std::max(blockSize, 1)),
      tail(std::max<std::int64_t>(tailFrames, 0)), gain(inputGain),
      chunk(static_cast<std::size_t>(fileChannels) * static_cast<std::size_t>(std::max(kChunkFrames / block, 1) * block)),
      ring(BlockRing::blocksToQueue(kQueuedFrames, block), std::max(pluginInputs, 1), block)
{
    // "Before" measures what the plug-in is fed: a mono file on both inputs.
    const bool bothSides = fileChannels == 1 && pluginInputs >= 2;
    const bool analyse = analysis != Analysis::none;
    if (analyse)
        meter.emplace(bothSides ? 2 : fileChannels, source.sampleRate(), analysis == Analysis::full);
    if (analyse && bothSides)
        dualMono.resize(2 * chunk.size());
    worker = std::thread([this] { run(); });
}

ReadAhead::~ReadAhead()
{
    ring.abort();
    if (worker.joinable())
        worker.join();
}

BlockRing::Block* ReadAhead::next()
{
    BlockRing::Block* block = ring.next();
    if (!block && worker.joinable())
    {
        worker.join(); // makes `error` visible here
        if (error)
            std::rethrow_exception(error);
    }
    return block;
}

void ReadAhead::release()
{
    ring.release();
}

LoudnessStats ReadAhead::finish()
{
    if (worker.joinable())
        worker.join();
    return meter ? meter->stats() : LoudnessStats{};
}

void ReadAhead::run()
{
    ThreadPriority::lowerCurrent();
    try
    {
        produce();
    }
    catch (const std::exception&)
    {
        error = std::current_exception();
    }
    ring.close();
}

void ReadAhead::produce()
{
    bool ended = false;
    for (;;)
    {
        std::int64_t got = 0;
        if (!ended)
        {
            if (chunkUsed == chunkFrames)
                readChunk();
            got = std::min<std::int64_t>(block, chunkFrames - chunkUsed);
        }
        ended = ended || got < block;
        const std::int64_t pad = ended ? std::min<std::int64_t>(block - got, tail) : 0;
        tail -= pad;
        if (got + pad == 0)
            return;
        BlockRing::Block* target = ring.claim();
        if (!target)
            return; // the consumer stopped
        fill(*target, got, got + pad);
        chunkUsed += got;
        ring.publish();
    }
}

void ReadAhead::readChunk()
{
    chunkFrames = reader.read(chunk.data(), static_cast<std::int64_t>(chunk.size()) / fileChannels);
    chunkUsed = 0;
    if (meter && !dualMono.empty())
    {
        for (std::size_t i = 0; i < static_cast<std::size_t>(chunkFrames); ++i)
            dualMono[2 * i] = dualMono[2 * i + 1] = chunk[i];
        meter->add(dualMono.data(), chunkFrames);
    }
    else if (meter)
    {
        meter->add(chunk.data(), chunkFrames);
    }
}

// File channels to plug-in inputs: a mono file feeds every input.
void ReadAhead::fill(BlockRing::Block& target, std::int64_t frames, std::int64_t padded)
{
    const float* source = chunk.data() + chunkUsed * fileChannels;
    for (std::size_t input = 0; input < target.channels.size(); ++input)
    {
        const int from = std::min(static_cast<int>(input), fileChannels - 1);
        float* channel = target.channels[input];
        for (std::int64_t i = 0; i < frames; ++i)
            channel[i] = source[i * fileChannels + from];
        if (gain != 1.0f)
            for (std::int64_t i = 0; i < frames; ++i)
                channel[i] *= gain;
        std::fill(channel + frames, channel + padded, 0.0f);
    }
    target.frames = padded;
    target.sourceFrames = frames;
    target.skip = 0;
}
