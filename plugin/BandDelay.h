// A stereo delay line for one band path, so that bands whose inner
// instances delay them by different amounts reach the sum together.
// Memory is reserved up front (reserve); running allocates nothing. Frames
// from before the line started running read as silence.
// Not safe for concurrent use; the effect runs it under its lock.
#pragma once

#include "crossover/StereoRing.h"

class BandDelay
{
public:
    // Room for delays up to maxDelay with blocks up to maxBlock frames.
    // Allocates; false when memory ran out (the line then delays by at most
    // what it has room for).
    bool reserve(int maxDelay, int maxBlock);
    // The longest delay the reserved room allows for blocks of n frames.
    int longestDelay(int n) const { return ring.room() - n; }

    // Writes the n frames of `io` into the line and replaces them, in place,
    // with the frames `delay` earlier (delay is clamped to what fits). Runs
    // for every block, delayed or not, so the line always holds the stream.
    void run(float* const* io, int n, int delay);
    // Forgets everything written.
    void clear() { ring.clear(); }

private:
    StereoRing ring;
};
