// Signals, a block-size-randomising driver and an independent true-peak
// reference shared by the maximizer tests.
#pragma once

#include "Limiter.h"
#include "../ReferenceTruePeak.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace MaximizerTest
{
constexpr double kPi = 3.14159265358979323846;

struct Stereo
{
    std::vector<float> left;
    std::vector<float> right;
    explicit Stereo(std::size_t n = 0) : left(n, 0.0f), right(n, 0.0f) {}
    std::size_t size() const { return left.size(); }
    std::vector<float>& operator[](int c) { return c == 0 ? left : right; }
    const std::vector<float>& operator[](int c) const { return c == 0 ? left : right; }
};

inline float dbToGain(double db)
{
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

inline Stereo whiteNoise(std::size_t n, float peak, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-peak, peak);
    Stereo s(n);
    for (std::size_t i = 0; i < n; ++i)
    {
        s.left[i] = u(rng);
        s.right[i] = u(rng);
    }
    return s;
}

inline Stereo sine(std::size_t n, double cyclesPerSample, float peak, double phase = 0.0)
{
    Stereo s(n);
    for (std::size_t i = 0; i < n; ++i)
        s.left[i] = s.right[i] = static_cast<float>(peak * std::sin(2.0 * kPi * cyclesPerSample * i + phase));
    return s;
}

// White noise low-passed at `cutoff` cycles per sample (Blackman-windowed
// sinc, 255 taps, in double), scaled to the given sample peak.
inline Stereo bandLimitedNoise(std::size_t n, double cutoff, float peak, unsigned seed)
{
    const Stereo white = whiteNoise(n, 1.0f, seed);
    constexpr int kHalf = 127;
    std::vector<double> h;
    for (int k = -kHalf; k <= kHalf; ++k)
    {
        const double ideal = k == 0 ? 2.0 * cutoff : std::sin(2.0 * kPi * cutoff * k) / (kPi * k);
        const double w = 0.42 + 0.5 * std::cos(kPi * k / (kHalf + 1)) + 0.08 * std::cos(2.0 * kPi * k / (kHalf + 1));
        h.push_back(ideal * w);
    }
    Stereo s(n);
    double largest = 0.0;
    std::vector<double> y(n);
    for (int c = 0; c < 2; ++c)
    {
        for (std::size_t i = 0; i < n; ++i)
        {
            double sum = 0.0;
            for (int k = -kHalf; k <= kHalf; ++k)
            {
                const long j = static_cast<long>(i) + k;
                if (j >= 0 && j < static_cast<long>(n))
                    sum += h[static_cast<std::size_t>(k + kHalf)] * white[c][static_cast<std::size_t>(j)];
            }
            y[i] = sum;
            largest = std::max(largest, std::fabs(sum));
        }
        for (std::size_t i = 0; i < n; ++i)
            s[c][i] = static_cast<float>(y[i]);
    }
    for (int c = 0; c < 2; ++c)
        for (float& v : s[c])
            v = static_cast<float>(v * peak / largest);
    return s;
}

// Naive square wave: the hardest case for inter-sample peaks.
inline Stereo square(std::size_t n, int period, float peak)
{
    Stereo s(n);
    for (std::size_t i = 0; i < n; ++i)
        s.left[i] = s.right[i] = (i % period) < static_cast<std::size_t>(period / 2) ? peak : -peak;
    return s;
}

// Exponential sweep from 20 Hz at 44.1 kHz up to `top` cycles per sample.
inline Stereo sweep(std::size_t n, float peak, double top = 0.49)
{
    Stereo s(n);
    const double f0 = 20.0 / 44100.0;
    const double f1 = top;
    const double k = std::log(f1 / f0) / n;
    for (std::size_t i = 0; i < n; ++i)
    {
        const double phase = 2.0 * kPi * f0 * (std::exp(k * i) - 1.0) / k;
        s.left[i] = static_cast<float>(peak * std::sin(phase));
        s.right[i] = static_cast<float>(peak * std::cos(phase));
    }
    return s;
}

// Single-sample spikes of alternating sign in silence, at seeded random places.
inline Stereo spikes(std::size_t n, float peak, unsigned seed)
{
    std::mt19937 rng(seed);
    Stereo s(n);
    for (std::size_t i = 50; i < n; i += 50 + rng() % 400)
        s[static_cast<int>(rng() % 2)][i] = (rng() % 2) ? peak : -peak;
    return s;
}

// Band-limited noise driven `drive` times into a hard clip at +-1, then scaled
// by `level`: flat tops with full-band edges.
inline Stereo hardClipped(std::size_t n, float drive, float level, unsigned seed)
{
    Stereo s = bandLimitedNoise(n, 0.2, drive, seed);
    for (int c = 0; c < 2; ++c)
        for (float& v : s[c])
            v = level * std::min(std::max(v, -1.0f), 1.0f);
    return s;
}

// White noise in bursts of seeded random length and level (up to `peak`),
// separated by silence: the gain keeps moving between loud and quiet.
inline Stereo noiseBursts(std::size_t n, float peak, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::uniform_real_distribution<float> levelDb(-60.0f, 0.0f);
    Stereo s(n);
    std::size_t i = 0;
    while (i < n)
    {
        const std::size_t burst = 1 + rng() % 300;
        const std::size_t gap = rng() % 200;
        const float level = peak * dbToGain(levelDb(rng));
        for (std::size_t end = std::min(n, i + burst); i < end; ++i)
        {
            s.left[i] = level * u(rng);
            s.right[i] = level * u(rng);
        }
        i = std::min(n, i + gap);
    }
    return s;
}

// DC steps between silence, a high level and its negative.
inline Stereo dcSteps(std::size_t n, float peak)
{
    Stereo s(n);
    for (std::size_t i = 0; i < n; ++i)
    {
        const std::size_t segment = (i / 3000) % 4;
        const float v = segment == 1 ? peak : segment == 3 ? -peak : 0.0f;
        s.left[i] = v;
        s.right[i] = segment == 1 ? 0.5f * peak : v;
    }
    return s;
}

// Runs the limiter over `in` in seeded random block lengths from 1 to
// maxBlock (more than any host would announce), every other block in place.
inline Stereo runBlocks(Limiter& limiter, const Stereo& in, unsigned seed, int maxBlock = 2000)
{
    std::mt19937 rng(seed);
    Stereo out = in;
    std::size_t pos = 0;
    bool inPlace = false;
    std::vector<float> scratchL(static_cast<std::size_t>(maxBlock)), scratchR(static_cast<std::size_t>(maxBlock));
    while (pos < in.size())
    {
        const int n = static_cast<int>(std::min<std::size_t>(1 + rng() % maxBlock, in.size() - pos));
        float* outs[2] = {&out.left[pos], &out.right[pos]};
        if (inPlace)
        {
            limiter.process(outs, outs, n, false);
        }
        else
        {
            const float* ins[2] = {&in.left[pos], &in.right[pos]};
            float* scratch[2] = {scratchL.data(), scratchR.data()};
            limiter.process(ins, scratch, n, false);
            std::copy(scratchL.begin(), scratchL.begin() + n, outs[0]);
            std::copy(scratchR.begin(), scratchR.begin() + n, outs[1]);
        }
        inPlace = !inPlace;
        pos += static_cast<std::size_t>(n);
    }
    return out;
}

// Music-like material: plucked harmonic notes with sharp attacks, a kick,
// bright noise hits and a noise floor, peaking near `peak`.
inline Stereo musicLike(std::size_t n, float peak, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> l(n, 0.0), r(n, 0.0);
    for (std::size_t start = 0; start < n; start += 2000 + rng() % 4000)
    {
        const double hz = 110.0 * std::pow(2.0, static_cast<int>(rng() % 36) / 12.0) / 44100.0;
        const double pan = u(rng);
        for (std::size_t i = start; i < n && i < start + 20000; ++i)
        {
            const double t = static_cast<double>(i - start);
            double v = 0.0;
            for (int h = 1; h <= 20 && hz * h < 0.49; ++h)
                v += std::sin(2.0 * kPi * hz * h * t + h) * std::exp(-t * (1.0 + h) / 20000.0) / h;
            v *= 0.4 * std::min(1.0, t / 3.0);
            const double kick = (start / 2000) % 2 ? 0.0 : std::sin(2.0 * kPi * 60.0 / 44100.0 * t) * std::exp(-t / 3000.0);
            const double hit = t < 1500.0 ? 0.3 * u(rng) * std::exp(-t / 300.0) : 0.0;
            l[i] += v * (1.0 - 0.5 * pan) + kick + hit;
            r[i] += v * (1.0 + 0.5 * pan) + kick + hit;
        }
    }
    Stereo s(n);
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i)
    {
        l[i] += 0.003 * u(rng);
        r[i] += 0.003 * u(rng);
        largest = std::max({largest, std::fabs(l[i]), std::fabs(r[i])});
    }
    for (std::size_t i = 0; i < n; ++i)
    {
        s.left[i] = static_cast<float>(l[i] * peak / largest);
        s.right[i] = static_cast<float>(r[i] * peak / largest);
    }
    return s;
}

// Time for 1 - gain to fall by a factor e, measured by `process` on a quiet DC
// probe after a loud burst: the gain is output / probe. Negative when the
// gain never gets there.
inline double releaseSeconds(double rate, float releaseMs, const std::function<Stereo(const Stereo&)>& process)
{
    constexpr std::size_t kLatency = Limiter::kLatency;
    const float probe = 0.01f;
    const std::size_t burst = static_cast<std::size_t>(0.05 * rate);
    const std::size_t n = burst + static_cast<std::size_t>(4.0 * releaseMs * 0.001 * rate) + 1000;
    Stereo in(n);
    for (std::size_t i = 0; i < n; ++i)
        in.left[i] = in.right[i] = i < burst ? 8.0f : probe;
    const Stereo out = process(in);
    // Skip the hold and the smoothing, then time two levels one e-fold apart.
    const double start = 1.0 - out.left[burst + 3 * kLatency] / probe;
    const double first = 0.5 * start;
    const double second = first / std::exp(1.0);
    double t1 = -1.0, t2 = -1.0;
    for (std::size_t i = burst + 3 * kLatency; i < n; ++i)
    {
        const double reduction = 1.0 - out.left[i] / probe;
        if (t1 < 0.0 && reduction <= first)
            t1 = static_cast<double>(i);
        if (t2 < 0.0 && reduction <= second)
            t2 = static_cast<double>(i);
    }
    return t1 < 0.0 || t2 < 0.0 ? -1.0 : (t2 - t1) / rate;
}

inline float samplePeak(const Stereo& s, std::size_t from = 0)
{
    float peak = 0.0f;
    for (int c = 0; c < 2; ++c)
        for (std::size_t i = from; i < s.size(); ++i)
            peak = std::max(peak, std::fabs(s[c][i]));
    return peak;
}
} // namespace MaximizerTest
