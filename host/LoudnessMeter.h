// Integrated loudness, loudness range, sample peak and true peak of a stream
// of interleaved float frames: loudness and sample peak with libebur128 (EBU
// R 128 / ITU-R BS.1770), the true peak with TruePeakMeter. Allocates at
// construction only.
#pragma once

#include "TruePeakMeter.h"

#include <cstdint>

#include <ebur128.h>

struct LoudnessStats
{
    double integratedLufs; // -inf for silence or less than 400 ms of audio
    double rangeLu;
    double samplePeakDb;   // dBFS, -inf for silence
    double truePeakDb;     // dBTP
};

class LoudnessMeter
{
public:
    // Throws HostError if libebur128 refuses the channel count or rate.
    LoudnessMeter(int channels, int sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    void add(const float* interleaved, std::int64_t frames);
    LoudnessStats stats() const;

private:
    ebur128_state* state = nullptr;
    TruePeakMeter truePeak;
    int channels;
};
