// One LV2 control input: the port a host sees (symbol, label, unit, range,
// default) and how its value maps to the normalised 0..1 value of the VST 2.4
// parameter behind it. The Turtle files and the adapter read the same
// records, so the ports a host reads and the values the effect receives
// cannot drift apart.
#pragma once

#include <string>

enum class PortMapping
{
    toggle,          // 0 or 1; normalised 0 or 1
    linear,          // minimum..maximum onto 0..1
    linearReversed,  // minimum..maximum onto 1..0
    logarithmic,     // equal ratios onto equal steps
    slopeSteps,      // 12, 24 ... 96 dB/oct onto the effect's eight slope steps
    crossoverHz,     // Hz onto the effect's frequency curve, which scales with the sample rate
};

enum class PortUnit
{
    none,
    hz,
    db,
    ms,
    percent,
    dbPerOctave,
};

struct ControlPort
{
    std::string symbol; // what a script types: "freq1", "m_ceiling"
    std::string name;   // the VST parameter's name: "Freq1", "M.Ceiling"
    PortMapping mapping;
    PortUnit unit;
    float minimum;
    float maximum;
    float defaultValue;
};

// Normalised VST value for a port value. Values outside the port's range are
// clamped; a crossover frequency is clamped to what the effect reaches at
// `sampleRate`. NaN answers NaN (the caller keeps the old value).
float toNormalised(const ControlPort& port, float value, float sampleRate);

// Port value a normalised VST value stands for (the inverse of toNormalised
// up to the effect's own rounding of slope steps and switches).
float fromNormalised(const ControlPort& port, float normalised, float sampleRate);
