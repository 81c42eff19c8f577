// Keeps the five band paths in step when their inner instances delay them
// by different amounts: band b waits (largest band latency - its own) on a
// delay line, so all bands reach the sum together. When the instances'
// latencies change, the new alignment enters behind a short fade of the band
// sum (out, switch, in), never as a jump.
// Not safe for concurrent use; the effect runs it under its lock. Only
// reserve() allocates.
#pragma once

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

    // Takes the instances' latencies, after every block. True when any
    // changed; a changed alignment then starts fading over. The first call
    // after construction takes the alignment at once.
    bool follow(const Latencies& latencies, int maxBlock);
    // Moves a fade on by the n frames of the block just processed.
    void advance(int n);

    // The effect's latency on top of the crossover's: the largest band
    // latency plus the master's.
    int latency() const { return largestBand + current[kBands]; }
    // False while every band passes undelayed and nothing changes: then the
    // lines need not run at all.
    bool active() const;
    // Delays band b's n frames in place.
    void delay(int band, float* const* io, int n) { lines[band].run(io, n, alignment[band]); }
    // Applies the fade, if one is under way, to the band sum.
    void fade(float* const* sums, int n) const;
    // Forgets the lines' history (a new stream).
    void clear();

private:
    enum class Fade { none, out, in };

    BandDelay lines[kBands];
    Latencies current{};
    std::array<int, kBands> alignment{};
    std::array<int, kBands> target{};
    int largestBand = 0;
    bool started = false;
    Fade fading = Fade::none;
    int position = 0;
    int fadeFrames = 1;
};
