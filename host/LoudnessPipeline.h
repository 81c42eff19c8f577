// Loudness and peak analysis of one stream on a thread of its own, so that
// the analysis (true peak in particular, which oversamples) runs beside the
// plug-in instead of adding to its time. A render runs two: input and output.
//
// add() copies the frames into one of a few fixed chunks and hands full
// chunks to the analysis thread; it waits only when every chunk is queued.
// One thread feeds a pipeline; it allocates at construction only.
#pragma once

#include "LoudnessMeter.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class LoudnessPipeline
{
public:
    // Throws HostError if libebur128 refuses the channel count or rate.
    LoudnessPipeline(int channels, int sampleRate);
    ~LoudnessPipeline(); // stops the thread; pending chunks are dropped
    LoudnessPipeline(const LoudnessPipeline&) = delete;
    LoudnessPipeline& operator=(const LoudnessPipeline&) = delete;

    void add(const float* interleaved, std::int64_t frames);
    // Analyses everything added so far and returns the figures.
    LoudnessStats finish();

private:
    struct Chunk
    {
        std::vector<float> samples;
        std::size_t used = 0;
    };

    void submit();
    int takeFreeChunk();
    void run();

    LoudnessMeter meter;
    std::size_t channels;
    std::vector<Chunk> chunks;
    int filling = -1;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<int> queued;
    std::vector<int> free;
    bool analysing = false;
    bool stopping = false;
    std::thread worker;
};
