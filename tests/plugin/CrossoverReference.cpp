#include "CrossoverReference.h"

#include <algorithm>
#include <cmath>

namespace Reference
{

namespace
{

const double kPi = 3.14159265358979323846;

struct Section
{
    double b0, b1, b2, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    double step(double x)
    {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Butterworth of `order` at fc (cycles per sample): second-order sections with
// Q = 1 / (2 sin((2k + 1) pi / (2 order))), and one first-order section for odd orders.
std::vector<Section> butterworth(int order, double fc, bool highPass)
{
    const double k = std::tan(kPi * fc);
    std::vector<Section> sections;
    for (int i = 0; i < order / 2; ++i)
    {
        const double q = 1.0 / (2.0 * std::sin((2 * i + 1) * kPi / (2.0 * order)));
        const double norm = 1.0 / (1.0 + k / q + k * k);
        const double a1 = 2.0 * (k * k - 1.0) * norm;
        const double a2 = (1.0 - k / q + k * k) * norm;
        if (highPass)
            sections.push_back({norm, -2.0 * norm, norm, a1, a2});
        else
            sections.push_back({k * k * norm, 2.0 * k * k * norm, k * k * norm, a1, a2});
    }
    if (order % 2 == 1)
    {
        const double norm = 1.0 / (1.0 + k);
        const double a1 = (k - 1.0) * norm;
        if (highPass)
            sections.push_back({norm, -norm, 0.0, a1, 0.0});
        else
            sections.push_back({k * norm, k * norm, 0.0, a1, 0.0});
    }
    return sections;
}

float frequencyHz(float x, double sampleRate)
{
    const double argument = static_cast<double>(0.999f) - static_cast<double>(0.988f) * static_cast<double>(x);
    return static_cast<float>(-(sampleRate / 4.0) * std::log10(argument));
}

int step(float x)
{
    return std::clamp(static_cast<int>(x * 7.0f + 1.0f), 1, 8);
}

} // namespace

std::array<Band, 5> bands(const std::array<float, 4>& frequencyValues, const std::array<float, 4>& slopeValues,
                          double sampleRate)
{
    std::array<Band, 5> result{};
    for (int i = 0; i < 4; ++i)
    {
        const double hz = frequencyHz(frequencyValues[i], sampleRate);
        result[i].upperHz = hz;
        result[i].upperOrder = step(slopeValues[i]);
        result[i + 1].lowerHz = hz;
        result[i + 1].lowerOrder = step(slopeValues[i]);
    }
    return result;
}

double kernelMagnitude(const Band& band, double hz, double sampleRate)
{
    const double warped = std::tan(kPi * hz / sampleRate);
    double magnitude = 1.0;
    if (band.lowerHz != 0.0)
        magnitude /= 1.0 + std::pow(std::tan(kPi * band.lowerHz / sampleRate) / warped, 2 * band.lowerOrder);
    if (band.upperHz != 0.0)
        magnitude /= 1.0 + std::pow(warped / std::tan(kPi * band.upperHz / sampleRate), 2 * band.upperOrder);
    return magnitude;
}

std::vector<double> impulseResponse(const Band& band, double sampleRate, int length)
{
    std::vector<Section> chain;
    if (band.lowerHz != 0.0)
        chain = butterworth(band.lowerOrder, band.lowerHz / sampleRate, true);
    if (band.upperHz != 0.0)
    {
        const std::vector<Section> lowPass = butterworth(band.upperOrder, band.upperHz / sampleRate, false);
        chain.insert(chain.end(), lowPass.begin(), lowPass.end());
    }
    std::vector<double> h(static_cast<std::size_t>(length));
    for (int n = 0; n < length; ++n)
    {
        double x = n == 0 ? 1.0 : 0.0;
        for (Section& section : chain)
            x = section.step(x);
        h[static_cast<std::size_t>(n)] = x;
    }
    return h;
}

int halfLength(const Band& band, double sampleRate, int minLength)
{
    constexpr int kStep = 256;
    constexpr int kLimit = 1 << 18;
    const std::vector<double> h = impulseResponse(band, sampleRate, kLimit);
    double envelope = 1.0;
    for (int len = kStep; len <= kLimit; len += kStep)
    {
        for (int n = len - kStep; n < len; ++n)
            envelope = std::max(envelope * 0.9, std::abs(h[static_cast<std::size_t>(n)]));
        if (envelope <= 1e-7 && len >= minLength)
            return len;
    }
    return kLimit;
}

int commonHalfLength(const std::array<Band, 5>& bands, double sampleRate)
{
    int common = 256;
    for (bool changed = true; changed;)
    {
        changed = false;
        for (const Band& band : bands)
        {
            const int len = halfLength(band, sampleRate, common);
            if (len > common)
            {
                common = len;
                changed = true;
            }
        }
    }
    return common;
}

std::vector<double> kernel(const Band& band, double sampleRate, int len)
{
    const std::vector<double> h = impulseResponse(band, sampleRate, 2 * len);
    std::vector<double> taps(static_cast<std::size_t>(2 * len), 0.0);
    for (int n = 0; n < 2 * len; ++n)
    {
        double sum = 0.0;
        for (int j = std::max(0, len - 1 - n); j < len; ++j)
            sum += h[static_cast<std::size_t>(j)] * h[static_cast<std::size_t>(n - (len - 1) + j)];
        taps[static_cast<std::size_t>(n)] = sum;
    }
    return taps;
}

} // namespace Reference
