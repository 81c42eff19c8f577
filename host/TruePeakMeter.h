// True peak of interleaved float frames: the largest magnitude of the signal
// oversampled 4 times (2 times from 96 kHz, not at all from 192 kHz) by a
// windowed-sinc interpolator of about 12 taps per phase (49 in all at 4x), as
// ITU-R BS.1770 describes.
// Our own because libebur128's true-peak mode costs about as much CPU as a
// whole multiband plug-in; this one runs each phase over whole blocks in
// single precision, which vectorises. Allocates at construction and when a block is larger
// than any before.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class TruePeakMeter
{
public:
    static constexpr int kTaps = 13;     // per phase (the last is zero but in phase 0)
    static constexpr int kMaxPhases = 4; // oversampling factor at most

    TruePeakMeter(int channels, int sampleRate);

    void add(const float* interleaved, std::int64_t frames);
    double peak() const; // linear, at least the sample peak
    int factor() const { return phases; }

private:
    using Lanes = std::array<float, kMaxPhases>;

    int channels;
    int phases;
    std::array<Lanes, kTaps> coefficients{}; // [tap][phase]
    std::vector<std::array<float, kTaps - 1>> history; // per channel, newest last
    std::vector<float> line; // history then the block, one channel at a time
    std::vector<float> sum;  // one phase of the block, oversampled
    std::vector<float> maximum;
};
