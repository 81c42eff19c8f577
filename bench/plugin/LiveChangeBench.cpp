// The effect while a crossover moves, as a host at 64-frame blocks sees it
// (real inner maximizer, stereo 44.1 kHz, defaults): the mean and worst
// block time (processor time of the calling thread) in steady state and
// across a whole change (catch-up and crossfade), and the time setParameter
// takes to design and publish a move.
#include "bench/plugin/BenchHost.h"
#include "vst/AEffect.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <algorithm>
#include <random>
#include <vector>

namespace
{

constexpr int kBlock = 64;
constexpr int kFreq2 = 4;

struct Effect
{
    Effect()
    {
        library = dlopen(ORVEX_BENCH_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        auto entry = reinterpret_cast<VstPluginMainProc>(library ? dlsym(library, "VSTPluginMain") : nullptr);
        effect = entry ? entry(BenchHost::callback) : nullptr;
        if (!effect)
            return;
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 44100.0f);
        effect->dispatcher(effect, effSetBlockSize, 0, kBlock, nullptr, 0.0f);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    }
    ~Effect()
    {
        if (effect)
            effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        if (library)
            dlclose(library);
    }
    void* library = nullptr;
    AEffect* effect = nullptr;
};

// 100 blocks of 64 frames (6400 frames: longer than a change takes at the
// defaults) per iteration; with `moving`, Freq2 moves before the first block.
void BlocksAt64(benchmark::State& state)
{
    const bool moving = state.range(0) != 0;
    Effect host;
    if (!host.effect) {
        state.SkipWithError("plug-in not loaded");
        return;
    }
    AEffect* effect = host.effect;
    std::vector<float> in[2], out[2];
    std::mt19937 engine(1);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    for (int c = 0; c < 2; ++c) {
        in[c].resize(kBlock);
        out[c].resize(kBlock);
        for (float& s : in[c])
            s = noise(engine);
    }
    float* inputs[2] = {in[0].data(), in[1].data()};
    float* outputs[2] = {out[0].data(), out[1].data()};
    for (int i = 0; i < 200; ++i)
        effect->processReplacing(effect, inputs, outputs, kBlock);
    std::vector<double> times;
    times.reserve(1 << 20);
    int move = 0;
    for (auto _ : state) {
        if (moving)
            effect->setParameter(effect, kFreq2, ++move % 2 != 0 ? 0.2f : 0.19f);
        for (int i = 0; i < 100; ++i) {
            const double start = BenchHost::threadSeconds();
            effect->processReplacing(effect, inputs, outputs, kBlock);
            times.push_back(BenchHost::threadSeconds() - start);
        }
        benchmark::DoNotOptimize(out[0].data());
    }
    state.SetLabel(moving ? "a Freq2 move every 100 blocks" : "steady");
    double total = 0.0;
    for (double t : times)
        total += t;
    std::sort(times.begin(), times.end());
    const double worst = times.back();
    // The worst block can be an interrupt on a busy machine; the 99.9th
    // percentile shows what the effect itself does.
    const double nearWorst = times[times.size() - 1 - times.size() / 1000];
    state.counters["mean_block_us"] = total / static_cast<double>(times.size()) * 1e6;
    state.counters["p999_block_us"] = nearWorst * 1e6;
    state.counters["worst_block_us"] = worst * 1e6;
    state.counters["worst_of_period_pct"] = worst / (kBlock / 44100.0) * 100.0;
}
BENCHMARK(BlocksAt64)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// setParameter for a crossover move: design, prepare and publish on the
// calling thread (the audio thread adopts it at its next block).
void SetParameterMove(benchmark::State& state)
{
    Effect host;
    if (!host.effect) {
        state.SkipWithError("plug-in not loaded");
        return;
    }
    AEffect* effect = host.effect;
    int move = 0;
    for (auto _ : state)
        effect->setParameter(effect, kFreq2, ++move % 2 != 0 ? 0.2f : 0.19f);
}
BENCHMARK(SetParameterMove)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
