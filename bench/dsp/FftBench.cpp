// Forward plus inverse transform, ours against FFTW's single-precision
// in-place complex transform of the same size. The unscaled round trips let
// the data grow to infinity after a few iterations; SSE arithmetic runs at
// the same speed on any value except denormals, which growth never produces.
#include "dsp/Fft.h"

#include <benchmark/benchmark.h>

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
        benchmark::DoNotOptimize(x.data());
    }
    setFlops(state, n);
}
BENCHMARK(forwardInverseOnPath<Dsp::FftPath::kScalar>)->Name("Fft/ours-scalar")->Arg(256)->Arg(4096)->Arg(32768);
BENCHMARK(forwardInverseOnPath<Dsp::FftPath::kSse2>)->Name("Fft/ours-sse2")->Arg(256)->Arg(4096)->Arg(32768);

#ifdef ORVEX_BENCH_FFTW
void forwardInverseFftw(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    auto* data = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * static_cast<std::size_t>(n)));
    fftwf_plan forward = fftwf_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_MEASURE);
    fftwf_plan inverse = fftwf_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_MEASURE);
    const std::vector<float> x = noise(n);
    for (int i = 0; i < n; ++i) {
        data[i][0] = x[2 * static_cast<std::size_t>(i)];
        data[i][1] = x[2 * static_cast<std::size_t>(i) + 1];
    }
    for (auto _ : state) {
        fftwf_execute(forward);
        fftwf_execute(inverse);
        benchmark::DoNotOptimize(data);
    }
    setFlops(state, n);
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    fftwf_free(data);
}
BENCHMARK(forwardInverseFftw)->Name("Fft/fftw")->Arg(256)->Arg(4096)->Arg(32768);
#endif
} // namespace
