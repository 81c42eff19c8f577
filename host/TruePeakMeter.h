// True peak of interleaved float frames: the largest magnitude of the signal
// oversampled 4 times (2 times from 96 kHz, not at all from 192 kHz) by a
// windowed-sinc interpolator of about 12 taps per phase (49 in all at 4x), as
// ITU-R BS.1770 describes.
// Our own because libebur128's true-peak mode costs about as much CPU as a
// whole multiband plug-in; this one runs each phase over whole blocks in
// single precision, in tiles that stay in registers (256-bit where the
// processor has AVX), and skips the phase that falls on the samples.
// Allocates at construction and when a block is larger than any before.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class TruePeakMeter
{
public:
    static constexpr int kTaps = 13;     // per phase (the last is zero but in phase 0)
    static constexpr int kMaxPhases = 4; // oversampling factor at most

    // allowAvx: use the processor's 256-bit instructions where it has them
    // (the figures are the same either way).
    TruePeakMeter(int channels, int sampleRate, bool allowAvx = true);

    void add(const float* interleaved, std::int64_t frames);
    double peak() const; // linear, at least the sample peak
    int factor() const { return phases; }

private:
    static float phasePeakBaseline(const float* line, const float* taps, std::size_t count);
    static float phasePeakAvx(const float* line, const float* taps, std::size_t count);

    bool useAvx;
    int channels;
    int phases;
    std::array<std::array<float, kTaps>, kMaxPhases> phaseTaps{}; // [phase][tap]
    std::vector<std::array<float, kTaps - 1>> history; // per channel, newest last
    std::vector<float> line; // history then the block, one channel at a time
    std::vector<float> maximum;
};
