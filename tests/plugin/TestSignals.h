// Test signals shared by the engine's and the plug-in's audio tests.
#pragma once

#include <array>
#include <cstddef>
#include <random>
#include <vector>

using Stereo = std::array<std::vector<float>, 2>;

// Seeded uniform noise in [-peak, peak], different on the two channels.
inline Stereo seededNoise(std::size_t length, unsigned seed, float peak)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<float> uniform(-peak, peak);
    Stereo signal{std::vector<float>(length), std::vector<float>(length)};
    for (auto& channel : signal)
        for (float& sample : channel)
            sample = uniform(engine);
    return signal;
}
