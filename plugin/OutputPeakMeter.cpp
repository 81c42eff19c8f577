#include "plugin/OutputPeakMeter.h"

#include "plugin/GainMeter.h"

#include <algorithm>
#include <cmath>

namespace
{
// The largest magnitude of the samples x[0 .. n-1] and of the three points
// after each of x[-1 .. n-2]: each point at x[i] + r / 4 reads x[i - 5] to
// x[i + 6], so x[-6 - 5 .. n-1] must be readable.
float loudestPoint(const float* x, int n, const Dsp::QuarterSamplePhases& phases)
{
    constexpr int kAhead = Dsp::kQuarterSampleAhead;
    float largest = 0.0f;
    for (int i = 0; i < n; ++i)
        largest = std::max(largest, std::fabs(x[i]));
    const float* at = x - kAhead; // the points lag the samples by kAhead
    for (const auto& taps : phases)
    {
        float sum[256];
        std::fill(sum, sum + n, 0.0f);
        for (int k = 0; k < Dsp::kQuarterSampleTaps; ++k)
        {
            const float tap = taps[static_cast<std::size_t>(k)];
            const float* in = at + kAhead - k;
            for (int i = 0; i < n; ++i)
                sum[i] += tap * in[i];
        }
        for (int i = 0; i < n; ++i)
            largest = std::max(largest, std::fabs(sum[i])); // a NaN leaves it alone
    }
    return largest;
}
} // namespace

OutputPeakMeter::OutputPeakMeter() : phases(Dsp::quarterSamplePhases()) {}

void OutputPeakMeter::setSampleRate(float sampleRate)
{
    if (sampleRate > 0.0f)
        rate = sampleRate;
}

void OutputPeakMeter::restart()
{
    for (auto& channel : buffer)
        channel.fill(0.0f);
    blockDb.store(kFloorDb, std::memory_order_relaxed);
    holdDb.store(kFloorDb, std::memory_order_relaxed);
}

void OutputPeakMeter::measure(const float* const* out, int n)
{
    if (n <= 0)
        return;
    static_assert(kPiece <= 256, "loudestPoint sums a piece at a time");
    float largest = 0.0f;
    for (int done = 0; done < n;)
    {
        const int piece = std::min(kPiece, n - done);
        for (std::size_t c = 0; c < buffer.size(); ++c)
        {
            float* x = buffer[c].data();
            std::copy(out[c] + done, out[c] + done + piece, x + kHistory);
            largest = std::max(largest, loudestPoint(x + kHistory, piece, phases));
            std::copy(x + piece, x + piece + kHistory, x);
        }
        done += piece;
    }
    const float level = largest > 0.0f ? 20.0f * std::log10(largest) : kFloorDb;
    const float block = std::clamp(level, kFloorDb, kCeilingDb);
    const float fallen = holdDb.load(std::memory_order_relaxed) - GainMeter::kFallDbPerSecond * static_cast<float>(n) / rate;
    blockDb.store(block, std::memory_order_relaxed);
    holdDb.store(std::max(block, fallen), std::memory_order_relaxed);
}
