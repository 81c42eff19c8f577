// Measures the gain one maximizer instance applies, whatever maximizer it is:
// its output against its input delayed by the instance's latency, sample by
// sample, as the deepest reduction of each block in dB and a peak-hold value
// that falls at kFallDbPerSecond. The reduction counts from the drive the
// instance is known to add before limiting (0 dB for a maximizer we know
// nothing of), so a maximizer that drives its input up 6 dB and limits it
// back by 6 dB reads 6 dB; a gain above that reads 0.
//
// measure() runs on the audio thread under the effect lock and allocates
// nothing; the readings are atomics, so any thread reads them whole at any
// time. Of the room reserved (a second) it uses only the latency and a block,
// so the history stays in cache; an instance whose latency reaches beyond a
// second reads 0.
#pragma once

#include "crossover/StereoRing.h"

#include <atomic>

class GainMeter
{
public:
    static constexpr float kFallDbPerSecond = 10.0f;
    // Input samples below this level (-100 dBFS) carry no usable gain.
    static constexpr float kFloor = 1e-5f;
    // The deepest reduction reported, for an output silenced outright.
    static constexpr float kMaxDb = 100.0f;

    struct Reading
    {
        float blockDb; // deepest reduction of the last block
        float holdDb;  // the deepest since, falling at kFallDbPerSecond
    };

    // Room for latencies up to a second at `sampleRate`, for blocks of any
    // length. Allocates; forgets the history and the readings.
    void reserve(float sampleRate);
    // A new stream: the history is silence and the readings 0.
    void restart();

    // Takes one block of n frames: the instance's input (null, or a null
    // channel: silence), its output, its latency in frames and the drive it
    // adds in dB.
    void measure(const float* const* in, const float* const* out, int n, int latency, float driveDb);

    Reading reading() const
    {
        return {blockDb.load(std::memory_order_relaxed), holdDb.load(std::memory_order_relaxed)};
    }

private:
    StereoRing inputs;
    int laidOutFor = -1; // the latency the history is laid out for
    float rate = 44100.0f;
    std::atomic<float> blockDb{0.0f};
    std::atomic<float> holdDb{0.0f};
};
