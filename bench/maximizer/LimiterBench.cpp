// One second of stereo 44.1 kHz programme-like noise through the limiter in
// 512-frame blocks, with the input driven 12 dB into the ceiling so the gain
// path is busy: the DSP core alone, and the plug-in through its record's
// processReplacing. The "x real time" counter is audio seconds per CPU second.
#include "Limiter.h"
#include "OrvexMaximizer.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace
{
constexpr int kRate = 44100;
constexpr int kBlock = 512;

// One second of programme-like noise, the right channel partly correlated.
void programmeNoise(std::vector<float>& left, std::vector<float>& right)
{
    left.resize(kRate);
    right.resize(kRate);
    std::mt19937 rng(1);
    std::normal_distribution<float> noise(0.0f, 0.25f);
    for (int i = 0; i < kRate; ++i)
    {
        left[i] = noise(rng);
        right[i] = 0.7f * left[i] + 0.3f * noise(rng);
    }
}

void limitOneSecond(benchmark::State& state)
{
    std::vector<float> left, right, outLeft(kBlock), outRight(kBlock);
    programmeNoise(left, right);
    Limiter limiter;
    LimiterSettings settings;
    settings.thresholdDb = -12.0f;
    settings.truePeak = state.range(0) != 0;
    settings.link = state.range(1) / 100.0f;
    limiter.setSampleRate(kRate);
    limiter.setSettings(settings);
    for (auto _ : state)
    {
        for (int pos = 0; pos < kRate; pos += kBlock)
        {
            const int n = std::min(kBlock, kRate - pos);
            const float* ins[2] = {&left[pos], &right[pos]};
            float* outs[2] = {outLeft.data(), outRight.data()};
            limiter.process(ins, outs, n, false);
            benchmark::DoNotOptimize(outLeft.data());
        }
    }
    state.counters["x real time"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

VstIntPtr ORVEX_VSTCALL hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

void pluginOneSecond(benchmark::State& state)
{
    std::vector<float> left, right, outLeft(kBlock), outRight(kBlock);
    programmeNoise(left, right);
    OrvexMaximizer plugin(hostCallback);
    AEffect* effect = plugin.getAeffect();
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
    effect->dispatcher(effect, effSetBlockSize, 0, kBlock, nullptr, 0.0f);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    effect->setParameter(effect, OrvexMaximizer::kThreshold, 0.4f); // -12 dB
    effect->setParameter(effect, OrvexMaximizer::kTruePeak, state.range(0) != 0 ? 1.0f : 0.0f);
    for (auto _ : state)
    {
        for (int pos = 0; pos < kRate; pos += kBlock)
        {
            const int n = std::min(kBlock, kRate - pos);
            float* ins[2] = {&left[pos], &right[pos]};
            float* outs[2] = {outLeft.data(), outRight.data()};
            effect->processReplacing(effect, ins, outs, n);
            benchmark::DoNotOptimize(outLeft.data());
        }
    }
    state.counters["x real time"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
} // namespace

BENCHMARK(pluginOneSecond)->ArgNames({"truePeak"})->Arg(0)->Arg(1);
BENCHMARK(limitOneSecond)->ArgNames({"truePeak", "link"})->Args({0, 100})->Args({1, 100})->Args({0, 50})->Args({1, 50});

BENCHMARK_MAIN();
