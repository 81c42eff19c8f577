#include "dsp/ButterworthFilter.h"

#include <cassert>
#include <cmath>
#include <limits>

namespace Dsp
{

namespace
{

constexpr double kPi = 3.14159265358979323846;

bool isInfinity(Complex c)
{
    return c.real() == std::numeric_limits<double>::infinity() && c.imag() == 0.0;
}

bool isZero(Complex c)
{
    return c.real() == 0.0 && c.imag() == 0.0;
}

// Bilinear transform of a pre-warped analog root: (1 + kc) / (1 - kc).
Complex bilinear(Complex c, double k)
{
    const Complex warped = k * c;
    return (1.0 + warped) / (1.0 - warped);
}

Complex mapLowPassRoot(Complex c, double k)
{
    return isInfinity(c) ? Complex(-1.0, 0.0) : bilinear(c, k);
}

Complex mapHighPassRoot(Complex c, double k)
{
    return isInfinity(c) ? Complex(1.0, 0.0) : -bilinear(c, k);
}

// Coefficients (c1, c2) of 1 + c1 z^-1 + c2 z^-2 with roots r1, r2.
void quadraticFromRoots(Complex r1, Complex r2, double& c1, double& c2)
{
    if (r1.imag() != 0.0)
    {
        c1 = -2.0 * r1.real();
        c2 = r1.real() * r1.real() + r1.imag() * r1.imag();
    }
    else
    {
        c1 = -(r1.real() + r2.real());
        c2 = r1.real() * r2.real();
    }
}

} // namespace

bool RootLayout::addConjugatePair(Complex pole, Complex zero)
{
    if (poleCount < 0 || poleCount + 2 > poleCapacity)
        return false;
    slots[poleCount / 2] = {pole, std::conj(pole), zero, std::conj(zero)};
    poleCount += 2;
    return true;
}

bool RootLayout::addSingle(Complex pole, Complex zero)
{
    if (poleCount < 0 || poleCount + 1 > poleCapacity)
        return false;
    slots[poleCount / 2] = {pole, Complex(0.0, 0.0), zero, Complex(0.0, 0.0)};
    poleCount += 1;
    return true;
}

void ButterworthPrototype::design(int newOrder)
{
    if (newOrder == order)
        return;
    order = newOrder;
    layout.reset();
    const Complex infinity(std::numeric_limits<double>::infinity(), 0.0);
    const int pairs = order / 2;
    for (int i = 0; i < pairs; ++i)
    {
        const double theta = (2 * i + 1) * kPi * (1.0 / (2 * order)) + kPi / 2;
        layout.addConjugatePair(Complex(std::cos(theta), std::sin(theta)), infinity);
    }
    if (order % 2 != 0)
        layout.addSingle(Complex(-1.0, 0.0), infinity);
}

bool ButterworthFilter::acceptDesign(int order, double fc)
{
    // The negated comparison also rejects a NaN cutoff.
    const bool valid = order >= 1 && order <= kMaxOrder && fc > 0.0 && fc < 0.5;
    assert(valid && "Butterworth order must be 1..8 and cutoff inside (0, 0.5)");
    if (!valid)
        activeSections = 0;
    return valid;
}

bool ButterworthFilter::designLowPass(int order, double fc)
{
    if (!acceptDesign(order, fc))
        return false;
    analog.design(order);
    mapToLowPass(fc);
    setupSections();
    return true;
}

bool ButterworthFilter::designHighPass(int order, double fc)
{
    if (!acceptDesign(order, fc))
        return false;
    analog.design(order);
    mapToHighPass(fc);
    setupSections();
    return true;
}

void ButterworthFilter::mapToLowPass(double fc)
{
    digital.reset();
    const double k = std::tan(kPi * fc);
    const RootLayout& proto = analog.layout;
    const int pairs = proto.poleCount / 2;
    for (int i = 0; i < pairs; ++i)
        digital.addConjugatePair(mapLowPassRoot(proto.slots[i].pole1, k),
                                 mapLowPassRoot(proto.slots[i].zero1, k));
    if (proto.poleCount % 2 != 0)
        digital.addSingle(mapLowPassRoot(proto.slots[pairs].pole1, k),
                          mapLowPassRoot(proto.slots[pairs].zero1, k));
    digital.normalW = proto.normalW;
    digital.normalGain = proto.normalGain;
}

void ButterworthFilter::mapToHighPass(double fc)
{
    digital.reset();
    const double k = 1.0 / std::tan(kPi * fc);
    const RootLayout& proto = analog.layout;
    const int pairs = proto.poleCount / 2;
    for (int i = 0; i < pairs; ++i)
        digital.addConjugatePair(mapHighPassRoot(proto.slots[i].pole1, k),
                                 mapHighPassRoot(proto.slots[i].zero1, k));
    if (proto.poleCount % 2 != 0)
        digital.addSingle(mapHighPassRoot(proto.slots[pairs].pole1, k),
                          mapHighPassRoot(proto.slots[pairs].zero1, k));
    digital.normalW = kPi - proto.normalW;
    digital.normalGain = proto.normalGain;
}

void ButterworthFilter::setupSections()
{
    activeSections = (digital.poleCount + 1) / 2;
    for (int k = 0; k < activeSections; ++k)
    {
        const RootSlot& slot = digital.slots[k];
        BiquadSection& s = sections[k];
        s.a0 = 1.0;
        s.b0 = 1.0;
        if (isZero(slot.pole2) && isZero(slot.zero2))
        {
            s.a1 = -slot.pole1.real();
            s.a2 = 0.0;
            s.b1 = -slot.zero1.real();
            s.b2 = 0.0;
        }
        else
        {
            quadraticFromRoots(slot.pole1, slot.pole2, s.a1, s.a2);
            quadraticFromRoots(slot.zero1, slot.zero2, s.b1, s.b2);
        }
    }

    // Only the first section carries the gain.
    const double scale = digital.normalGain / std::abs(response(digital.normalW / (2 * kPi)));
    sections[0].b0 *= scale;
    sections[0].b1 *= scale;
    sections[0].b2 *= scale;
}

Complex ButterworthFilter::response(double f) const
{
    const double w = 2 * kPi * f;
    const Complex z1 = std::polar(1.0, -w);
    const Complex z2 = std::polar(1.0, -2 * w);
    Complex numerator(1.0, 0.0);
    Complex denominator(1.0, 0.0);
    for (int k = 0; k < activeSections; ++k)
    {
        const BiquadSection& s = sections[k];
        numerator *= (s.b0 / s.a0) + (s.b1 / s.a0) * z1 + (s.b2 / s.a0) * z2;
        denominator *= 1.0 + (s.a1 / s.a0) * z1 + (s.a2 / s.a0) * z2;
    }
    return numerator / denominator;
}

namespace
{
// The cascade for a section count known at compile time, so the memories
// stay in registers across the block; the arithmetic is the same as one
// section at a time.
template <int Sections>
double runCascade(const BiquadSection* sections, SectionState* states, float* samples, int n, double offset)
{
    BiquadSection s[Sections];
    SectionState m[Sections];
    for (int k = 0; k < Sections; ++k)
    {
        s[k] = sections[k];
        m[k] = states[k];
    }
    for (int i = 0; i < n; ++i)
    {
        double y = samples[i];
        for (int k = 0; k < Sections; ++k)
        {
            const double x = y;
            y = s[k].b1 * m[k].x1 + s[k].b0 * x + s[k].b2 * m[k].x2 - s[k].a1 * m[k].y1 - s[k].a2 * m[k].y2;
            m[k].x2 = m[k].x1;
            m[k].y2 = m[k].y1;
            m[k].x1 = x;
            m[k].y1 = y;
        }
        offset = -offset;
        samples[i] = static_cast<float>(y + offset);
    }
    for (int k = 0; k < Sections; ++k)
        states[k] = m[k];
    return offset;
}
} // namespace

void ButterworthFilter::filterBlock(float* samples, int n)
{
    if (samples == nullptr || n <= 0 || activeSections == 0)
        return;
    static_assert(kMaxSections == 4, "one cascade per section count");
    switch (activeSections)
    {
    case 1: offset = runCascade<1>(sections, states, samples, n, offset); break;
    case 2: offset = runCascade<2>(sections, states, samples, n, offset); break;
    case 3: offset = runCascade<3>(sections, states, samples, n, offset); break;
    default: offset = runCascade<4>(sections, states, samples, n, offset); break;
    }
}

void ButterworthFilter::clearState()
{
    for (SectionState& m : states)
        m = SectionState();
}

} // namespace Dsp
