// The effect while a crossover moves, as a host at 64-frame blocks sees it
// (real inner maximizer, stereo 44.1 kHz, defaults): the mean and worst
// block time (processor time of the calling thread) in steady state and
// across a whole change (catch-up and crossfade), and the time setParameter
// takes to design and publish a move.
#include "bench/plugin/BenchHost.h"
#include "vst/AEffect.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
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

// A host that re-sends an unchanged Freq4 from its audio thread before every
// 64-frame block, while another thread drags Freq1 at 96 dB/oct (long
// designs): the wall time of each re-send, which must never wait for those
// designs. A re-send that blocked shows as a voluntary context switch
// ("waits", which must stay 0); one the system preempted (an involuntary
// switch, the machine being busy) is counted apart, so the worst time of
// the others is the effect's own.
void UnchangedResendWhileAnotherThreadDesigns(benchmark::State& state)
{
    Effect host;
    if (!host.effect) {
        state.SkipWithError("plug-in not loaded");
        return;
    }
    AEffect* effect = host.effect;
    constexpr int kSlope1 = 2, kFreq1 = 1, kFreq4 = 10;
    effect->setParameter(effect, kSlope1, 1.0f);
    const float freq4 = effect->getParameter(effect, kFreq4);
    std::vector<float> in[2], out[2];
    for (int c = 0; c < 2; ++c) {
        in[c].assign(kBlock, 0.1f);
        out[c].resize(kBlock);
    }
    float* inputs[2] = {in[0].data(), in[1].data()};
    float* outputs[2] = {out[0].data(), out[1].data()};
    std::atomic<bool> done{false};
    std::atomic<long> designs{0};
    std::thread mover([&] {
        for (int move = 0; !done.load(); ++move, ++designs)
            effect->setParameter(effect, kFreq1, 0.01f + 0.0005f * static_cast<float>(move % 40));
    });
    std::vector<double> resends;
    resends.reserve(1 << 20);
    long waits = 0, preempted = 0;
    double worstPreempted = 0.0;
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i) {
            rusage before{}, after{};
            getrusage(RUSAGE_THREAD, &before);
            const auto start = std::chrono::steady_clock::now();
            effect->setParameter(effect, kFreq4, freq4);
            const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            getrusage(RUSAGE_THREAD, &after);
            waits += after.ru_nvcsw > before.ru_nvcsw;
            if (after.ru_nivcsw > before.ru_nivcsw) {
                ++preempted;
                worstPreempted = std::max(worstPreempted, took);
            } else {
                resends.push_back(took);
            }
            effect->processReplacing(effect, inputs, outputs, kBlock);
        }
    }
    done.store(true);
    mover.join();
    std::sort(resends.begin(), resends.end());
    state.counters["designs_meanwhile"] = static_cast<double>(designs.load());
    state.counters["waits"] = static_cast<double>(waits);
    state.counters["preempted"] = static_cast<double>(preempted);
    state.counters["worst_preempted_us"] = worstPreempted * 1e6;
    state.counters["p999_resend_us"] = resends[resends.size() - 1 - resends.size() / 1000] * 1e6;
    state.counters["worst_resend_us"] = resends.back() * 1e6;
}
BENCHMARK(UnchangedResendWhileAnotherThreadDesigns)->Iterations(200)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
