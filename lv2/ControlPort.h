// One LV2 control input: a parameter of the table (symbol, name, unit, range,
// default) and the conversion of its port value to the normalised 0..1 value
// of the VST 2.4 parameter behind it. The Turtle files and the adapter read
// the same records as the VST editions, so the ports a host reads and the
// values the effect receives cannot drift apart.
#pragma once

#include "vst/Parameter.h"

using ControlPort = Parameter;

// Normalised VST value for a port value. Values outside the port's range are
// clamped; a crossover frequency is clamped to what the effect reaches at
// `sampleRate`. NaN answers NaN (the caller keeps the old value).
float toNormalised(const ControlPort& port, float value, float sampleRate);

// Port value a normalised VST value stands for (the inverse of toNormalised
// up to the effect's own rounding of slope steps and switches).
float fromNormalised(const ControlPort& port, float normalised, float sampleRate);
