// The whole effect as a host runs it: real inner maximizer, stereo 44.1 kHz,
// 512-frame blocks, at the defaults (nothing limited) and with every band
// driven 6 dB into its maximizer; the inner maximizer alone through its plug-in
// interface; and the crossover rebuild at default and longest kernels.
#include "vst/AEffect.h"
#include "vst/GainMeterCall.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <random>
#include <vector>

namespace
{

VstIntPtr ORVEX_VSTCALL hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

// A built plug-in, loaded from its build folder (the multiband effect finds the
// real inner maximizer beside it).
struct Effect
{
    explicit Effect(const char* path = ORVEX_BENCH_PLUGIN_PATH)
    {
        library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        auto entry = reinterpret_cast<VstPluginMainProc>(library ? dlsym(library, "VSTPluginMain") : nullptr);
        effect = entry ? entry(hostCallback) : nullptr;
        if (effect)
        {
            dispatch(effSetSampleRate, 0, 44100.0f);
            dispatch(effSetBlockSize, 512);
            dispatch(effMainsChanged, 1);
        }
    }
    ~Effect()
    {
        if (effect)
            dispatch(effClose);
        if (library)
            dlclose(library);
    }
    void dispatch(VstInt32 opcode, VstIntPtr value = 0, float opt = 0.0f)
    {
        effect->dispatcher(effect, opcode, 0, value, nullptr, opt);
    }

    void* library = nullptr;
    AEffect* effect = nullptr;
};

// One second of seeded stereo noise of the given peak at 44.1 kHz, and room
// for what comes out.
struct StereoSecond
{
    static constexpr int kRate = 44100;
    static constexpr int kBlock = 512;

    explicit StereoSecond(float peak)
    {
        std::mt19937 engine(1);
        std::uniform_real_distribution<float> noise(-peak, peak);
        for (int c = 0; c < 2; ++c)
        {
            in[c].resize(kRate);
            out[c].resize(kRate);
            for (float& s : in[c])
                s = noise(engine);
        }
    }
    // Runs the second through `effect`, kBlock frames at a time.
    void process(AEffect* effect)
    {
        for (int at = 0; at < kRate; at += kBlock)
        {
            float* inputs[2] = {&in[0][at], &in[1][at]};
            float* outputs[2] = {&out[0][at], &out[1][at]};
            effect->processReplacing(effect, inputs, outputs, std::min(kBlock, kRate - at));
        }
        benchmark::DoNotOptimize(out[0].data());
    }

    std::vector<float> in[2], out[2];
};

// Processes one second of seeded stereo noise of the given peak, 512 frames
// at a time, per iteration. Counters: seconds of audio per second of
// processing, and the output's peak in dBFS over the last second.
void processOneSecond(benchmark::State& state, Effect& host, float peak)
{
    if (!host.effect)
    {
        state.SkipWithError("plug-in not loaded");
        return;
    }
    StereoSecond second(peak);
    for (auto _ : state)
        second.process(host.effect);
    const auto& out = second.out;
    float outPeak = 0.0f;
    for (const auto& channel : out)
        for (float s : channel)
            outPeak = std::max(outPeak, std::fabs(s));
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["out_peak_dBFS"] = 20.0 * std::log10(std::max(outPeak, 1e-10f));
}

// Noise at -10 dBFS: every band and the master stay below their ceilings.
void WholeEffectDefaults(benchmark::State& state)
{
    Effect host;
    processOneSecond(state, host, 0.3f);
}
BENCHMARK(WholeEffectDefaults)->Unit(benchmark::kMillisecond);

// Full-scale noise, each band's Threshold at -6 dB: the bands are driven 6 dB
// into their maximizers and the master holds the sum at its -0.1 dB ceiling
// (the out_peak_dBFS counter shows it).
void WholeEffectBandsDriven6dB(benchmark::State& state)
{
    Effect host;
    for (int band = 0; host.effect && band < 5; ++band)
        host.effect->setParameter(host.effect, 13 + 6 * band, 0.2f); // Thresh = -30 dB x 0.2
    processOneSecond(state, host, 1.0f);
}
BENCHMARK(WholeEffectBandsDriven6dB)->Unit(benchmark::kMillisecond);

// What metering costs the whole effect: two effects with their bands driven
// as above, one whose meters were read once (argument 1: the gain meters; 2:
// and the output's true peak) and one never read, run a second at a time in
// turn (plain, metered, metered, plain in every round, so a drift in the
// machine's speed cancels). cost_% is the median over the rounds of the
// metered effect's processor time against the plain one's, minus one.
void WholeEffectMetering(benchmark::State& state)
{
    Effect plain, metered;
    if (!plain.effect || !metered.effect)
    {
        state.SkipWithError("plug-in not loaded");
        return;
    }
    for (AEffect* effect : {plain.effect, metered.effect})
        for (int band = 0; band < 5; ++band)
            effect->setParameter(effect, 13 + 6 * band, 0.2f);
    GainMeterReadings readings{};
    if (!GainMeterCall::read(metered.effect, readings, state.range(0) == 2))
    {
        state.SkipWithError("the effect has no meters");
        return;
    }
    StereoSecond second(1.0f);
    const auto pass = [&second](AEffect* effect) {
        const std::clock_t start = std::clock();
        second.process(effect);
        return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    };
    pass(plain.effect);
    pass(metered.effect);
    std::vector<double> ratios;
    for (auto _ : state)
    {
        const double off = pass(plain.effect);
        const double on = pass(metered.effect) + pass(metered.effect);
        ratios.push_back(on / (off + pass(plain.effect)));
    }
    std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
    state.counters["cost_%"] = 100.0 * (ratios[ratios.size() / 2] - 1.0);
    GainMeterCall::read(metered.effect, readings, state.range(0) == 2);
    state.counters["master_gr_dB"] = readings.holdDb[5];
}
BENCHMARK(WholeEffectMetering)->ArgName("metering")->Arg(1)->Arg(2)->Iterations(40)->Unit(benchmark::kMillisecond);

// The inner maximizer alone, through its plug-in interface, driven 12 dB into
// its ceiling; argument: true peak off (0) or on (1).
void InnerMaximizerDriven12dB(benchmark::State& state)
{
    Effect host(ORVEX_BENCH_MAXIMIZER_PATH);
    if (host.effect)
    {
        host.effect->setParameter(host.effect, 0, 0.4f);                               // Thresh -12 dB
        host.effect->setParameter(host.effect, 4, static_cast<float>(state.range(0))); // TruePeak
    }
    processOneSecond(state, host, 0.5f);
}
BENCHMARK(InnerMaximizerDriven12dB)->ArgName("truePeak")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Setting a frequency to its own value rebuilds the whole crossover.
void RebuildDefaults(benchmark::State& state)
{
    Effect host;
    if (!host.effect)
    {
        state.SkipWithError("plug-in not loaded");
        return;
    }
    const float value = host.effect->getParameter(host.effect, 1);
    for (auto _ : state)
        host.effect->setParameter(host.effect, 1, value);
}
BENCHMARK(RebuildDefaults)->Unit(benchmark::kMillisecond);

void RebuildLongestKernels(benchmark::State& state)
{
    Effect host;
    if (!host.effect)
    {
        state.SkipWithError("plug-in not loaded");
        return;
    }
    host.effect->setParameter(host.effect, 2, 1.0f);
    for (auto _ : state)
        host.effect->setParameter(host.effect, 1, 0.0f);
    state.counters["latency"] = host.effect->initialDelay;
}
BENCHMARK(RebuildLongestKernels)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
