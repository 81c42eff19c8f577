// What the host adds to a plug-in's own processing time. One benchmark
// renders 60 s of stereo audio from a WAV file to another through the
// renderer (file reading and writing, channel shuffling, latency handling,
// loudness and true-peak analysis of input and output); the other runs the
// same plug-in alone over the same audio, already in memory, in the same
// block size. The summary line gives the difference as a share of the latter
// (medians with --benchmark_repetitions; --benchmark_enable_random_interleaving
// spreads passing load on the machine evenly over the benchmarks).
//
// Two signals: steady noise ("dense": every block near the peak, as in a
// loud master) and the same noise in sections 6 to 24 dB down ("dynamic": a
// piece with quiet passages, where the true-peak meter skips the blocks that
// cannot reach the peak). The true-peak meter alone, over the same audio in
// memory, with and without that skipping, gives its share of the report.
//
// ORVEX_BENCH_PLUGIN selects the plug-in (default: the test gain plug-in).
#include "BenchFiles.h"
#include "BenchSummary.h"
#include "PluginInstance.h"
#include "Renderer.h"
#include "TruePeakMeter.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
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

// Pink-ish seeded noise at about -12 dBFS: busy enough to keep a maximizer
// working; the dynamic version has 5-second sections at 0, -12, -6, -24, -18
// and -9 dB, in turn.
std::vector<float> makeAudio(bool dynamic)
{
    constexpr float kSectionDb[] = {0.0f, -12.0f, -6.0f, -24.0f, -18.0f, -9.0f};
    std::mt19937 engine(42);
    std::vector<float> data(static_cast<std::size_t>(kFrames) * 2);
    float low[2] = {};
    for (std::size_t i = 0; i < data.size(); ++i)
    {
        const float white = static_cast<float>(engine() >> 8) / 8388608.0f - 1.0f;
        low[i % 2] += 0.05f * (white - low[i % 2]);
        const std::size_t section = i / 2 / (5 * kRate) % 6;
        data[i] = (0.25f * white + 0.8f * low[i % 2]) * (dynamic ? std::pow(10.0f, kSectionDb[section] / 20.0f) : 1.0f);
    }
    return data;
}

const std::vector<float>& audio(bool dynamic = false)
{
    static const std::vector<float> dense = makeAudio(false);
    static const std::vector<float> varied = makeAudio(true);
    return dynamic ? varied : dense;
}

const BenchFiles& files(bool dynamic)
{
    static const BenchFiles dense(audio(false), kRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    static const BenchFiles varied(audio(true), kRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    return dynamic ? varied : dense;
}

void BM_RendererWholeFile(benchmark::State& state)
{
    const Renderer renderer(PluginLibrary::load(pluginPath()), {}, kBlock, 0, state.range(0) != 0);
    const BenchFiles& scratch = files(state.range(1) != 0);
    for (auto _ : state)
    {
        // Replacing last pass's output would add the file system's freeing of
        // its blocks, which has nothing to do with the host: start afresh.
        state.PauseTiming();
        std::remove(scratch.output.c_str());
        state.ResumeTiming();
        benchmark::DoNotOptimize(renderer.render(scratch.input, scratch.output));
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_PluginAlone(benchmark::State& state)
{
    const std::vector<float>& source = audio(state.range(0) != 0);
    std::vector<float> in[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
    for (std::int64_t i = 0; i < kFrames; ++i)
        for (int c = 0; c < 2; ++c)
            in[c][static_cast<std::size_t>(i)] = source[static_cast<std::size_t>(2 * i + c)];
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

// Creating an instance and telling it the rate and block size, which every
// render does once and the effect-alone benchmark leaves out of its timing.
void BM_PluginCreate(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(std::make_unique<PluginInstance>(PluginLibrary::load(pluginPath()), float(kRate), kBlock));
}

// The true-peak meter alone over the input, in the reading thread's chunks.
void BM_TruePeakMeter(benchmark::State& state)
{
    const std::vector<float>& source = audio(state.range(1) != 0);
    double skipped = 0.0;
    for (auto _ : state)
    {
        TruePeakMeter meter(2, kRate, true, state.range(0) != 0);
        for (std::int64_t done = 0; done < kFrames; done += 8192)
            meter.add(source.data() + 2 * done, std::min<std::int64_t>(8192, kFrames - done));
        benchmark::DoNotOptimize(meter.peak());
        skipped = static_cast<double>(meter.framesSkipped()) / (2.0 * kFrames);
    }
    state.counters["skipped"] = skipped;
    state.SetItemsProcessed(state.iterations() * kFrames);
}

// The CPU column counts every thread of the process: what the host's own
// threads cost, whatever the machine's other load does to the wall clock.
BENCHMARK(BM_RendererWholeFile)->ArgNames({"analyse", "dynamic"})->ArgsProduct({{1, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(2.0);
BENCHMARK(BM_PluginAlone)->ArgName("dynamic")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->MeasureProcessCPUTime()->MinTime(2.0);
BENCHMARK(BM_PluginCreate)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_TruePeakMeter)->ArgNames({"skip", "dynamic"})->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::printf("plug-in: %s\n", pluginPath().c_str());
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* signal : {"0", "1"})
    {
        const std::string dynamic = std::string("dynamic:") + signal;
        const double plugin = reporter.seconds("BM_PluginAlone/" + dynamic);
        const double withReport = reporter.seconds("BM_RendererWholeFile/analyse:1/" + dynamic);
        const double without = reporter.seconds("BM_RendererWholeFile/analyse:0/" + dynamic);
        if (plugin > 0.0 && withReport > 0.0 && without > 0.0)
            std::printf("%s: the effect alone %.3f s; the render adds %.1f%% with the report (target: under 15%%), "
                        "%.1f%% without\n",
                        signal[0] == '1' ? "dynamic" : "dense", plugin, 100.0 * (withReport - plugin) / plugin,
                        100.0 * (without - plugin) / plugin);
        const double create = reporter.seconds("BM_PluginCreate");
        if (plugin > 0.0 && withReport > 0.0 && without > 0.0 && create > 0.0)
            std::printf("%s: counting the effect's creation (%.1f ms) as its own, the render adds %.1f%% with the "
                        "report, %.1f%% without\n",
                        signal[0] == '1' ? "dynamic" : "dense", 1e3 * create,
                        100.0 * (withReport - plugin - create) / (plugin + create),
                        100.0 * (without - plugin - create) / (plugin + create));
        const double pluginCpu = reporter.seconds("cpu:BM_PluginAlone/" + dynamic);
        const double reportCpu = reporter.seconds("cpu:BM_RendererWholeFile/analyse:1/" + dynamic);
        const double plainCpu = reporter.seconds("cpu:BM_RendererWholeFile/analyse:0/" + dynamic);
        if (pluginCpu > 0.0 && reportCpu > 0.0 && plainCpu > 0.0)
            std::printf("%s: processor time of all threads: the render adds %.1f%% with the report, %.1f%% without\n",
                        signal[0] == '1' ? "dynamic" : "dense", 100.0 * (reportCpu - pluginCpu) / pluginCpu,
                        100.0 * (plainCpu - pluginCpu) / pluginCpu);
        const double full = reporter.seconds("BM_TruePeakMeter/skip:0/" + dynamic);
        const double skipping = reporter.seconds("BM_TruePeakMeter/skip:1/" + dynamic);
        if (full > 0.0 && skipping > 0.0)
            std::printf("%s: the true-peak meter skipping quiet blocks takes %.2f of the full meter's time\n",
                        signal[0] == '1' ? "dynamic" : "dense", skipping / full);
    }
    benchmark::Shutdown();
    return 0;
}
