// Keeps the five band paths in step when their inner instances delay them
// by different amounts: band b waits (largest band latency - its own) on a
// delay line, so all bands reach the sum together. When the instances'
// latencies change, the new alignment enters behind a fade of the band sum
// (out, switch, in) on the one GainRamp, never as a jump; a change during a
// fade turns the fade round where it is.
// Every band's line runs every block, delayed or not, so an alignment taken
// later reads the stream as it really was, never stale or unwritten history.
// Not safe for concurrent use; the engine runs it under its lock. Only
// reserve() allocates.
#pragma once

#include "crossover/GainRamp.h"
#include "plugin/BandDelay.h"

#include <array>

class BandAlignment
{
public:
    static constexpr int kBands = 5;
    // Index kBands of a latency list is the master instance's.
    using Latencies = std::array<int, kBands + 1>;

    // Room for band latencies that differ by up to a second at `sampleRate`
    // (a larger difference is aligned as far as that goes), for blocks of up
    // to maxBlock frames; sets the fade length. Forgets the lines' history.
    void reserve(float sampleRate, int maxBlock);
    // A new stream: the lines forget their history and the fade ends.
    void restart();

    // Takes the instances' latencies. True when any changed; a changed
    // alignment then fades over, or is taken at once when `atOnce` (nothing
    // of the stream has been heard yet).
    bool follow(const Latencies& latencies, int maxBlock, bool atOnce);

    // The effect's latency on top of the crossover's: the largest band
    // latency plus the master's.
    int latency() const { return largestBand + current[kBands]; }
    // Delays band b's n frames in place.
    void delay(int band, float* const* io, int n) { lines[band].run(io, n, alignment[band]); }
    // Applies the fade to the band sum of n frames; once the fade-out has
    // reached silence, the new alignment applies from the next block on.
    void fade(float* const* sums, int n);

private:
    BandDelay lines[kBands];
    Latencies current{};
    std::array<int, kBands> alignment{};
    std::array<int, kBands> target{};
    int largestBand = 0;
    GainRamp ramp;
};
