// Writes the plug-in's output behind it on a thread of its own: planar
// blocks are interleaved into large chunks, which are written to the file and
// measured (when asked), while the plug-in goes on with the next blocks.
//
// Without a writer the output is only measured (a rendering pass whose
// result is not kept); a tap, when given, sees every chunk as well (a codec
// check encodes it).
//
// Integer files are dithered and rounded to their word length here, once,
// just before they are written, measured and shown to the tap
// (`wordLength`; none for float).
//
// The producer (one thread) calls claim/publish/finish. The first error of
// the writing thread (a full disk, say) stops it and is rethrown to the
// producer by the next claim() or by finish(); the file is then removed by
// the SoundFileWriter, as after any failure.
#pragma once

#include "BlockRing.h"
#include "Dither.h"
#include "LoudnessMeter.h"
#include "SoundFileWriter.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class WriteBehind
{
public:
    using Tap = std::function<void(const float* interleaved, std::int64_t frames)>;

    // `writer` (may be null) must outlive this object and is used by its
    // thread only until finish(). Blocks have `pluginOutputs` channels of up
    // to `block` frames; the first `fileChannels` of them are written.
    // Allocates here only.
    WriteBehind(SoundFileWriter* writer, int pluginOutputs, int fileChannels, int block, int sampleRate,
                Analysis analysis, Tap tap = {}, std::optional<Dither> wordLength = std::nullopt);
    ~WriteBehind(); // stops writing and waits for the thread; nothing is committed
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // A free block to fill, waiting for one. Throws HostError if writing failed.
    BlockRing::Block* claim();
    // Queues the claimed block: frames [skip, frames) of it are written.
    void publish();
    // Writes everything queued and returns its figures (zero without
    // analysis); the file is left to be committed. Throws HostError on any
    // failure.
    LoudnessStats finish();

private:
    void run();
    void consume();
    void append(const BlockRing::Block& block);
    void flush();
    void stop();

    SoundFileWriter* writer;
    Tap tap;
    std::size_t fileChannels;
    std::optional<LoudnessMeter> meter;
    std::optional<Dither> dither;
    std::vector<float> chunk; // interleaved frames awaiting the file
    std::int64_t chunkFrames = 0;
    std::int64_t unsynced = 0; // frames written since the last writeback request
    BlockRing ring;
    std::string error; // set by the thread before it aborts the ring
    std::thread worker;
};
