#include "crossover/KernelDesign.h"

#include "crossover/BandKernel.h"
#include "crossover/GrowableBuffer.h"
#include "dsp/ButterworthFilter.h"

#include <algorithm>
#include <cmath>

namespace
{

// The cutoffs the frequency mapping produces for x in 0..1 lie inside this range.
constexpr double kMinCutoff = 1e-4;
constexpr double kMaxCutoff = 0.49;
constexpr int kFloatSize = static_cast<int>(sizeof(float));

// The band's high-pass and low-pass filters, each present only when its edge is.
class BandFilters
{
public:
    BandFilters(const BandEdges& band, double sampleRate)
    {
        hasHighPass = design(highPass, band.lowerHz, band.lowerOrder, sampleRate, true);
        hasLowPass = design(lowPass, band.upperHz, band.upperOrder, sampleRate, false);
    }

    void run(float* samples, int n)
    {
        if (hasHighPass)
            highPass.filterBlock(samples, n);
        if (hasLowPass)
            lowPass.filterBlock(samples, n);
    }

    // Second pass over a new signal; the offsets keep alternating.
    void restartAndRun(float* samples, int n)
    {
        if (hasHighPass)
        {
            highPass.clearState();
            highPass.filterBlock(samples, n);
        }
        if (hasLowPass)
        {
            lowPass.clearState();
            lowPass.filterBlock(samples, n);
        }
    }

private:
    static bool design(Dsp::ButterworthFilter& filter, float hz, int order, double sampleRate, bool high)
    {
        if (hz == 0.0f)
            return false;
        const double fc = hz / sampleRate;
        if (std::isnan(fc))
            return false;
        const double cutoff = std::clamp(fc, kMinCutoff, kMaxCutoff);
        order = std::clamp(order, 1, Dsp::ButterworthFilter::kMaxOrder);
        return high ? filter.designHighPass(order, cutoff) : filter.designLowPass(order, cutoff);
    }

    Dsp::ButterworthFilter highPass;
    Dsp::ButterworthFilter lowPass;
    bool hasHighPass = false;
    bool hasLowPass = false;
};

// Peak follower decaying by 0.9 per sample.
float followEnvelope(float e, const float* samples, int n)
{
    for (int i = 0; i < n; ++i)
    {
        e = e * 0.9f;
        const float magnitude = std::fabs(samples[i]);
        if (magnitude > e)
            e = magnitude;
    }
    return e;
}

// Computes the band's impulse response into scratch in 256-sample steps until
// the envelope has fallen to the threshold and minLength is reached. Returns
// its length, or 0 when the scratch could not grow.
int impulseResponse(GrowableBuffer& scratch, BandFilters& filters, int minLength)
{
    minLength = std::min(minLength, kMaxKernelHalfLength);
    int len = 0;
    float envelope = 1.0f;
    do
    {
        const int bytes = (len + kKernelStep) * kFloatSize;
        scratch.resize(bytes);
        if (scratch.size() != bytes)
            return 0;
        float* block = scratch.as<float>() + len;
        std::fill(block, block + kKernelStep, 0.0f);
        if (len == 0)
            block[0] = 1.0f;
        filters.run(block, kKernelStep);
        envelope = followEnvelope(envelope, block, kKernelStep);
        len += kKernelStep;
    } while ((envelope > kKernelThreshold || len < minLength) && len < kMaxKernelHalfLength);
    return len;
}

} // namespace

BandEdgeTable bandEdgeTable(const std::array<float, kCrossoverCount>& crossoverHz,
                            const std::array<int, kCrossoverCount>& slopeSteps)
{
    BandEdgeTable table;
    for (int b = 0; b < kBandCount; ++b)
    {
        if (b > 0)
        {
            table[b].lowerHz = crossoverHz[b - 1];
            table[b].lowerOrder = slopeSteps[b - 1];
        }
        if (b < kCrossoverCount)
        {
            table[b].upperHz = crossoverHz[b];
            table[b].upperOrder = slopeSteps[b];
        }
    }
    return table;
}

int estimateKernelLength(int minLength, const BandEdges& band, double sampleRate)
{
    BandFilters filters(band, sampleRate);
    GrowableBuffer scratch;
    return std::max(impulseResponse(scratch, filters, minLength), kKernelStep);
}

int estimateKernelLength(int minLength, float lowerHz, float upperHz, int lowerOrder, int upperOrder,
                         double sampleRate)
{
    return estimateKernelLength(minLength, BandEdges{lowerHz, upperHz, lowerOrder, upperOrder}, sampleRate);
}

int commonKernelLength(const BandEdgeTable& bands, double sampleRate)
{
    int m = kKernelStep;
    for (const BandEdges& band : bands)
        m = std::max(m, estimateKernelLength(m, band, sampleRate));
    return m;
}

void designBandKernel(BandKernel& kernel, int minLength, const BandEdges& band, double sampleRate)
{
    kernel.sampleRate = sampleRate;
    kernel.setChannelCount(1);
    BandFilters filters(band, sampleRate);
    GrowableBuffer scratch;
    const int len = impulseResponse(scratch, filters, minLength);

    GrowableBuffer& channel = kernel.channels[0];
    const int tapCount = 2 * len;
    channel.resize(tapCount * kFloatSize);
    if (len == 0 || channel.size() != tapCount * kFloatSize)
    {
        channel.release();
        return;
    }

    // Time-reversed response followed by room for its tail, filtered again:
    // the autocorrelation of the response, centred at len - 1.
    float* taps = channel.as<float>();
    const float* h = scratch.as<float>();
    std::reverse_copy(h, h + len, taps);
    std::fill(taps + len, taps + tapCount, 0.0f);
    filters.restartAndRun(taps, tapCount);
}

void designBandKernel(BandKernel& kernel, int minLength, float lowerHz, float upperHz, int lowerOrder,
                      int upperOrder, double sampleRate)
{
    designBandKernel(kernel, minLength, BandEdges{lowerHz, upperHz, lowerOrder, upperOrder}, sampleRate);
}
