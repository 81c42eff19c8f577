// What the host adds to a plug-in's own processing time. One benchmark
// renders 60 s of stereo audio from a WAV file to another through the
// renderer (file reading and writing, channel shuffling, latency handling,
// loudness and true-peak analysis of input and output); the other runs the
// same plug-in alone over the same audio, already in memory, in the same
// block size. The summary line gives the difference as a share of the latter
// (medians with --benchmark_repetitions; --benchmark_enable_random_interleaving
// spreads passing load on the machine evenly over the benchmarks).
//
// ORVEX_BENCH_PLUGIN selects the plug-in (default: the test gain plug-in).
#include "BenchFiles.h"
#include "BenchSummary.h"
#include "PluginInstance.h"
#include "Renderer.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
constexpr int kRate = 44100;
constexpr int kSeconds = 60;
constexpr int kBlock = 1024;
constexpr std::int64_t kFrames = static_cast<std::int64_t>(kRate) * kSeconds;

std::string pluginPath()
{
    const char* path = std::getenv("ORVEX_BENCH_PLUGIN");
    return path && *path ? path : ORVEX_BENCH_DEFAULT_PLUGIN;
}

// Pink-ish seeded noise at about -12 dBFS: busy enough to keep a maximizer working.
const std::vector<float>& audio()
{
    static const std::vector<float> samples = [] {
        std::mt19937 engine(42);
        std::vector<float> data(static_cast<std::size_t>(kFrames) * 2);
        float low[2] = {};
        for (std::size_t i = 0; i < data.size(); ++i)
        {
            const float white = static_cast<float>(engine() >> 8) / 8388608.0f - 1.0f;
            low[i % 2] += 0.05f * (white - low[i % 2]);
            data[i] = 0.25f * white + 0.8f * low[i % 2];
        }
        return data;
    }();
    return samples;
}

const BenchFiles& files()
{
    static const BenchFiles instance(audio(), kRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    return instance;
}

void BM_RendererWholeFile(benchmark::State& state)
{
    const Renderer renderer(PluginLibrary::load(pluginPath()), {}, kBlock, 0, state.range(0) != 0);
    for (auto _ : state)
    {
        // Replacing last pass's output would add the file system's freeing of
        // its blocks, which has nothing to do with the host: start afresh.
        state.PauseTiming();
        std::remove(files().output.c_str());
        state.ResumeTiming();
        benchmark::DoNotOptimize(renderer.render(files().input, files().output));
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_PluginAlone(benchmark::State& state)
{
    std::vector<std::vector<float>> left(1), right(1);
    std::vector<float> in[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
    for (std::int64_t i = 0; i < kFrames; ++i)
        for (int c = 0; c < 2; ++c)
            in[c][static_cast<std::size_t>(i)] = audio()[static_cast<std::size_t>(2 * i + c)];
    std::vector<float> out[2] = {std::vector<float>(kBlock), std::vector<float>(kBlock)};
    for (auto _ : state)
    {
        // A fresh instance per pass, as the renderer has.
        state.PauseTiming();
        auto instance = std::make_unique<PluginInstance>(PluginLibrary::load(pluginPath()), float(kRate), kBlock);
        state.ResumeTiming();
        for (std::int64_t done = 0; done < kFrames; done += kBlock)
        {
            const int frames = static_cast<int>(std::min<std::int64_t>(kBlock, kFrames - done));
            float* inputs[2] = {in[0].data() + done, in[1].data() + done};
            float* outputs[2] = {out[0].data(), out[1].data()};
            instance->process(inputs, outputs, frames);
            benchmark::DoNotOptimize(out[0].data());
        }
        state.PauseTiming();
        instance.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

BENCHMARK(BM_RendererWholeFile)->ArgName("analyse")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PluginAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::printf("plug-in: %s\n", pluginPath().c_str());
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double plugin = reporter.seconds("BM_PluginAlone");
    for (const char* run : {"BM_RendererWholeFile/analyse:1", "BM_RendererWholeFile/analyse:0"})
    {
        const double render = reporter.seconds(run);
        if (render > 0.0 && plugin > 0.0)
            std::printf("%s: %.3f s, host adds %.1f%% to the plug-in's %.3f s for %d s of stereo audio (target: under 10%%)\n",
                        run, render, 100.0 * (render - plugin) / plugin, plugin, kSeconds);
    }
    benchmark::Shutdown();
    return 0;
}
