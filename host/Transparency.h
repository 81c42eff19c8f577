// How far a plug-in is from passing audio unchanged apart from its delay,
// with its maximizers idle:
//  - flatness: the largest deviation from 0 dB of its small-signal magnitude
//    response (ResponseMeasurer's impulse response, left output), on evenly
//    spaced frequencies half as far apart as the finest detail a response of
//    that length can hold (at most 32768 of them);
//  - a null test: seeded noise on every input, the output minus the input
//    delayed by the latency the plug-in reports, as the residual's energy
//    against the input's (RMS) and its largest sample against the input's.
//
// Idle: our plug-ins (told by their unique ID) get every parameter that
// carries the name of the maximizer's Thresh ("Thresh", "1.Thresh" ...
// "M.Thresh") set to 0 dB, so nothing is driven; the test signals peak at
// -60 dBFS, under any Ceiling (-30 dB at the lowest), so the limiters hold a
// gain of exactly 1 and only delay. Any other plug-in runs with the settings
// as given: these are generic measurements, and "idle" is then whatever those
// settings make it.
#pragma once

#include "ParameterResolver.h"
#include "PluginLibrary.h"

#include <memory>
#include <string>
#include <vector>

struct Transparency
{
    double sampleRate = 0.0;
    int idledThresholds = 0;   // Thresh parameters set to 0 dB
    double lowHz = 0.0;        // the flatness figure's range
    double highHz = 0.0;
    double deviationDb = 0.0;  // the magnitude (dB) furthest from 0 over the range
    double deviationHz = 0.0;  // where it was found
    int latency = 0;           // the delay the null test aligns the input by
    double nullRmsDb = 0.0;    // residual energy against the input's; -inf for a perfect null
    double nullPeakDb = 0.0;   // largest residual sample against the input's largest
};

class TransparencyMeasurer
{
public:
    static constexpr float kTestLevel = 0.001f; // -60 dBFS peak
    static constexpr int kNoiseFrames = 1 << 17;

    TransparencyMeasurer(std::shared_ptr<PluginLibrary> library, float sampleRate, int blockSize);

    Transparency measure(const std::vector<ParameterSetting>& settings) const;

    // Lines a person reads: what idle meant, the flatness, the null residual.
    static std::string text(const Transparency& result);

private:
    // The settings followed by Thresh = 0 dB for every such parameter of ours
    // that accepts it; `idled` counts those.
    std::vector<ParameterSetting> idle(const std::vector<ParameterSetting>& settings, int& idled) const;

    std::shared_ptr<PluginLibrary> library;
    float sampleRate;
    int blockSize;
};
