// Integrated loudness, loudness range, sample peak and true peak of a stream
// of interleaved float frames, as ITU-R BS.1770 and EBU Tech 3342 define them:
// K-weighting (a high shelf and a high pass, in double precision), 400 ms
// gating blocks every 100 ms with the -70 LUFS absolute and -10 LU relative
// gates, and 3 s short-term blocks every second for the range (-20 LU
// relative gate, 10th to 95th percentile). The first two channels count as
// left and right, weight 1. The true peak comes from TruePeakMeter.
//
// Our own rather than libebur128's, which costs several times as much: the
// channels are filtered side by side, and each block's energy is the sum of
// its 100 ms steps instead of a fresh pass over its samples.
//
// Allocates at construction and as the lists of blocks grow (21 per second).
#pragma once

#include "TruePeakMeter.h"

#include <array>
#include <cstdint>
#include <vector>

struct LoudnessStats
{
    double integratedLufs; // -inf for silence or less than 400 ms of audio
    double rangeLu;
    double samplePeakDb;   // dBFS, -inf for silence
    double truePeakDb;     // dBTP; NaN when the meter was told not to measure it
    // Mean squares of the 400 ms gating blocks and of the 3 s short-term
    // blocks above the absolute gate: what measuring several streams as one
    // (an album) needs.
    std::vector<double> blocks;
    std::vector<double> shortTerms;
    // The short-term loudness (LUFS, -inf for silence) at the end of every
    // 100 ms of the stream, over the 3 s before it, time before the stream's
    // start counting as silence (as a meter started with it reads), ungated.
    // Empty for streams measured as one.
    std::vector<float> shortTermLufs;
};

// What a render measures: nothing, loudness and sample peaks, or also true peaks.
enum class Analysis
{
    none,
    loudness,
    full
};

class LoudnessMeter
{
public:
    // Throws HostError for no channels, more than 2, or a rate below 16 Hz.
    // Without truePeak the costly true-peak meter is skipped.
    LoudnessMeter(int channels, int sampleRate, bool truePeak = true);

    void add(const float* interleaved, std::int64_t frames);
    LoudnessStats stats() const;

    // The figures of several streams measured as one: the gates applied to
    // all their blocks together, the largest peaks.
    static LoudnessStats combine(const std::vector<const LoudnessStats*>& parts);

    // The frames of one 100 ms step at a sample rate.
    static std::size_t stepFramesAt(int sampleRate) { return static_cast<std::size_t>((sampleRate + 5) / 10); }

    // K-weighting as two biquads (b0 b1 b2 a1 a2, a0 = 1) for a sample rate.
    using Biquad = std::array<double, 5>;
    static std::array<Biquad, 2> kWeighting(double sampleRate);

private:
    struct Filter
    {
        double shelf1 = 0.0, shelf2 = 0.0, pass1 = 0.0, pass2 = 0.0; // transposed direct form II states
    };

    template <int Channels>
    void filter(const float* interleaved, std::size_t frames);
    void endStep();
    static void summarise(LoudnessStats& stats);

    TruePeakMeter truePeak;
    bool measureTruePeak;
    int channels;
    std::array<Biquad, 2> weighting;
    std::array<Filter, 2> state{};
    std::array<float, 2> samplePeak{};
    std::size_t stepFrames; // 100 ms
    std::size_t stepUsed = 0;
    double stepEnergy = 0.0; // sum of squares of the current step, all channels
    std::array<double, 30> steps{}; // the last 3 s of step energies, a ring
    std::uint64_t stepCount = 0;
    std::vector<double> blocks;     // mean squares of the 400 ms blocks above -70 LUFS
    std::vector<double> shortTerms; // mean squares of the 3 s blocks above -70 LUFS
    std::vector<float> shortTermLufs; // every step
};
