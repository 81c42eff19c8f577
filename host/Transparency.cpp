#include "Transparency.h"

#include "HostError.h"
#include "ParameterTable.h"
#include "PluginInstance.h"
#include "RenderReport.h"
#include "ResponseMeasurer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace
{
constexpr int kTailFrames = 1 << 16;
constexpr double kLowestHz = 20.0;
constexpr double kHighestHz = 20000.0;
// Below 43.5 kHz the range ends short of the Nyquist frequency, where
// resampling filters of any plug-in roll off.
constexpr double kHighestShareOfRate = 0.46;
constexpr int kMinPoints = 256;
constexpr int kMaxPoints = 1 << 15;
constexpr std::uint32_t kNoiseSeed = 20250;
const double kInfinity = std::numeric_limits<double>::infinity();

// -inf for silence; NaN stays NaN, so that output holding NaN never reads as a perfect null.
double decibels(double ratio)
{
    return ratio > 0.0 || std::isnan(ratio) ? 20.0 * std::log10(ratio) : -kInfinity;
}

// The samples from the first to the last that is not zero.
std::vector<float> trimmed(const std::vector<float>& h)
{
    const auto first = std::find_if(h.begin(), h.end(), [](float x) { return x != 0.0f; });
    const auto last = std::find_if(h.rbegin(), h.rend(), [](float x) { return x != 0.0f; }).base();
    return first < last ? std::vector<float>(first, last) : std::vector<float>{};
}

// Evenly spaced, twice as fine as the spectrum of `frames` samples can vary.
std::vector<double> gridFor(std::size_t frames, double low, double high, double rate)
{
    const double spacing = rate / (2.0 * static_cast<double>(std::max<std::size_t>(frames, 1)));
    const int points = std::clamp(static_cast<int>((high - low) / spacing) + 2, kMinPoints, kMaxPoints);
    std::vector<double> frequencies;
    for (int i = 0; i < points; ++i)
        frequencies.push_back(low + (high - low) * i / (points - 1));
    return frequencies;
}

// "20 Hz", "19.8 kHz", "20 kHz".
std::string hertz(double hz)
{
    if (hz < 1000.0)
        return RenderReport::number(hz, 0) + " Hz";
    std::string khz = RenderReport::number(hz / 1000.0, 1);
    if (khz.size() > 2 && khz.compare(khz.size() - 2, 2, ".0") == 0)
        khz.resize(khz.size() - 2);
    return khz + " kHz";
}

// Three significant digits, however small.
std::string small(double db)
{
    if (!std::isfinite(db) || db == 0.0)
        return RenderReport::number(db, 0);
    const int decimals = std::clamp(2 - static_cast<int>(std::floor(std::log10(db))), 0, 12);
    return RenderReport::number(db, decimals);
}
} // namespace

TransparencyMeasurer::TransparencyMeasurer(std::shared_ptr<PluginLibrary> lib, float rate, int block)
    : library(std::move(lib)), sampleRate(rate), blockSize(block)
{
}

std::vector<ParameterSetting> TransparencyMeasurer::idle(const std::vector<ParameterSetting>& settings,
                                                         int& idled) const
{
    std::vector<ParameterSetting> result = settings;
    idled = 0;
    PluginInstance probe(library, sampleRate, blockSize);
    const std::vector<Parameter>* table = ParameterTable::ofPlugin(probe.record()->uniqueID);
    if (!table)
        return result;
    ParameterResolver resolver(probe);
    for (int index = 0; index < probe.numParams() && index < static_cast<int>(table->size()); ++index)
    {
        const std::string& name = (*table)[static_cast<std::size_t>(index)].name;
        const bool threshold = name == "Thresh" || (name.size() > 7 && name.compare(name.size() - 7, 7, ".Thresh") == 0);
        if (!threshold || probe.paramName(index) != name)
            continue;
        try
        {
            resolver.resolveValue(index, "0dB");
        }
        catch (const HostError&)
        {
            continue; // another inner maximizer whose parameter of that name has no 0 dB
        }
        result.push_back({name, "0dB"});
        ++idled;
    }
    return result;
}

Transparency TransparencyMeasurer::measure(const std::vector<ParameterSetting>& settings) const
{
    Transparency result;
    result.sampleRate = sampleRate;
    const std::vector<ParameterSetting> idleSettings = idle(settings, result.idledThresholds);
    const ResponseMeasurer measurer(library, sampleRate, blockSize, 2 /* points: for plots only */, kTailFrames);

    result.lowHz = kLowestHz;
    result.highHz = std::min(kHighestHz, kHighestShareOfRate * sampleRate);
    const std::vector<float> response = trimmed(measurer.impulseResponse(idleSettings));
    const std::vector<double> frequencies = gridFor(response.size(), result.lowHz, result.highHz, sampleRate);
    const std::vector<double> db = ResponseMeasurer::magnitudeDb(response, sampleRate, frequencies);
    for (std::size_t i = 0; i < db.size() && !std::isnan(result.deviationDb); ++i)
        if (std::isnan(db[i]) || std::fabs(db[i]) > std::fabs(result.deviationDb))
        {
            result.deviationDb = db[i];
            result.deviationHz = frequencies[i];
        }

    // White noise, different on the two channels, the same with every
    // standard library (the engine's output is fixed by the standard).
    std::mt19937 engine(kNoiseSeed);
    std::vector<std::vector<float>> noise(2, std::vector<float>(kNoiseFrames));
    for (auto& channel : noise)
        for (float& sample : channel)
            sample = kTestLevel * (static_cast<float>(engine() >> 8) / 8388608.0f - 1.0f);
    const ResponseMeasurer::Capture run = measurer.capture(idleSettings, noise);
    result.latency = run.latency;
    double inputEnergy = 0.0, inputPeak = 0.0, residualEnergy = 0.0, residualPeak = 0.0;
    for (std::size_t c = 0; c < run.outputs.size(); ++c)
    {
        // The output's channel answers the input channel of its number, or the last one.
        const std::vector<float>& in = noise[std::min({c, static_cast<std::size_t>(std::max(run.inputs - 1, 0)),
                                                       noise.size() - 1})];
        for (float x : in)
        {
            inputEnergy += static_cast<double>(x) * x;
            inputPeak = std::max(inputPeak, std::fabs(static_cast<double>(x)));
        }
        const std::vector<float>& out = run.outputs[c];
        for (std::size_t n = 0; n < out.size(); ++n)
        {
            const std::size_t lag = static_cast<std::size_t>(run.latency);
            const double expected = n >= lag && n - lag < in.size() ? in[n - lag] : 0.0;
            const double residual = static_cast<double>(out[n]) - expected;
            residualEnergy += residual * residual;
            residualPeak = std::max(residualPeak, std::fabs(residual));
        }
    }
    result.nullRmsDb = decibels(std::sqrt(residualEnergy / inputEnergy));
    result.nullPeakDb = decibels(residualPeak / inputPeak);
    return result;
}

std::string TransparencyMeasurer::text(const Transparency& result)
{
    std::string text = "idle at " + RenderReport::number(result.sampleRate, 0) + " Hz: ";
    text += result.idledThresholds > 0
                ? "Thresh at 0 dB in " + std::to_string(result.idledThresholds) +
                      (result.idledThresholds == 1 ? " maximizer" : " maximizers") +
                      " (no drive), test signals peaking at -60 dBFS, under any Ceiling\n"
                : "the settings as given (no Thresh of ours to set), test signals peaking at -60 dBFS\n";
    if (std::isnan(result.deviationDb))
        text += "flatness: not measurable, the response holds samples that are not finite\n";
    else
    {
        text += "flat within +/-" + small(std::fabs(result.deviationDb)) + " dB from " + hertz(result.lowHz) + " to " +
                hertz(result.highHz);
        if (result.deviationDb != 0.0)
            text += " (" + std::string(result.deviationDb > 0.0 ? "+" : "-") + small(std::fabs(result.deviationDb)) +
                    " dB at " + hertz(result.deviationHz) + ")";
        text += "\n";
    }
    const std::string against = "the input delayed by the reported latency, " + std::to_string(result.latency) + " samples";
    if (!std::isfinite(result.nullRmsDb) && !(result.nullRmsDb < 0.0))
        return text + "null residual: not measurable, the output holds samples that are not finite\n";
    if (std::isinf(result.nullRmsDb))
        return text + "null residual: none, the output is " + against + ", bit for bit\n";
    return text + "null residual " + RenderReport::number(result.nullRmsDb, 1) + " dB RMS relative to the input, peak " +
           RenderReport::number(result.nullPeakDb, 1) + " dB relative to its peak (against " + against + ")\n";
}
