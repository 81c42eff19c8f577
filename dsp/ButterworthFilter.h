// Digital Butterworth low-pass and high-pass filters of order 1 to 8, designed
// from the analog prototype by the bilinear transform with pre-warping (the
// gain at the cutoff is exactly 1/sqrt 2), normalised to unit gain in the pass
// band, and run as a cascade of up to four Direct Form I sections with double
// memories. Objects never allocate; each belongs to one thread.
#pragma once

#include <complex>

namespace Dsp
{

using Complex = std::complex<double>;

// One pole/zero slot: a conjugate pair (p, conj p, z, conj z) or a single root
// (p, 0, z, 0). The analog zeros at infinity are stored as (+inf, 0).
struct RootSlot
{
    Complex pole1;
    Complex pole2;
    Complex zero1;
    Complex zero2;
};

// The poles and zeros of one filter; slot k holds poles 2k and 2k + 1, and a
// single root always comes last.
class RootLayout
{
public:
    static constexpr int kSlotCapacity = 4;

    void reset() { poleCount = 0; }
    // Both return false, and change nothing, when the layout is full.
    bool addConjugatePair(Complex pole, Complex zero);
    bool addSingle(Complex pole, Complex zero);

    int poleCount = 0;
    int poleCapacity = 2 * kSlotCapacity;
    RootSlot slots[kSlotCapacity] = {};
    // Frequency (radians per sample, 0..pi) at which the gain is normalised.
    double normalW = 0.0;
    // Gain wanted at normalW.
    double normalGain = 1.0;
};

// The analog low-pass prototype: n poles evenly spaced on the left half of the
// unit circle, all zeros at infinity.
class ButterworthPrototype
{
public:
    // Does nothing when the order is unchanged. The caller checks 1 <= order <= 8.
    void design(int newOrder);

    RootLayout layout;
    int order = -1;
};

// H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2); a0 is always 1.
struct BiquadSection
{
    double a0 = 1.0;
    double a1 = 0.0;
    double a2 = 0.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double b0 = 1.0;
};

// Direct Form I memory of one section.
struct SectionState
{
    double x2 = 0.0;
    double y2 = 0.0;
    double x1 = 0.0;
    double y1 = 0.0;
};

class ButterworthFilter
{
public:
    static constexpr int kMaxOrder = 8;
    static constexpr int kMaxSections = RootLayout::kSlotCapacity;
    // Added to every output sample with alternating sign, so a following
    // filter never sees exact zeros; it never enters the section memories.
    static constexpr double kOffset = 1e-10;

    // fc is the cutoff divided by the sample rate, 0 < fc < 0.5; order is 1..8.
    // Gain is 1 at 0 Hz (low-pass) or at half the sample rate (high-pass).
    // An invalid order or cutoff asserts in debug builds; otherwise the design
    // returns false and leaves the filter inactive, passing samples untouched.
    bool designLowPass(int order, double fc);
    bool designHighPass(int order, double fc);

    // Filters n samples in place. Memories and the offset carry over between
    // calls, so a long signal may be fed in consecutive blocks.
    void filterBlock(float* samples, int n);
    // Zeroes the section memories; the offset keeps alternating where it stopped.
    void clearState();

    // Complex response of the active sections at f cycles per sample.
    Complex response(double f) const;

    int sectionCount() const { return activeSections; }
    // Section i, for 0 <= i < kMaxSections.
    const BiquadSection& section(int i) const { return sections[i]; }

private:
    bool acceptDesign(int order, double fc);
    void mapToLowPass(double fc);
    void mapToHighPass(double fc);
    void setupSections();

    int activeSections = 0;
    RootLayout digital;
    ButterworthPrototype analog;
    BiquadSection sections[kMaxSections];
    double offset = kOffset;
    SectionState states[kMaxSections];
};

} // namespace Dsp
