// Per-band and master gain reduction over a render, from the meters the
// multiband effect reports after each block (read through its own vendor-
// specific call; any other plug-in has none): the mean over time, the
// largest, and the share of time each instance was limiting.
#pragma once

#include <array>
#include <cstdint>

struct GainReductionSummary
{
    static constexpr int kInstances = 6; // five bands, then the master
    bool present = false;                // false: the plug-in has no band meters
    std::array<double, kInstances> meanDb{};
    std::array<double, kInstances> maxDb{};
    std::array<double, kInstances> limitingShare{}; // 0..1
};

class GainReductionStats
{
public:
    // A block counts as limiting above this reduction.
    static constexpr float kLimitingDb = 0.01f;

    // One block of `frames` frames and the deepest reduction of each instance in it.
    void add(const std::array<float, GainReductionSummary::kInstances>& blockDb, std::int64_t frames);
    GainReductionSummary summary() const;

private:
    std::int64_t totalFrames = 0;
    std::array<double, GainReductionSummary::kInstances> weighted{};
    std::array<double, GainReductionSummary::kInstances> largest{};
    std::array<std::int64_t, GainReductionSummary::kInstances> limitingFrames{};
};
