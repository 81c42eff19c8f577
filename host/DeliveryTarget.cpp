#include "DeliveryTarget.h"

#include "HostError.h"

#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <strings.h>

namespace
{
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Preset
{
    const char* name;
    double loudness;
    double truePeak;
};

constexpr Preset kPresets[] = {
    {"streaming", -14.0, -1.0},
    {"ebu-r128", -23.0, -1.0},
    {"atsc-a85", -24.0, -2.0},
    {"podcast", -16.0, -1.0},
};

// A number followed by nothing or by one of the units (any case, spaces allowed).
double parseLevel(const std::string& text, std::initializer_list<const char*> units, const char* what,
                  const char* example)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end != begin && std::isfinite(value))
    {
        while (*end == ' ')
            ++end;
        if (*end == '\0')
            return value;
        for (const char* unit : units)
            if (strcasecmp(end, unit) == 0)
                return value;
    }
    std::string accepted;
    for (const char* unit : units)
        accepted += std::string(accepted.empty() ? "" : " or ") + example + unit;
    throw HostError("'" + text + "' is not a " + what + "; write it as " + accepted);
}
} // namespace

bool DeliveryTarget::hasLoudness() const
{
    return !std::isnan(loudness);
}

bool DeliveryTarget::hasTruePeak() const
{
    return !std::isnan(truePeak);
}

DeliveryTarget DeliveryTarget::none()
{
    return {kNaN, kNaN};
}

DeliveryTarget DeliveryTarget::preset(const std::string& name)
{
    std::string names;
    for (const Preset& preset : kPresets)
    {
        if (strcasecmp(name.c_str(), preset.name) == 0)
            return {preset.loudness, preset.truePeak};
        names += std::string(names.empty() ? "" : ", ") + preset.name;
    }
    throw HostError("unknown preset '" + name + "'; the presets are " + names);
}

double DeliveryTarget::parseLoudness(const std::string& text)
{
    return parseLevel(text, {"LUFS", "LKFS"}, "loudness", "-14");
}

double DeliveryTarget::parseTruePeak(const std::string& text)
{
    return parseLevel(text, {"dBTP", "dB"}, "true peak", "-1");
}
