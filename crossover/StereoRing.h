// The newest frames of a stereo stream in a ring of fixed room: written a
// block at a time, read back by age. Frames from before the stream started
// (or before the last clear) read as silence.
// Memory is reserved up front; writing and reading allocate nothing.
// Not safe for concurrent use.
#pragma once

#include "crossover/GrowableBuffer.h"

#include <algorithm>
#include <utility>

class StereoRing
{
public:
    static constexpr int kChannels = 2;

    // Room for `frames` frames per channel; forgets what was written.
    // Allocates; false when memory ran out (the ring then keeps its old room
    // and what it held).
    bool reserve(int frames);
    // Keeps to the first `frames` of the memory reserved (at most all of it),
    // so that a short history stays in a few cache lines whatever the room
    // reserved; forgets what was written. Allocates nothing.
    void use(int frames);
    int room() const { return capacity; }
    // Frames written since the last clear, at most the room.
    int held() const { return written; }
    void clear() { written = 0; }

    // Appends n frames; null inputs or channels are silence. Of a block longer
    // than the room only its newest frames stay.
    void write(const float* const* inputs, int n);

    // Copies into out[c][0 .. n-1] the n frames that end `age` frames before
    // the newest one written (age 0: the newest n frames).
    void read(float* const* out, int age, int n) const;

    // Calls visit(const float* const* channels, int count) over the ring's own
    // memory, oldest first, for the n frames that end `age` frames before the
    // newest one written (age + n <= held()).
    template <typename Visit>
    void visit(int age, int n, Visit&& visit) const
    {
        age = std::clamp(age, 0, written);
        n = std::clamp(n, 0, written - age);
        for (int at = n > 0 ? start(n, age) : 0; n > 0;) {
            const int run = std::min(n, capacity - at);
            const float* channels[kChannels] = {ring[0].as<float>() + at, ring[1].as<float>() + at};
            visit(static_cast<const float* const*>(channels), run);
            n -= run;
            at = (at + run) % capacity;
        }
    }
    // The same for the newest n frames it holds.
    template <typename Visit>
    void visitNewest(int n, Visit&& visit) const
    {
        this->visit(0, n, std::forward<Visit>(visit));
    }

private:
    // Ring index of the oldest of the n frames that end `age` frames before
    // the newest one written.
    int start(int n, int age) const
    {
        const long long at = (static_cast<long long>(end) - age - n) % capacity;
        return static_cast<int>(at < 0 ? at + capacity : at);
    }

    GrowableBuffer ring[kChannels];
    int reserved = 0; // frames of memory per channel
    int capacity = 0; // frames of it in use
    int end = 0;     // index of the next frame written
    int written = 0; // frames written since the last clear, up to capacity
};
