#include "DemoSynth.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr double kBeat = 0.5; // seconds, 120 beats per minute
constexpr double kPeak = 0.5; // -6 dBFS

// Chord roots per bar (MIDI notes), a four-bar loop, and the triad's steps.
constexpr int kRoots[] = {45, 41, 48, 43};
constexpr int kTriad[] = {0, 4, 7};
constexpr int kMinorTriad[] = {0, 3, 7};

double noteHz(double note)
{
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// Uniform in [-1, 1) from the generator's raw bits: std::uniform_real_distribution
// is not specified bit for bit, the Mersenne twister is.
struct Noise
{
    explicit Noise(std::uint32_t seed) : engine(seed) {}
    double next() { return static_cast<double>(engine() >> 8) / 8388608.0 - 1.0; }
    std::mt19937 engine;
};

struct Voices
{
    double kickPhase = 0.0;
    double bassPhase = 0.0;
    double bassLow = 0.0;
    double previousWhite = 0.0;
    double bedLow = 0.0;
};

double kick(double t, double& phase, double dt)
{
    const double hz = 45.0 + 90.0 * std::exp(-t * 30.0);
    phase += hz * dt;
    return std::sin(2.0 * kPi * phase) * std::exp(-t * 7.0);
}

double chordSample(double time, int bar)
{
    const int root = kRoots[bar % 4];
    const int* steps = bar % 2 ? kMinorTriad : kTriad;
    const double inBar = std::fmod(time, 4 * kBeat);
    const double envelope = std::min(1.0, inBar * 8.0) * (0.6 + 0.4 * std::exp(-inBar * 1.5));
    double sum = 0.0;
    for (int voice = 0; voice < 3; ++voice)
    {
        const double hz = noteHz(root + 12 + steps[voice]);
        for (int harmonic = 1; harmonic <= 4; ++harmonic)
            sum += std::sin(2.0 * kPi * hz * harmonic * time) / (harmonic * harmonic);
    }
    return sum * envelope / 6.0;
}
} // namespace

std::vector<float> DemoSynth::render(double seconds) const
{
    const auto frames = static_cast<std::size_t>(seconds * rate);
    const double dt = 1.0 / rate;
    std::vector<double> left(frames);
    std::vector<double> right(frames);
    Noise noise(seed);
    Voices v;
    for (std::size_t i = 0; i < frames; ++i)
    {
        const double time = static_cast<double>(i) * dt;
        const int beat = static_cast<int>(time / kBeat);
        const int bar = beat / 4;
        const double inBeat = time - beat * kBeat;
        const double inEighth = std::fmod(time, kBeat / 2);
        if (inBeat < dt)
            v.kickPhase = 0.0;

        const double white = noise.next();
        const double drums = 0.9 * kick(inBeat, v.kickPhase, dt) +
                             (beat % 2 ? 0.45 * (white * std::exp(-inBeat * 25.0) +
                                                 0.5 * std::sin(2.0 * kPi * 190.0 * inBeat) * std::exp(-inBeat * 30.0))
                                       : 0.0);
        // Hats: first difference of the noise, a gentle high-pass.
        const double hat = 0.18 * (white - v.previousWhite) * std::exp(-inEighth * 60.0);
        v.previousWhite = white;

        // Bass: a saw on the chord root an octave down, one-pole low-passed.
        v.bassPhase = std::fmod(v.bassPhase + noteHz(kRoots[bar % 4] - 12) * dt, 1.0);
        v.bassLow += 0.08 * ((2.0 * v.bassPhase - 1.0) - v.bassLow);
        const double bass = 0.5 * v.bassLow * (0.5 + 0.5 * std::exp(-inBeat * 4.0));

        v.bedLow += 0.02 * (noise.next() - v.bedLow);
        const double chords = 0.35 * chordSample(time, bar);
        left[i] = drums + bass + chords + 0.6 * hat + 0.3 * v.bedLow;
        right[i] = drums + bass + 0.8 * chords + 0.4 * hat + 0.03 * noise.next() + 0.3 * v.bedLow;
    }

    double peak = 1e-9;
    for (std::size_t i = 0; i < frames; ++i)
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    std::vector<float> mix(frames * 2);
    for (std::size_t i = 0; i < frames; ++i)
    {
        mix[2 * i] = static_cast<float>(left[i] * kPeak / peak);
        mix[2 * i + 1] = static_cast<float>(right[i] * kPeak / peak);
    }
    return mix;
}
