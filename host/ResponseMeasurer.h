// Small-signal magnitude response of a plug-in: a fresh instance is fed an
// impulse of -60 dBFS on both inputs, its left output is captured for its
// latency plus a fixed tail, and the spectrum of the capture is evaluated by a
// direct DFT at log-spaced frequencies. The magnitude ignores the capture's
// time offset, so the latency needs no further compensation.
#pragma once

#include "ParameterResolver.h"
#include "PluginLibrary.h"

#include <memory>
#include <string>
#include <vector>

struct ResponseCurve
{
    std::string name;
    std::vector<double> db; // one per frequency; -inf where nothing came out
};

struct Response
{
    std::vector<double> frequencies;
    std::vector<ResponseCurve> curves;
};

class ResponseMeasurer
{
public:
    static constexpr float kImpulseLevel = 0.001f; // -60 dBFS: below any threshold

    ResponseMeasurer(std::shared_ptr<PluginLibrary> library, float sampleRate, int blockSize, int points,
                     int tailFrames);

    // The curve "total" with the settings, and with `bands` also "band 1" to
    // "band 5", each with the other bands switched off (parameters Band1 to
    // Band5 at 0). Throws HostError if the plug-in lacks those parameters.
    Response measure(const std::vector<ParameterSetting>& settings, bool bands) const;

    // Impulse response (output / impulse level) of a fresh instance, latency
    // plus tail frames long.
    std::vector<float> impulseResponse(const std::vector<ParameterSetting>& settings) const;

    // What a fresh instance with the settings makes of a signal: input
    // channel i is fed signal[min(i, signal.size() - 1)], followed by
    // silence for the latency (as reported once the settings are applied)
    // plus the tail.
    struct Capture
    {
        int latency = 0;
        int inputs = 0;                          // the instance's input channels
        std::vector<std::vector<float>> outputs; // signal + latency + tail frames each
    };
    Capture capture(const std::vector<ParameterSetting>& settings,
                    const std::vector<std::vector<float>>& signal) const;

    // `points` frequencies from low to high, evenly spaced on a log axis.
    static std::vector<double> logFrequencies(double low, double high, int points);
    // 20 log10 |sum h[n] e^(-i 2 pi f n / rate)| for each f.
    static std::vector<double> magnitudeDb(const std::vector<float>& h, double sampleRate,
                                           const std::vector<double>& frequencies);

private:
    std::shared_ptr<PluginLibrary> library;
    float sampleRate;
    int blockSize;
    int points;
    int tailFrames;
};
