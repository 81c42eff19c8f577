#include "crossover/CrossoverDesign.h"

#include "crossover/AudioThread.h"

#include "crossover/BandKernel.h"

#include <algorithm>

namespace
{
bool sameEdges(const BandEdges& a, const BandEdges& b)
{
    return a.lowerHz == b.lowerHz && a.upperHz == b.upperHz && a.lowerOrder == b.lowerOrder &&
           a.upperOrder == b.upperOrder;
}

std::shared_ptr<const PartitionedKernel> designBand(const BandEdges& edges, double sampleRate)
{
    BandKernel kernel;
    // One channel: the splitter runs both channels with it.
    designBandKernel(kernel, CrossoverDesign::upperEdgeMinimum(edges, sampleRate), edges, sampleRate);
    return std::make_shared<const PartitionedKernel>(kernel);
}
} // namespace

std::unique_ptr<const CrossoverDesign> CrossoverDesign::passThrough()
{
    std::unique_ptr<CrossoverDesign> design(new CrossoverDesign());
    BandKernel unit;
    unit.channels[0].resize(static_cast<int>(sizeof(float)));
    unit.taps(0)[0] = 1.0f;
    design->bands[0].kernel = std::make_shared<const PartitionedKernel>(unit);
    design->measureDelay();
    return design;
}

std::unique_ptr<const CrossoverDesign> CrossoverDesign::create(const CrossoverSettings& settings,
                                                               const CrossoverDesign* base)
{
    std::unique_ptr<CrossoverDesign> design(new CrossoverDesign());
    design->inputs = settings;
    const BandEdgeTable edges = bandEdgeTable(settings.hz, settings.steps);
    const bool sameRate = base != nullptr && base->designed() && base->inputs.sampleRate == settings.sampleRate;
    for (int b = 0; b < kBandCount; ++b) {
        Band& band = design->bands[b];
        band.edges = edges[b];
        if (sameRate && sameEdges(base->bands[b].edges, edges[b]))
            band.kernel = base->bands[b].kernel;
        else
            band.kernel = designBand(edges[b], settings.sampleRate);
    }
    design->measureDelay();
    return design;
}

int CrossoverDesign::upperEdgeMinimum(const BandEdges& edges, double sampleRate)
{
    if (edges.upperHz == 0.0f)
        return kKernelStep;
    return estimateKernelLength(kKernelStep, BandEdges{edges.upperHz, 0.0f, edges.upperOrder, 0}, sampleRate);
}

void CrossoverDesign::measureDelay()
{
    shortestCommonDelay = 0;
    for (Band& band : bands) {
        if (!band.kernel)
            continue;
        band.centre = std::max(0, band.kernel->length() / 2 - 1);
        const int buffered = band.kernel->blockMode() ? band.kernel->hop() - 1 : 0;
        shortestCommonDelay = std::max(shortestCommonDelay, band.centre + buffered);
    }
}

CrossoverDesign::~CrossoverDesign()
{
    AudioThread::assertAway("the audio thread destroys no design");
}
