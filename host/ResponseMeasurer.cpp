#include "ResponseMeasurer.h"

#include "HostError.h"
#include "PluginInstance.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

namespace
{
constexpr int kBands = 5;
} // namespace

ResponseMeasurer::ResponseMeasurer(std::shared_ptr<PluginLibrary> lib, float rate, int block, int pointCount,
                                   int tail)
    : library(std::move(lib)), sampleRate(rate), blockSize(block), points(pointCount), tailFrames(tail)
{
    if (points < 2 || tailFrames < 1 || blockSize < 1 || !(sampleRate > 0.0f))
        throw HostError("measurement needs at least 2 points, a tail, a block size and a sample rate");
}

ResponseMeasurer::Capture ResponseMeasurer::capture(const std::vector<ParameterSetting>& settings,
                                                    const std::vector<std::vector<float>>& signal) const
{
    PluginInstance instance(library, sampleRate, blockSize);
    ParameterResolver(instance).apply(settings);
    if (instance.numOutputs() < 1)
        throw HostError("plug-in has no audio outputs: " + library->path());
    Capture result;
    result.latency = std::max(instance.latency(), 0);
    result.inputs = instance.numInputs();
    const std::size_t length = signal.empty() ? 0 : signal.front().size();
    const std::size_t total = length + static_cast<std::size_t>(result.latency) + static_cast<std::size_t>(tailFrames);

    std::vector<std::vector<float>> in(static_cast<std::size_t>(std::max(instance.numInputs(), 1)),
                                       std::vector<float>(static_cast<std::size_t>(blockSize)));
    std::vector<std::vector<float>> out(static_cast<std::size_t>(instance.numOutputs()),
                                        std::vector<float>(static_cast<std::size_t>(blockSize)));
    std::vector<float*> inPointers;
    std::vector<float*> outPointers;
    for (auto& channel : in)
        inPointers.push_back(channel.data());
    for (auto& channel : out)
        outPointers.push_back(channel.data());

    result.outputs.assign(out.size(), {});
    for (auto& channel : result.outputs)
        channel.reserve(total);
    for (std::size_t done = 0; done < total;)
    {
        const int frames = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(blockSize), total - done));
        for (std::size_t c = 0; c < in.size(); ++c)
            for (int i = 0; i < frames; ++i)
            {
                const std::size_t at = done + static_cast<std::size_t>(i);
                in[c][static_cast<std::size_t>(i)] =
                    at < length ? signal[std::min(c, signal.size() - 1)][at] : 0.0f;
            }
        instance.process(inPointers.data(), outPointers.data(), frames);
        for (std::size_t c = 0; c < out.size(); ++c)
            result.outputs[c].insert(result.outputs[c].end(), out[c].begin(), out[c].begin() + frames);
        done += static_cast<std::size_t>(frames);
    }
    return result;
}

std::vector<float> ResponseMeasurer::impulseResponse(const std::vector<ParameterSetting>& settings) const
{
    std::vector<float> response = capture(settings, {{kImpulseLevel}}).outputs.front();
    for (float& sample : response)
        sample /= kImpulseLevel;
    return response;
}

std::vector<double> ResponseMeasurer::logFrequencies(double low, double high, int count)
{
    std::vector<double> frequencies;
    for (int i = 0; i < count; ++i)
        frequencies.push_back(low * std::pow(high / low, static_cast<double>(i) / (count - 1)));
    return frequencies;
}

std::vector<double> ResponseMeasurer::magnitudeDb(const std::vector<float>& h, double rate,
                                                  const std::vector<double>& frequencies)
{
    const double twoPi = 2.0 * std::acos(-1.0);
    std::vector<double> db;
    for (double f : frequencies)
    {
        // Rotating phasor, re-seeded from sin/cos every 1024 samples so its
        // rounding error cannot build up over long responses.
        const std::complex<double> step = std::polar(1.0, -twoPi * f / rate);
        std::complex<double> phasor = 1.0;
        std::complex<double> sum = 0.0;
        for (std::size_t n = 0; n < h.size(); ++n)
        {
            if (n % 1024 == 0)
                phasor = std::polar(1.0, -twoPi * std::fmod(f * static_cast<double>(n) / rate, 1.0));
            sum += static_cast<double>(h[n]) * phasor;
            phasor *= step;
        }
        const double magnitude = std::abs(sum);
        db.push_back(magnitude > 0.0 ? 20.0 * std::log10(magnitude) : -std::numeric_limits<double>::infinity());
    }
    return db;
}

Response ResponseMeasurer::measure(const std::vector<ParameterSetting>& settings, bool bands) const
{
    Response response;
    response.frequencies = logFrequencies(20.0, 20000.0, points);
    response.curves.push_back({"total", magnitudeDb(impulseResponse(settings), sampleRate, response.frequencies)});
    if (!bands)
        return response;
    {
        // Fail before measuring anything if the plug-in has no band switches.
        PluginInstance probe(library, sampleRate, blockSize);
        ParameterResolver resolver(probe);
        try
        {
            for (int band = 1; band <= kBands; ++band)
                resolver.findParameter("Band" + std::to_string(band));
        }
        catch (const HostError&)
        {
            throw HostError("--bands needs a multiband plug-in with switches Band1 to Band5: " + library->path());
        }
    }
    for (int band = 1; band <= kBands; ++band)
    {
        std::vector<ParameterSetting> solo = settings;
        for (int other = 1; other <= kBands; ++other)
            solo.push_back({"Band" + std::to_string(other), other == band ? "1" : "0"});
        response.curves.push_back(
            {"band " + std::to_string(band), magnitudeDb(impulseResponse(solo), sampleRate, response.frequencies)});
    }
    return response;
}
