// The design side of a crossover move, and its hand-over to the audio side:
// designing and preparing one moved crossover (both bands it touches), and
// publishing the result (what the effect holds its lock for).
#include "crossover/Crossover.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace
{

constexpr float kRate = 44100.0f;

// Defaults: 200, 1000, 4000, 10000 Hz at 24 dB/oct; or crossover 1 lower
// (40 or 20 Hz) at 48 dB/oct.
CrossoverSettings settingsFor(bool lowSteep, float firstHz)
{
    CrossoverSettings settings;
    settings.hz = {firstHz, 1000.0f, 4000.0f, 10000.0f};
    settings.steps = {lowSteep ? 4 : 2, 2, 2, 2};
    settings.sampleRate = kRate;
    return settings;
}

// One move of crossover 1 between two nearby frequencies, designed against
// the design before it (the other three bands' kernels are kept) and
// prepared with splitters reused from the move before, as in the effect.
void DesignOneMove(benchmark::State& state)
{
    const float hz = static_cast<float>(state.range(0));
    const bool lowSteep = hz < 200.0f;
    Crossover crossover;
    std::unique_ptr<const CrossoverDesign> base = CrossoverDesign::create(settingsFor(lowSteep, hz), nullptr);
    Crossover::Basis basis;
    basis.design = base.get();
    basis.delay = basis.announcedDelay = base->minimumDelay();
    // Splitters come back for reuse, as the effect recycles retired ones.
    std::vector<std::unique_ptr<BandSplitter>> spares;
    int move = 0;
    for (auto _ : state) {
        const float moved = hz * (++move % 2 != 0 ? 1.05f : 1.0f);
        auto update = Crossover::prepare(CrossoverDesign::create(settingsFor(lowSteep, moved), base.get()), basis,
                                         false, 512, kRate, &spares);
        benchmark::DoNotOptimize(update.get());
        for (auto& splitter : update->splitters)
            if (splitter)
                spares.push_back(std::move(splitter));
    }
    state.SetLabel(lowSteep ? "crossover 1 at the given Hz, 48 dB/oct" : "defaults");
}
BENCHMARK(DesignOneMove)->Arg(200)->Arg(40)->Arg(20)->Unit(benchmark::kMicrosecond);

// publish() alone: the time the effect lock is held to hand over a design.
void Publish(benchmark::State& state)
{
    Crossover crossover;
    Crossover::Garbage retired;
    crossover.restart(retired);
    int move = 0;
    for (auto _ : state) {
        const Crossover::Basis basis = crossover.basis();
        auto update = Crossover::prepare(CrossoverDesign::create(settingsFor(false, 200.0f + static_cast<float>(++move % 2)), basis.design),
                                         basis, false, 512, kRate);
        Crossover::Garbage garbage;
        garbage.reserve();
        const auto start = std::chrono::steady_clock::now();
        crossover.publish(update, basis, garbage);
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        crossover.restart(garbage); // adopts it, so the next update has a new basis
    }
}
// A fixed count: each iteration prepares a design, which takes far longer than what is timed.
BENCHMARK(Publish)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
