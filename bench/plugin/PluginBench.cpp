// The whole effect as a host runs it: real inner maximizer, stereo 44.1 kHz,
// 512-frame blocks; and the crossover rebuild at default and longest kernels.
#include "vst/AEffect.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <random>
#include <vector>

namespace
{

VstIntPtr ORVEX_VSTCALL hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

// The built plug-in, loaded from its build folder beside the real inner maximizer.
struct Effect
{
    Effect()
    {
        library = dlopen(ORVEX_BENCH_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
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

void WholeEffectDefaults(benchmark::State& state)
{
    Effect host;
    if (!host.effect)
    {
        state.SkipWithError("plug-in not loaded");
        return;
    }
    constexpr int kBlock = 512;
    std::vector<float> in[2], out[2];
    std::mt19937 engine(1);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    for (int c = 0; c < 2; ++c)
    {
        in[c].resize(kBlock);
        out[c].resize(kBlock);
        for (float& s : in[c])
            s = noise(engine);
    }
    float* inputs[2] = {in[0].data(), in[1].data()};
    float* outputs[2] = {out[0].data(), out[1].data()};
    for (auto _ : state)
    {
        host.effect->processReplacing(host.effect, inputs, outputs, kBlock);
        benchmark::DoNotOptimize(out[0].data());
    }
    // Real-time factor: seconds of audio per second of processing.
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / 44100.0,
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(WholeEffectDefaults)->Unit(benchmark::kMicrosecond);

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
