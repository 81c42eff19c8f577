// Streaming sample-rate conversion of interleaved frames by a rational
// ratio (44.1 to 48 kHz is 160/147): a polyphase Kaiser-windowed sinc,
// +-32 taps at the lower rate, cut off at 0.95 of the lower Nyquist.
// Used to feed a codec that only takes certain rates (Opus: 48 kHz), as a
// streaming service resamples before encoding. The output is delayed by
// nothing: output frame n is the input interpolated at n * in / out.
// Allocates at construction and as its output grows.
#pragma once

#include <cstdint>
#include <vector>

class Resampler
{
public:
    Resampler(int channels, int inputRate, int outputRate);

    // Appends the frames the input so far determines to `out` (interleaved).
    void process(const float* interleaved, std::int64_t frames, std::vector<float>& out);
    // The last frames, as if the input went on with silence.
    void finish(std::vector<float>& out);

private:
    void emit(std::vector<float>& out, bool all);

    int channels;
    std::int64_t up;   // output frames per `down` input frames
    std::int64_t down;
    int half;          // taps each side, in input samples
    std::vector<float> taps; // `up` phases of 2 * half taps
    std::vector<float> history; // input frames from `start` on, interleaved
    std::int64_t start = 0;     // input frame index of history[0]
    std::int64_t received = 0;  // input frames so far
    std::int64_t produced = 0;  // output frames so far
};
