// The true peak of the effect's output as common meters read it: the samples
// and the points at quarter samples between them (Dsp::quarterSamplePhases),
// as the loudest point of each block in dBTP and a peak-hold value that falls
// at GainMeter::kFallDbPerSecond. The points lag the samples by six frames
// (the interpolator reads that far ahead); a restart forgets them.
//
// measure() runs on the audio thread, allocates nothing and works in fixed
// pieces (sixteen points of each kind at a time with AVX-512, eight with AVX2
// and FMA: Dsp::vectorLevel); the readings are atomics, so any thread reads
// them whole.
#pragma once

#include "dsp/QuarterSampleTaps.h"

#include <array>
#include <atomic>

class OutputPeakMeter
{
public:
    // Readings are clamped to this range (silence reads the floor).
    static constexpr float kFloorDb = -100.0f;
    static constexpr float kCeilingDb = 100.0f;

    struct Reading
    {
        float blockDb; // loudest point of the last block
        float holdDb;  // the loudest since, falling
    };

    // The interpolator's taps folded on their symmetry: the half-sample phase
    // is symmetric, so half[k] weighs the pair of inputs k from either end;
    // the quarter and three-quarter phases mirror each other, so their sum
    // and difference (halved) weigh the pair's sum and difference.
    struct Folded
    {
        static constexpr int kPairs = Dsp::kQuarterSampleTaps / 2;
        float half[kPairs];
        float sum[kPairs];
        float difference[kPairs];
    };

    OutputPeakMeter();

    void setSampleRate(float sampleRate);
    // A new stream: silence before it, readings at the floor.
    void restart();
    void measure(const float* const* out, int n);

    Reading reading() const
    {
        return {blockDb.load(std::memory_order_relaxed), holdDb.load(std::memory_order_relaxed)};
    }

private:
    // The interpolator reads kQuarterSampleTaps - 1 samples back; the widest
    // vector path reads a whole vector of sixteen back.
    static constexpr int kHistory = 16;
    static_assert(kHistory >= Dsp::kQuarterSampleTaps - 1, "the history holds what the interpolator reads");
    static constexpr int kPiece = 256;

    Folded taps;
    // Per channel: the last kHistory samples, then the piece being measured.
    std::array<std::array<float, kHistory + kPiece>, 2> buffer{};
    float rate = 44100.0f;
    std::atomic<float> blockDb{kFloorDb};
    std::atomic<float> holdDb{kFloorDb};
};
