// The known behaviour of the test plug-in (TestGainPlugin.cpp), shared with
// the tests that check the host against it.
#pragma once

#include <string>

namespace TestGain
{
constexpr int kLatency = 37;
constexpr int kBands = 5;
constexpr float kTaps[kBands] = {0.5f, -0.25f, 0.125f, 0.0625f, -0.03125f};
constexpr int kBandParams[kBands] = {0, 3, 6, 9, 12};

double gainDb(float x);                        // -24 dB at 0, +24 dB at 1
double frequency(float x, float sampleRate);   // the Freq parameter's display value
std::string float2string(float value);         // eight-character display text
} // namespace TestGain
