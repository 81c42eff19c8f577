// What mastering to a loudness target costs against one plain render of the
// same file, side by side in one run: four minutes of the demo's synthesised
// mix (stereo, 44.1 kHz, about -22 LUFS), mastered to -14 LUFS / -1 dBTP
// (the drive search's passes render without writing and measure loudness
// only; the last pass writes with the full report), against `orvex render`
// of it with the report, at the defaults and with the master's ceiling at
// -1 dB with true peak on. The summary gives the ratios of the medians, of
// wall-clock time and of the CPU time of all the process's threads (reading,
// writing and measuring run beside the plug-in's; on a machine shared with
// other work the CPU time is the steadier figure).
//
// ORVEX_BENCH_PLUGIN selects the plug-in (default: the built multiband one).
#include "BenchFiles.h"
#include "BenchSummary.h"
#include "DemoSynth.h"
#include "Mastering.h"
#include "PluginLibrary.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{
constexpr int kRate = 44100;
constexpr double kSeconds = 240.0;

std::string pluginPath()
{
    const char* path = std::getenv("ORVEX_BENCH_PLUGIN");
    return path && *path ? path : ORVEX_BENCH_MULTIBAND_PLUGIN;
}

const BenchFiles& files()
{
    static const BenchFiles instance(DemoSynth(kRate, 20240611).render(kSeconds), kRate, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    return instance;
}

// Starts each pass afresh: replacing last pass's output would add the file
// system's freeing of its blocks.
void removeOutput(benchmark::State& state)
{
    state.PauseTiming();
    std::remove(files().output.c_str());
    state.ResumeTiming();
}

void BM_PlainRender(benchmark::State& state)
{
    std::vector<ParameterSetting> settings;
    if (state.range(0))
        settings = {{"M.Ceiling", "-1dB"}, {"M.TruePeak", "On"}};
    const Renderer renderer(PluginLibrary::load(pluginPath()), settings, 1024);
    for (auto _ : state)
    {
        removeOutput(state);
        benchmark::DoNotOptimize(renderer.render(files().input, files().output));
    }
}

void BM_MasterToTarget(benchmark::State& state)
{
    MasterOptions options;
    options.target = DeliveryTarget::preset("streaming");
    const Mastering mastering(PluginLibrary::load(pluginPath()), {}, 1024, 0, options);
    int passes = 0;
    double loudness = 0.0;
    for (auto _ : state)
    {
        removeOutput(state);
        const std::vector<MasterOutcome> outcomes = mastering.run({{files().input, files().output}}, nullptr);
        if (!outcomes[0].error.empty())
        {
            state.SkipWithError(outcomes[0].error.c_str());
            break;
        }
        passes = outcomes[0].passes;
        loudness = outcomes[0].result.after.integratedLufs;
    }
    state.counters["passes"] = passes;
    state.counters["LUFS"] = loudness;
}

BENCHMARK(BM_PlainRender)->ArgName("ceiling")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);
BENCHMARK(BM_MasterToTarget)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);
} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::printf("plug-in: %s, %.0f s of stereo at %d Hz\n", pluginPath().c_str(), kSeconds, kRate);
    files();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double master = reporter.seconds("BM_MasterToTarget");
    const double masterCpu = reporter.seconds("cpu:BM_MasterToTarget");
    for (const std::string plain : {"BM_PlainRender/ceiling:0", "BM_PlainRender/ceiling:1"})
        if (master > 0.0 && reporter.seconds(plain) > 0.0)
            std::printf("mastering to -14 LUFS against %s: wall clock %.2f s = %.2f x %.2f s, CPU %.2f s = %.2f x %.2f s "
                        "(target: at most 5 x)\n",
                        plain.c_str(), master, master / reporter.seconds(plain), reporter.seconds(plain), masterCpu,
                        masterCpu / reporter.seconds("cpu:" + plain), reporter.seconds("cpu:" + plain));
    benchmark::Shutdown();
    return 0;
}
