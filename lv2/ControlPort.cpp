#include "lv2/ControlPort.h"

#include <algorithm>
#include <cmath>

namespace
{
float clamp01(double x)
{
    return static_cast<float>(std::min(std::max(x, 0.0), 1.0));
}
} // namespace

float toNormalised(const ControlPort& port, float value, float sampleRate)
{
    if (std::isnan(value))
        return value;
    return clamp01(port.normalisedOf(std::min(std::max(value, port.minimum), port.maximum), sampleRate));
}

float fromNormalised(const ControlPort& port, float normalised, float sampleRate)
{
    return static_cast<float>(port.valueOf(clamp01(normalised), sampleRate));
}
