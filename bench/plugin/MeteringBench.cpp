// What metering costs: the multiband engine with six real limiters as its
// maximizers (the whole effect without its plug-in shells), 1 s of full-scale
// stereo noise at 44.1 kHz in 512-frame blocks, every band driven 6 dB and
// the master at -0.1 dB, with metering on and off in turn in the same run,
// and the meters alone.
#include "maximizer/Limiter.h"
#include "plugin/MultibandEngine.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <vector>

namespace
{

constexpr int kRate = 44100;
constexpr int kBlock = 512;

struct LimiterRunner : BandRunner
{
    LimiterRunner()
    {
        for (int i = 0; i < MultibandEngine::kInstances; ++i)
        {
            LimiterSettings settings;
            settings.thresholdDb = i == MultibandEngine::kMaster ? 0.0f : -6.0f;
            limiters[i].setSampleRate(kRate);
            limiters[i].setSettings(settings);
            limiters[i].reset();
        }
    }
    bool run(int instance, float* const* in, float* const* out, int n) override
    {
        limiters[instance].process(in, out, n, false);
        return true;
    }
    int latency(int) override { return Limiter::kLatency; }
    float driveDb(int instance) override { return -limiters[instance].getSettings().thresholdDb; }

    Limiter limiters[MultibandEngine::kInstances];
};

// One second of stereo.
using Second = std::vector<float>[2];

void fillNoise(Second& second)
{
    std::mt19937 generator(1);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (auto& channel : second)
    {
        channel.resize(kRate);
        for (float& s : channel)
            s = noise(generator);
    }
}

struct Silent : LatencyListener
{
    void latencyChanged(int) override {}
};

// The engine in passes of one second with metering off and on in turn (off,
// on, on, off in every round, so that a steady drift in the machine's speed
// cancels), each pass timed in processor time. What metering costs is the
// median over the rounds of the time on against the time off, minus one; the
// pass time with metering off is the median of its passes.
void MeteringShare(benchmark::State& state)
{
    Silent listener;
    LimiterRunner runner;
    CrossoverSettings settings;
    settings.sampleRate = kRate;
    settings.hz = {200.0f, 1000.0f, 4000.0f, 10000.0f};
    settings.steps = {2, 2, 2, 2};
    MultibandEngine engine(listener, runner, 0, settings, kBlock);
    const float hz[MultibandEngine::kCrossovers] = {200.0f, 1000.0f, 4000.0f, 10000.0f};
    engine.setSampleRate(kRate, hz, [] {});
    engine.restart([] {});
    if (state.range(0) == 2)
        engine.outputPeak(); // with the gain meters, the output's true peak too
    Second in, out;
    fillNoise(in);
    for (auto& channel : out)
        channel.resize(kRate);
    const auto pass = [&](bool metering) {
        engine.setMetering(metering);
        const std::clock_t start = std::clock();
        for (int at = 0; at < kRate; at += kBlock)
        {
            const float* inputs[2] = {&in[0][at], &in[1][at]};
            float* outputs[2] = {&out[0][at], &out[1][at]};
            engine.process(inputs, outputs, std::min(kBlock, kRate - at));
        }
        benchmark::DoNotOptimize(out[0].data());
        return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    };
    pass(false); // caches and pages warm
    std::vector<double> offTimes, ratios;
    for (auto _ : state)
    {
        const double off = pass(false);
        const double on = pass(true) + pass(true);
        const double offAgain = pass(false);
        offTimes.insert(offTimes.end(), {off, offAgain});
        ratios.push_back(on / (off + offAgain));
    }
    const auto median = [](std::vector<double> values) {
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    state.counters["off_ms"] = 1e3 * median(offTimes);
    state.counters["cost_%"] = 100.0 * (median(ratios) - 1.0);
}
// metering 1: the gain meters; 2: the gain meters and the output's true peak.
BENCHMARK(MeteringShare)->ArgName("metering")->Arg(1)->Arg(2)->Iterations(60)->Unit(benchmark::kMillisecond);

// The six meters alone over the same second: what metering adds, without
// the rest of the engine's noise around it.
void SixMetersAlone(benchmark::State& state)
{
    GainMeter meters[MultibandEngine::kInstances];
    for (GainMeter& meter : meters)
        meter.reserve(kRate);
    Second in, out;
    fillNoise(in);
    for (auto& channel : out)
        channel.resize(kRate);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kRate; ++i)
            out[c][i] = 0.5f * in[c][i]; // 6.02 dB off every sample
    for (auto _ : state)
        for (int at = 0; at < kRate; at += kBlock)
        {
            const float* inputs[2] = {&in[0][at], &in[1][at]};
            const float* outputs[2] = {&out[0][at], &out[1][at]};
            for (GainMeter& meter : meters)
                meter.measure(inputs, outputs, std::min(kBlock, kRate - at), 0, 0.0f);
        }
    state.counters["gr_dB"] = meters[0].reading().blockDb;
}
BENCHMARK(SixMetersAlone)->Unit(benchmark::kMillisecond);

// The output's true-peak meter alone over the same second.
void OutputPeakAlone(benchmark::State& state)
{
    OutputPeakMeter meter;
    meter.setSampleRate(kRate);
    Second in;
    fillNoise(in);
    for (auto _ : state)
        for (int at = 0; at < kRate; at += kBlock)
        {
            const float* block[2] = {&in[0][at], &in[1][at]};
            meter.measure(block, std::min(kBlock, kRate - at));
        }
    state.counters["peak_dBTP"] = meter.reading().blockDb;
}
BENCHMARK(OutputPeakAlone)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
