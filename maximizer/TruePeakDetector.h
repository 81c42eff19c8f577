// Peak detection for the limiter's side chain, on a stream held in a history
// buffer. Two modes:
//  - sample peak: |x| of the sample kDelay positions back;
//  - true peak: the largest magnitude among that sample and the three points
//    a quarter, a half and three quarters of a sample after it, interpolated by
//    a 4x polyphase windowed-sinc FIR of kTaps taps per phase: a sinc over
//    +-64 samples under a four-term Blackman-Harris window. Its passband is
//    flat to about 0.47 of the sample rate, its transition band is centred on
//    Nyquist and images are rejected by more than 90 dB, so it reads full-band
//    content (noise, clipped material, edges) as a long high-quality
//    interpolator does, not just content under 20 kHz.
// What counts as a true peak for content right at Nyquist depends on the
// interpolator: the ideal one has no bound on a suddenly starting Nyquist
// tone, and longer interpolators read such content higher than this one.
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
    static constexpr int kTaps = 128;
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
    static constexpr int kFolded = kTaps / 2;

    std::array<std::array<float, kTaps>, kPhases - 1> taps;
    // Folded taps: phase 1/2's first half, and half the sum and half the
    // difference of phase 1/4's tap pairs j and kTaps - 1 - j.
    std::array<float, kFolded> half;
    std::array<float, kFolded> even;
    std::array<float, kFolded> odd;
};
