// Reads and decodes a sound file ahead of the plug-in on a thread of its own:
// frames are read in large chunks, measured (when asked), and split into
// plug-in-sized planar blocks, followed by as many frames of silence as the
// plug-in's latency. A mono file feeds every plug-in input.
//
// The plug-in may be fed the file at a plain gain; the file itself is what
// gets measured.
//
// The blocks are exactly those a block-by-block reader would give: `block`
// frames each, the last file block short, padded with silence up to `block`
// while the tail lasts. The consumer (one thread) calls next/release/finish.
#pragma once

#include "BlockRing.h"
#include "LoudnessMeter.h"
#include "SoundFileReader.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class ReadAhead
{
public:
    // Starts reading at once. `reader` must outlive this object. Allocates
    // here only. Throws HostError if the loudness meter refuses the format.
    ReadAhead(SoundFileReader& reader, int pluginInputs, int block, std::int64_t tailFrames, Analysis analysis,
              float gain = 1.0f);
    ~ReadAhead(); // stops reading and waits for the thread
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next block (frames > 0), waiting for it; nullptr after the last.
    // Rethrows the reading thread's error (a HostError) if reading failed.
    BlockRing::Block* next();
    // Gives the block from next() back, to be refilled.
    void release();
    // The file's figures once next() returned nullptr; zero without analysis.
    LoudnessStats finish();

private:
    void run();
    void produce();
    void readChunk();
    void fill(BlockRing::Block& block, std::int64_t frames, std::int64_t padded);

    SoundFileReader& reader;
    int fileChannels;
    int block;
    std::int64_t tail;
    float gain;
    std::optional<LoudnessMeter> meter;
    std::vector<float> chunk; // interleaved file frames
    std::vector<float> dualMono; // a mono chunk on two channels, for the meter
    std::int64_t chunkFrames = 0;
    std::int64_t chunkUsed = 0;
    BlockRing ring;
    std::exception_ptr error; // set by the thread before it closes the ring
    std::thread worker;
};
