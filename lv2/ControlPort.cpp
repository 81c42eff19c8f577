#include "lv2/ControlPort.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr int kSlopeSteps = 8;
constexpr float kDbPerSlopeStep = 12.0f;

float clamp01(double x)
{
    return static_cast<float>(std::min(std::max(x, 0.0), 1.0));
}

// The effect's crossover frequency curve: x = 0..1 spans a few Hz up to
// nearly half the sample rate, log10(0.999 - 0.988 x) times -rate / 4.
double crossoverHzFor(double x, double rate)
{
    return -0.25 * rate * std::log10(0.999 - 0.988 * x);
}

double crossoverValueFor(double hz, double rate)
{
    return (0.999 - std::pow(10.0, -4.0 * hz / rate)) / 0.988;
}
} // namespace

float toNormalised(const ControlPort& port, float value, float sampleRate)
{
    if (std::isnan(value))
        return value;
    const double v = std::min(std::max(value, port.minimum), port.maximum);
    const double span = static_cast<double>(port.maximum) - port.minimum;
    switch (port.mapping)
    {
    case PortMapping::toggle: return v > 0.5 ? 1.0f : 0.0f;
    case PortMapping::linear: return clamp01((v - port.minimum) / span);
    case PortMapping::linearReversed: return clamp01((port.maximum - v) / span);
    case PortMapping::logarithmic: return clamp01(std::log(v / port.minimum) / std::log(port.maximum / port.minimum));
    case PortMapping::slopeSteps:
    {
        // Step s covers normalised values [(s - 1) / 7, s / 7); aim at its middle.
        const double step = std::min(std::max(std::round(v / kDbPerSlopeStep), 1.0), double(kSlopeSteps));
        return clamp01((step - 0.5) / (kSlopeSteps - 1));
    }
    case PortMapping::crossoverHz: return clamp01(crossoverValueFor(v, sampleRate));
    }
    return 0.0f;
}

float fromNormalised(const ControlPort& port, float normalised, float sampleRate)
{
    const double x = clamp01(normalised);
    const double span = static_cast<double>(port.maximum) - port.minimum;
    switch (port.mapping)
    {
    case PortMapping::toggle: return x > 0.5 ? 1.0f : 0.0f;
    case PortMapping::linear: return static_cast<float>(port.minimum + x * span);
    case PortMapping::linearReversed: return static_cast<float>(port.maximum - x * span);
    case PortMapping::logarithmic:
        return static_cast<float>(port.minimum * std::pow(double(port.maximum) / port.minimum, x));
    case PortMapping::slopeSteps:
        return kDbPerSlopeStep * static_cast<float>(std::min(std::floor(x * (kSlopeSteps - 1)) + 1.0, double(kSlopeSteps)));
    case PortMapping::crossoverHz: return static_cast<float>(crossoverHzFor(x, sampleRate));
    }
    return 0.0f;
}
