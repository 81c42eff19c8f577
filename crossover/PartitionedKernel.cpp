#include "crossover/PartitionedKernel.h"

#include "dsp/Fft.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace
{
constexpr int kSampleBytes = static_cast<int>(sizeof(float));
constexpr int kComplexBytes = 2 * kSampleBytes;
constexpr int kSmallestFftSize = 32;
// Taps at or below this magnitude make a partition count as empty.
constexpr float kEmptyTap = 1e-14f;

bool resizeExactly(GrowableBuffer& buffer, long long bytes)
{
    if (bytes < 0 || bytes > INT_MAX)
        return false;
    buffer.resize(static_cast<int>(bytes), true);
    return buffer.size() == bytes;
}

bool sameTaps(const GrowableBuffer& a, const GrowableBuffer& b)
{
    return a.size() == b.size() &&
           (a.size() == 0 || std::memcmp(a.data(), b.data(), static_cast<std::size_t>(a.size())) == 0);
}
} // namespace

PartitionedKernel::PartitionedKernel(const BandKernel& kernel)
{
    Dsp::buildFftTables();
    const int channelsUsed = std::clamp(kernel.channelCount, 0, kChannels);
    for (int i = 0; i < channelsUsed; ++i)
        longestKernel = std::max(longestKernel, kernel.tapCount(i));
    distinctKernels = std::max(channelsUsed, 1);
    if (channelsUsed == 2 && sameTaps(kernel.channels[0], kernel.channels[1]))
        distinctKernels = 1;
    if (longestKernel <= kMaxDirectTaps)
        loadDirect(kernel, channelsUsed);
    else
        loadBlock(kernel, channelsUsed);
}

void PartitionedKernel::loadDirect(const BandKernel& kernel, int channelsUsed)
{
    for (int i = 0; i < kChannels; ++i) {
        const int count = i < distinctKernels && i < channelsUsed ? kernel.tapCount(i) : 0;
        const float* taps = kernel.taps(i);
        if (!resizeExactly(kernelSpectra[i], static_cast<long long>(count) * kSampleBytes))
            kernelSpectra[i].release();
        float* reversed = kernelSpectra[i].as<float>();
        for (int t = 0; t < kernelSpectra[i].count<float>(); ++t)
            reversed[t] = taps[count - 1 - t];
    }
}

void PartitionedKernel::loadBlock(const BandKernel& kernel, int channelsUsed)
{
    int n = kSmallestFftSize;
    while (n < 2 * static_cast<long long>(longestKernel) && n < kMaxFftSize)
        n *= 2;
    const int x = n / 2;
    transformSize = n;
    partitions = static_cast<int>((static_cast<long long>(longestKernel) + x - 1) / x);

    for (int i = 0; i < distinctKernels; ++i) {
        const long long spectrumBytes = static_cast<long long>(partitions) * n * kComplexBytes;
        if (!resizeExactly(kernelSpectra[i], spectrumBytes) || !resizeExactly(flags[i], partitions)) {
            // Out of memory: without spectra the kernel produces silence.
            kernelSpectra[i].release();
            flags[i].release();
            continue;
        }
        const int realCount = i < channelsUsed ? kernel.tapCount(i) : 0;
        const int imagCount = i + 1 < distinctKernels ? kernel.tapCount(i + 1) : 0;
        for (int j = 0; j < partitions; ++j) {
            const long long offset = static_cast<long long>(j) * x;
            const int realPart = static_cast<int>(std::clamp(realCount - offset, 0LL, static_cast<long long>(x)));
            const int imagPart = static_cast<int>(std::clamp(imagCount - offset, 0LL, static_cast<long long>(x)));
            loadPartition(i, j, realPart > 0 ? kernel.taps(i) + offset : nullptr, realPart,
                          imagPart > 0 ? kernel.taps(i + 1) + offset : nullptr, imagPart);
        }
    }
}

// Partition j of kernel i: up to X taps, zero-padded to N, scaled by 1/N and
// transformed; the taps of the next channel's kernel go in the imaginary part.
void PartitionedKernel::loadPartition(int kernel, int partition, const float* realTaps, int realCount,
                                      const float* imagTaps, int imagCount)
{
    const int n = transformSize;
    const float scale = 1.0f / static_cast<float>(n);
    float* s = kernelSpectra[kernel].as<float>() + static_cast<std::size_t>(partition) * 2 * n;
    std::memset(s, 0, static_cast<std::size_t>(n) * kComplexBytes);
    float realPeak = 0.0f, imagPeak = 0.0f;
    for (int t = 0; t < realCount; ++t) {
        s[2 * t] = realTaps[t] * scale;
        realPeak = std::max(realPeak, std::fabs(realTaps[t]));
    }
    for (int t = 0; t < imagCount; ++t) {
        s[2 * t + 1] = imagTaps[t] * scale;
        imagPeak = std::max(imagPeak, std::fabs(imagTaps[t]));
    }
    unsigned char flag = kPartitionEmpty;
    if (realPeak > kEmptyTap)
        flag = kPartitionReal;
    else if (imagPeak > kEmptyTap)
        flag = kPartitionImaginaryOnly;
    flags[kernel].as<unsigned char>()[partition] = flag;
    // Empty partitions are never read, so they are not transformed.
    if (flag != kPartitionEmpty)
        Dsp::fftForward(n, s);
}
