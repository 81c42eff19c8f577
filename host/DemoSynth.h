// A deterministic stereo test mix: drums, bass, chords and a noise bed at 120
// beats per minute, from a seeded generator, so every run yields the same
// samples. Peaks at about -6 dBFS, leaving room for a maximizer to work.
#pragma once

#include <cstdint>
#include <vector>

class DemoSynth
{
public:
    DemoSynth(int sampleRate, std::uint32_t seed) : rate(sampleRate), seed(seed) {}

    // Interleaved stereo frames; allocates.
    std::vector<float> render(double seconds) const;

private:
    int rate;
    std::uint32_t seed;
};
