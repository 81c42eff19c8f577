// The band meters over the time of a file, for plotting: the deepest
// reduction of each instance in every 100 ms step of the file, a bounded
// number of points (ten per second of audio) however small the blocks.
//
// The plug-in's blocks run its latency behind the file: a block's reading is
// put at the file time its output lands on once the latency is taken off
// (the master's exactly; a band's reaches the output one master latency
// later, a few milliseconds). A block that spans two steps counts in both.
#pragma once

#include "GainReductionStats.h"

#include <array>
#include <cstdint>
#include <vector>

class GainReductionHistory
{
public:
    using Reading = std::array<float, GainReductionSummary::kInstances>;

    // Steps of `stepFrames`; the plug-in's output lags the file by
    // `latency` frames. Reserves room for `expectedFrames` of file, so that
    // a file of the length its header declares adds nothing while it renders.
    GainReductionHistory(std::int64_t stepFrames, std::int64_t latency, std::int64_t expectedFrames);

    // The deepest reduction of each instance in the next `frames` frames the plug-in gave.
    void add(const Reading& blockDb, std::int64_t frames);
    // One reading per step of the file's `fileFrames` (the last step may be short).
    std::vector<Reading> take(std::int64_t fileFrames);

private:
    std::int64_t step;
    std::int64_t position; // file time of the next block's first frame, negative within the latency
    std::vector<Reading> points;
};
