// A band kernel prepared for the band splitter: partitioned, scaled by 1/N
// and transformed (block mode), or reversed for a direct FIR (64 taps or
// fewer). Immutable once built, so several splitters and threads may share
// one through a shared_ptr; building it allocates and runs the FFT, so it is
// done away from the audio path.
//
// Block mode: transform size N is the smallest power of two of at least
// twice the kernel length (32..32768, so 256 and up here), hop X = N/2, and
// the kernel is cut into ceil(L / X) partitions of up to X taps each. Two
// channels with the same taps keep one kernel for both; two different
// channels share one complex spectrum (channel 0 real, channel 1 imaginary).
#pragma once

#include "crossover/BandKernel.h"
#include "crossover/GrowableBuffer.h"

class PartitionedKernel
{
public:
    static constexpr int kChannels = 2;
    static constexpr int kMaxDirectTaps = 64;
    static constexpr int kMaxFftSize = 32768;

    // Partition flags: which parts of a kernel partition carry taps.
    static constexpr unsigned char kPartitionEmpty = 0;
    static constexpr unsigned char kPartitionImaginaryOnly = 1;
    static constexpr unsigned char kPartitionReal = 2;

    // No taps: a splitter with this kernel is a wire.
    PartitionedKernel() = default;
    // Copies, partitions and transforms the kernel's taps. When memory runs
    // out the affected kernel is left without spectra and produces silence.
    explicit PartitionedKernel(const BandKernel& kernel);
    PartitionedKernel(const PartitionedKernel&) = delete;
    PartitionedKernel& operator=(const PartitionedKernel&) = delete;

    bool blockMode() const { return transformSize > 0; }
    int fftSize() const { return transformSize; }
    int hop() const { return transformSize / 2; }
    int length() const { return longestKernel; }
    int partitionCount() const { return partitions; }
    int kernelCount() const { return distinctKernels; }

    // Block mode: partitionCount() spectra of N complex values of kernel k
    // (null when missing). Direct mode: the reversed taps of kernel k.
    const float* spectra(int k) const { return k >= 0 && k < kChannels ? kernelSpectra[k].as<float>() : nullptr; }
    int spectraBytes(int k) const { return k >= 0 && k < kChannels ? kernelSpectra[k].size() : 0; }
    // Block mode: one flag per partition of kernel k (null when missing).
    const unsigned char* partitionFlags(int k) const
    {
        return k >= 0 && k < kChannels && flags[k].size() >= partitions ? flags[k].as<unsigned char>() : nullptr;
    }
    // Direct mode: taps of kernel k (0 for a pass-through channel).
    int directTaps(int k) const { return blockMode() ? 0 : kernelSpectra[k].count<float>(); }

private:
    void loadDirect(const BandKernel& kernel, int channelsUsed);
    void loadBlock(const BandKernel& kernel, int channelsUsed);
    void loadPartition(int kernel, int partition, const float* realTaps, int realCount, const float* imagTaps,
                       int imagCount);

    GrowableBuffer kernelSpectra[kChannels];
    GrowableBuffer flags[kChannels];
    int distinctKernels = 1;
    int transformSize = 0;
    int longestKernel = 0;
    int partitions = 0;
};
