// Peak detection for the limiter's side chain, on a stream held in a history
// buffer. Two modes:
//  - sample peak: |x| of the sample kDelay positions back;
//  - true peak: the largest magnitude among that sample and the three points
//    a quarter, a half and three quarters of a sample after it, interpolated by
//    a 4x polyphase windowed-sinc FIR (kTaps taps per phase). Accurate to
//    0.1 dB for content up to 0.45 of the sample rate (20 kHz at 44.1 kHz);
//    nearer Nyquist a filter this short under-reads.
// Both modes answer with the same delay of kDelay samples, so switching modes
// never changes the limiter's latency. The coefficient table is built by the
// constructor; detection allocates nothing and keeps no state, so one instance
// may serve several channels and threads.
#pragma once

#include <array>

class TruePeakDetector
{
public:
    static constexpr int kPhases = 4;
    static constexpr int kTaps = 32;
    // Samples between the newest input and the position whose peak is answered.
    static constexpr int kDelay = kTaps / 2;
    // Samples of history the caller must keep before x[0].
    static constexpr int kHistory = kTaps - 1;

    TruePeakDetector();

    // peak[i] = max |x(i - kDelay + f)| for f = 0, 1/4, 1/2, 3/4, where x(t) is
    // the interpolated signal; x[-kHistory .. n-1] must be readable; n <= kMaxBlock.
    void truePeak(const float* x, float* peak, int n) const;

    // peak[i] = |x[i - kDelay]|; x[-kDelay .. n-1] must be readable.
    static void samplePeak(const float* x, float* peak, int n);

    // Interpolation taps of a fractional phase (1 to 3), for tests: the point
    // phase/4 after x[i - kDelay] is sum over j of taps[j] * x[i - j].
    const std::array<float, kTaps>& phaseTaps(int phase) const { return taps[phase - 1]; }

    static constexpr int kMaxBlock = 256;

private:
    std::array<std::array<float, kTaps>, kPhases - 1> taps;
};
