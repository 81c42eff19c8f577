// One complete crossover: the five band kernels for one set of crossover
// settings, prepared for the band splitters (partitioned and transformed),
// with each band's centre delay and the common delay the set needs.
//
// A design is immutable once made, so the thread that designs it and the
// audio thread that later runs it share it without further locking. Making
// one allocates and transforms; it is done away from the audio path. Band
// kernels are shared between successive designs: a band whose edges did not
// change keeps the kernel of the design it was made from.
#pragma once

#include "crossover/KernelDesign.h"
#include "crossover/PartitionedKernel.h"

#include <array>
#include <memory>

// The inputs a design is made from. Two settings that compare equal give
// identical kernels.
struct CrossoverSettings
{
    std::array<float, kCrossoverCount> hz{};
    std::array<int, kCrossoverCount> steps{};
    float sampleRate = 0.0f;

    bool operator==(const CrossoverSettings& other) const
    {
        return hz == other.hz && steps == other.steps && sampleRate == other.sampleRate;
    }
    bool operator!=(const CrossoverSettings& other) const { return !(*this == other); }
};

class CrossoverDesign
{
public:
    // Before any sample rate is known: band 1 passes the input unchanged and
    // with no delay, bands 2 to 5 are silent, so the bands sum to the input.
    static std::unique_ptr<const CrossoverDesign> passThrough();

    // Designs the bands for `settings`. Each band's kernel is as long as its
    // own response needs, and at least upperEdgeMinimum; a band whose edges equal those
    // of the same band in `base` (at the same rate) takes over base's kernel
    // instead of designing it again. Allocates; may throw std::bad_alloc.
    static std::unique_ptr<const CrossoverDesign> create(const CrossoverSettings& settings,
                                                         const CrossoverDesign* base);

    // The shortest half length a band may get: what a high-pass at its upper
    // edge needs. A low, steep low-pass rises so slowly that its response
    // still looks silent after the first 256 samples; this keeps it whole.
    static int upperEdgeMinimum(const BandEdges& edges, double sampleRate);

    // Never on the audio thread (see AudioThread.h).
    ~CrossoverDesign();

    const CrossoverSettings& settings() const { return inputs; }
    // False for the pass-through design.
    bool designed() const { return inputs.sampleRate > 0.0f; }
    // The band's prepared kernel; null for a silent band.
    const std::shared_ptr<const PartitionedKernel>& kernel(int band) const { return bands[band].kernel; }
    // Samples by which the band's kernel delays its band (half length - 1).
    int centreDelay(int band) const { return bands[band].centre; }
    // True when both designs run band `band` with the very same kernel.
    bool sameBand(int band, const CrossoverDesign& other) const { return bands[band].kernel == other.bands[band].kernel; }
    // The smallest delay every band can be aligned to when run block by block
    // at any block size: the largest centre delay + hop - 1 of the bands.
    int minimumDelay() const { return shortestCommonDelay; }

private:
    struct Band
    {
        BandEdges edges;
        std::shared_ptr<const PartitionedKernel> kernel;
        int centre = 0;
    };

    CrossoverDesign() = default;
    void measureDelay();

    CrossoverSettings inputs;
    std::array<Band, kBandCount> bands;
    int shortestCommonDelay = 0;
};
