// The parameter lists of our two plug-ins, in the order a host sees them.
//
// The multiband effect shows its 13 own parameters, then the six of each of
// its five band maximizers and its master, named "1." ... "5.", "M." before
// the maximizer's name and "b1_" ... "b5_", "m_" before its LV2 symbol. The
// forwarded ones are what the effect shows when the inner maximizer is ours;
// the effect itself always asks the inner plug-in for their texts.
//
// The lists are built on first use (allocates, thread-safe) and never change.
#pragma once

#include "vst/Parameter.h"

#include <vector>

namespace ParameterTable
{
constexpr int kMultibandOwnCount = 13;
constexpr int kMaximizerCount = 6;
constexpr int kMultibandInstances = 6; // five bands, then the master
constexpr int kMultibandCount = kMultibandOwnCount + kMultibandInstances * kMaximizerCount;

// Unique IDs of the plug-ins, as the VST record carries them.
constexpr int kMultibandId = ('m' << 24) | ('Q' << 16) | ('V' << 8) | 'M';
constexpr int kMaximizerId = ('O' << 24) | ('r' << 16) | ('v' << 8) | 'M';

// Band switch k is index 3 (k - 1); crossover k's frequency and slope follow it.
const std::vector<Parameter>& multiband();
// Thresh, Ceiling, Release, Link, TruePeak, AutoRel.
const std::vector<Parameter>& maximizer();
// The multiband effect's meters, shown to LV2 hosts as output ports: the
// gain reduction of each band maximizer and the master ("1.GainRed" ...
// "M.GainRed", symbols b1_gr ... m_gr, dB), then the output's true peak
// ("Out.TruePeak", out_tp, dBTP).
const std::vector<Parameter>& multibandMeters();
// The list of the plug-in with this unique ID, or null for any other plug-in.
const std::vector<Parameter>* ofPlugin(int uniqueId);
} // namespace ParameterTable
