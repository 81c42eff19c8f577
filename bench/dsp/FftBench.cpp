// Forward plus inverse transform, ours against FFTW's single-precision
// in-place complex transform of the same size. Both transforms are unscaled,
// so every round trip ends by scaling by 1/N, as a convolution does: the data
// stay the same finite noise however many iterations run.
#include "dsp/Fft.h"

#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <vector>

#ifdef ORVEX_BENCH_FFTW
#include <fftw3.h>
#endif

namespace
{
std::vector<float> noise(int complexCount)
{
    std::mt19937 generator(1);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> x(2 * static_cast<std::size_t>(complexCount));
    for (float& v : x)
        v = uniform(generator);
    return x;
}

template <typename Sample>
void rescale(Sample* x, std::size_t count, float scale)
{
    for (std::size_t i = 0; i < count; ++i)
        x[i] *= scale;
}

void setFlops(benchmark::State& state, int n)
{
    // The customary 5 N log2 N per transform, two transforms per iteration.
    double log2n = 0;
    for (int m = n; m > 1; m /= 2)
        ++log2n;
    state.counters["MFlops"] = benchmark::Counter(2.0 * 5.0 * n * log2n * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

void forwardInverse(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    Dsp::buildFftTables();
    std::vector<float> x = noise(n);
    for (auto _ : state) {
        Dsp::fftForward(n, x.data());
        Dsp::fftInverse(n, x.data());
        rescale(x.data(), x.size(), 1.0f / static_cast<float>(n));
        benchmark::DoNotOptimize(x.data());
    }
    setFlops(state, n);
}
BENCHMARK(forwardInverse)->Name("Fft/ours")->Arg(256)->Arg(4096)->Arg(32768);

template <Dsp::FftPath Path>
void forwardInverseOnPath(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    if (!Dsp::fftPathAvailable(Path)) {
        state.SkipWithError("path not available on this processor");
        return;
    }
    std::vector<float> x = noise(n);
    for (auto _ : state) {
        Dsp::fftForward(Path, n, x.data());
        Dsp::fftInverse(Path, n, x.data());
        rescale(x.data(), x.size(), 1.0f / static_cast<float>(n));
        benchmark::DoNotOptimize(x.data());
    }
    setFlops(state, n);
}
BENCHMARK(forwardInverseOnPath<Dsp::FftPath::kScalar>)->Name("Fft/ours-scalar")->Arg(256)->Arg(4096)->Arg(32768);
BENCHMARK(forwardInverseOnPath<Dsp::FftPath::kSse2>)->Name("Fft/ours-sse2")->Arg(256)->Arg(4096)->Arg(32768);

#ifdef ORVEX_BENCH_FFTW
// One buffer and its two plans per size, made once in the process (planning
// with FFTW_MEASURE runs transforms of its own) and never inside the timing.
struct FftwSetup
{
    fftwf_complex* data;
    fftwf_plan forward, inverse;
};

const FftwSetup& fftwSetup(int n)
{
    static std::map<int, FftwSetup> setups;
    auto found = setups.find(n);
    if (found == setups.end()) {
        auto* data = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * static_cast<std::size_t>(n)));
        const FftwSetup setup{data, fftwf_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_MEASURE),
                              fftwf_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_MEASURE)};
        found = setups.emplace(n, setup).first;
    }
    return found->second;
}

void forwardInverseFftw(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const FftwSetup& fftw = fftwSetup(n);
    const std::vector<float> x = noise(n);
    for (int i = 0; i < n; ++i) {
        fftw.data[i][0] = x[2 * static_cast<std::size_t>(i)];
        fftw.data[i][1] = x[2 * static_cast<std::size_t>(i) + 1];
    }
    for (auto _ : state) {
        fftwf_execute(fftw.forward);
        fftwf_execute(fftw.inverse);
        rescale(&fftw.data[0][0], 2 * static_cast<std::size_t>(n), 1.0f / static_cast<float>(n));
        benchmark::DoNotOptimize(fftw.data);
    }
    setFlops(state, n);
}
BENCHMARK(forwardInverseFftw)->Name("Fft/fftw")->Arg(256)->Arg(4096)->Arg(32768);
#endif
} // namespace
