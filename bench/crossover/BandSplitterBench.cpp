// One second of stereo 44.1 kHz audio through a 1536-tap band kernel in
// 512-frame blocks: the band splitter against the same convolution written
// with FFTW (transform size 4096, hop 2048, one partition, both channels
// packed into one complex transform).
#include "crossover/BandKernel.h"
#include "crossover/BandSplitter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#ifdef ORVEX_BENCH_FFTW
#include <fftw3.h>
#endif

namespace
{
constexpr int kSampleRate = 44100;
constexpr int kBlock = 512;
constexpr int kTaps = 1536;
// One second in whole blocks (86 x 512 = 44032 frames), so that both
// convolvers see exactly the same calls.
constexpr int kFrames = kSampleRate / kBlock * kBlock;

std::vector<float> noise(int count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(count));
    for (float& v : x)
        v = uniform(generator);
    return x;
}

// A symmetric, decaying kernel shaped like the crossover's.
std::vector<float> bandTaps()
{
    std::vector<float> taps = noise(kTaps, 7);
    for (int t = 0; t < kTaps; ++t)
        taps[static_cast<std::size_t>(t)] *= std::exp(-std::fabs(t - kTaps / 2.0f) / 200.0f);
    return taps;
}

void splitterOneSecond(benchmark::State& state)
{
    const std::vector<float> taps = bandTaps();
    BandKernel kernel;
    kernel.channels[0].resize(kTaps * 4);
    std::memcpy(kernel.channels[0].data(), taps.data(), taps.size() * sizeof(float));
    kernel.setChannelCount(2);
    BandSplitter splitter;
    splitter.setKernel(kernel);
    const std::vector<float> left = noise(kSampleRate, 1), right = noise(kSampleRate, 2);
    for (auto _ : state) {
        float sum = 0.0f;
        for (int position = 0; position < kFrames; position += kBlock) {
            const int n = kBlock;
            const float* in[2] = {left.data() + position, right.data() + position};
            splitter.feed(in, n);
            if (splitter.run(n) >= n) {
                float** out = splitter.bandOutput();
                sum += out[0][0] + out[1][n - 1];
                splitter.consume(n);
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(splitterOneSecond)->Name("StereoOneSecond1536Taps/ours")->Unit(benchmark::kMicrosecond);

#ifdef ORVEX_BENCH_FFTW
// Uniform overlap-add convolver with one partition on FFTW, left in the real
// and right in the imaginary part of one complex transform.
class FftwPairConvolver
{
public:
    static constexpr int kSize = 4096;
    static constexpr int kHop = kSize / 2;

    explicit FftwPairConvolver(const std::vector<float>& taps)
        : spectrum(allocate()), kernel(allocate()),
          forward(fftwf_plan_dft_1d(kSize, spectrum, spectrum, FFTW_FORWARD, FFTW_MEASURE)),
          inverse(fftwf_plan_dft_1d(kSize, spectrum, spectrum, FFTW_BACKWARD, FFTW_MEASURE)),
          pending{std::vector<float>(kHop), std::vector<float>(kHop)},
          tail{std::vector<float>(kHop), std::vector<float>(kHop)},
          ready{std::vector<float>(kHop), std::vector<float>(kHop)}
    {
        std::memset(spectrum, 0, sizeof(fftwf_complex) * kSize);
        for (std::size_t t = 0; t < taps.size(); ++t)
            spectrum[t][0] = taps[t] / kSize;
        fftwf_execute(forward);
        std::memcpy(kernel, spectrum, sizeof(fftwf_complex) * kSize);
    }

    ~FftwPairConvolver()
    {
        fftwf_destroy_plan(forward);
        fftwf_destroy_plan(inverse);
        fftwf_free(spectrum);
        fftwf_free(kernel);
    }

    FftwPairConvolver(const FftwPairConvolver&) = delete;
    FftwPairConvolver& operator=(const FftwPairConvolver&) = delete;

    // Queues n frames (n divides the hop); returns the n output frames of
    // this call once the first hop is complete, else null.
    const float* const* process(const float* left, const float* right, int n)
    {
        std::memcpy(pending[0].data() + filled, left, sizeof(float) * static_cast<std::size_t>(n));
        std::memcpy(pending[1].data() + filled, right, sizeof(float) * static_cast<std::size_t>(n));
        filled += n;
        if (filled == kHop) {
            convolveHop();
            filled = 0;
            started = true;
        }
        if (!started)
            return nullptr;
        // Output runs one hop behind: this call's frames start where its input did.
        outputs[0] = ready[0].data() + filled;
        outputs[1] = ready[1].data() + filled;
        return outputs;
    }

private:
    static fftwf_complex* allocate() { return static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * kSize)); }

    void convolveHop()
    {
        for (int t = 0; t < kHop; ++t) {
            spectrum[t][0] = pending[0][static_cast<std::size_t>(t)];
            spectrum[t][1] = pending[1][static_cast<std::size_t>(t)];
        }
        std::memset(spectrum + kHop, 0, sizeof(fftwf_complex) * kHop);
        fftwf_execute(forward);
        for (int k = 0; k < kSize; ++k) {
            const float re = spectrum[k][0] * kernel[k][0] - spectrum[k][1] * kernel[k][1];
            const float im = spectrum[k][0] * kernel[k][1] + spectrum[k][1] * kernel[k][0];
            spectrum[k][0] = re;
            spectrum[k][1] = im;
        }
        fftwf_execute(inverse);
        for (int c = 0; c < 2; ++c) {
            for (int t = 0; t < kHop; ++t) {
                const auto i = static_cast<std::size_t>(t);
                ready[c][i] = spectrum[t][c] + tail[c][i];
                tail[c][i] = spectrum[kHop + t][c];
            }
        }
    }

    fftwf_complex* spectrum;
    fftwf_complex* kernel;
    fftwf_plan forward;
    fftwf_plan inverse;
    std::vector<float> pending[2];
    std::vector<float> tail[2];
    std::vector<float> ready[2];
    const float* outputs[2] = {nullptr, nullptr};
    int filled = 0;
    bool started = false;
};

void fftwOneSecond(benchmark::State& state)
{
    FftwPairConvolver convolver(bandTaps());
    const std::vector<float> left = noise(kSampleRate, 1), right = noise(kSampleRate, 2);
    for (auto _ : state) {
        float sum = 0.0f;
        for (int position = 0; position < kFrames; position += kBlock) {
            if (const float* const* out = convolver.process(left.data() + position, right.data() + position, kBlock))
                sum += out[0][0] + out[1][kBlock - 1];
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(fftwOneSecond)->Name("StereoOneSecond1536Taps/fftw")->Unit(benchmark::kMicrosecond);
#endif
} // namespace
