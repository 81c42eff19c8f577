// A stereo FIR convolver with a streaming interface: one band of the
// crossover. The caller feeds each block of input (feed), asks for n frames
// (run), reads them (bandOutput) and releases them (consume).
//
// Kernels of at most 64 taps run as a direct FIR with no added delay. Longer
// kernels run as uniformly partitioned FFT convolution with overlap-add:
// transform size N is the smallest power of two of at least twice the kernel
// length (32..32768, so 256 and up here), hop X = N/2, and the kernel is cut
// into ceil(L / X) partitions. Two channels with the same kernel share one
// complex transform (left in the real part, right in the imaginary part);
// silent input blocks and empty kernel partitions are skipped.
//
// Time-distributed hops: a hop's result is the sum over partitions j of
// kernel partition j times the input spectrum of j hops ago, added oldest
// first. Every term but the newest is known once the previous hop is done,
// so run() adds those terms a few at a time, in proportion to how much of
// the hop's output has been read, and the call that completes a hop only
// transforms the new input, adds its product and transforms back. The sum's
// order is fixed, so the output does not depend on the block sizes.
//
// Latency in block mode: output is produced lazily, one hop at a time, so by
// default the first output of a stream becomes ready once X input frames are
// queued, and "run" reports fewer than n frames on the warm-up calls before
// that. setStreamDelay() instead fixes the delay at an exact frame count. The
// kernel's own centre delay comes on top of either.
//
// Allocation: setKernel() and the first feed() after it allocate; so do
// feed()/run() whenever a block is larger than any before. In steady state
// nothing is allocated. If an allocation fails the band goes silent instead
// of reading or writing out of bounds.
// Not safe for concurrent use; the effect calls everything under its lock.
#pragma once

#include "crossover/BandKernel.h"
#include "crossover/ChunkedQueue.h"
#include "crossover/FifoBuffer.h"
#include "crossover/GrowableBuffer.h"
#include "crossover/PartitionedKernel.h"

#include <memory>

class BandSplitter
{
public:
    static constexpr int kChannels = 2;
    static constexpr int kMaxDirectTaps = PartitionedKernel::kMaxDirectTaps;
    static constexpr int kMaxFftSize = PartitionedKernel::kMaxFftSize;

    // A splitter without a kernel: a wire with no delay. Builds the FFT
    // tables if this is the first splitter of the process.
    BandSplitter();
    // Never on the audio thread (see AudioThread.h).
    ~BandSplitter();
    BandSplitter(const BandSplitter&) = delete;
    BandSplitter& operator=(const BandSplitter&) = delete;

    // Copies, partitions, scales by 1/N and transforms the kernel; keeps no
    // reference to it. Returns the hop X in block mode, 0 in direct mode.
    // Block mode keeps unread output and queued input (the stream continues
    // without a gap, the convolution restarts from an empty history); direct
    // mode empties all streaming state.
    int setKernel(const BandKernel& kernel);
    // The same with a kernel prepared beforehand (no transform here; null is
    // a wire). The splitter shares it until the next setKernel.
    int setKernel(std::shared_ptr<const PartitionedKernel> kernel);

    // Queues n frames of each channel; a null array or channel is silence.
    // Direct mode convolves here; block mode only queues.
    void feed(const float* const* inputs, int n);

    // Turns whole hops of queued input into output until n frames are ready
    // (or the input runs out). Returns the frames ready in every channel.
    int run(int n);

    // Pointers to the first ready frame of each channel, valid for as many
    // frames as run() reported, until the next feed, run or consume.
    float** bandOutput();

    // Releases n frames of every channel (clamped to what is there).
    void consume(int n);

    // Keep exactly `frames` frames buffered per channel between input and
    // output (queued input plus unread output), set at the first feed() after
    // each setKernel() (or after construction): missing frames are zeros
    // ahead of the queued input's output, excess frames are dropped oldest
    // first. With frames >= hop() - 1, run(n) after feed(n) always has n
    // frames ready, whatever the block sizes, and the delay is exactly
    // `frames` plus the kernel's centre delay (direct mode included). -1 (the
    // default) keeps lazy start-up with warm-up calls in block mode and no
    // delay in direct mode.
    void setStreamDelay(int frames);

    // Empties every stream and primes the splitter for a new one at once
    // (stream delay applied, convolution state zeroed), so the next feed does
    // no set-up. Allocates when the kernel's storage is not there yet.
    void restart();
    // restart(), then room for blocks of up to maxBlock frames on top of
    // `queued` frames of input waiting to be run, so that feeding and running
    // them allocates nothing. Set-up only; false when memory ran out.
    bool reserve(int maxBlock, int queued);

    // With a fixed stream delay, a fresh stream's first hop completes
    // `frames` (taken modulo the hop) earlier than it would: splitters that
    // run side by side can so spread their transforms over different blocks.
    void setHopOffset(int frames) { hopOffset = frames < 0 ? 0 : frames; }

    int fftSize() const { return transformSize; }
    int hop() const { return transformSize / 2; }
    int kernelLength() const { return longestKernel; }
    int partitionCount() const { return partitions; }
    int kernelCount() const { return distinctKernels; }
    int streamDelay() const { return fixedDelay; }
    // Leading output frames of a channel hidden from the reader (the
    // odd-channel block offset); 0 for an index outside 0..1.
    int hiddenFrames(int channel) const { return channel >= 0 && channel < kChannels ? outputSkip[channel] : 0; }

private:
    struct Block;

    void clearStreams();

    void feedDirect(int channel, const float* x, int n);
    void prime();
    void applyStreamDelay(int channel);

    void runChannel(int c, int n);
    bool pairModeFor(int c) const;
    void produceBlock(Block& block);
    void gatherInput(Block& block);
    bool sharesNextChannel(const Block& block) const;
    bool multiplyAccumulate(const Block& block);
    void overlapAdd(const Block& block, bool anyProduct);
    bool hasRing(int c) const;
    void startSum(int c, long long hopId, int newestSlot, unsigned char minimumFlag);
    void addPartitions(int c, int k, int last);
    void advanceSum(int c, int n);

    // A hop's sum of products under construction in accumulator[c]: for the
    // hop that follows hop number `hop` of channel c, whose newest input goes
    // to ring slot `newestSlot`; partitions above `next` are in.
    struct Sum
    {
        long long hop = -1;
        int newestSlot = 0;
        int next = -1;
        unsigned char minimumFlag = 0;
        bool any = false; // anything multiplied yet
    };

    std::shared_ptr<const PartitionedKernel> partitioned = std::make_shared<const PartitionedKernel>();
    int distinctKernels = 1;
    int transformSize = 0;
    int longestKernel = 0;
    int channelCount = 0;
    FifoBuffer output[kChannels];
    FifoBuffer history[kChannels];
    ChunkedQueue input[kChannels];
    int outputSkip[kChannels] = {0, 0};
    int slotIndex[kChannels] = {0, 0};
    GrowableBuffer spectrumRing[kChannels];
    GrowableBuffer slotFlags[kChannels];
    GrowableBuffer overlap[kChannels];
    GrowableBuffer accumulator[kChannels];
    Sum sum[kChannels];
    long long hopsDone[kChannels] = {0, 0};
    bool ownHops[kChannels] = {true, true}; // false while channel c-1 produces this channel's hops
    GrowableBuffer scratch;
    float* outputPointers[kChannels] = {nullptr, nullptr};

    int partitions = 0;
    int fixedDelay = -1;
    int hopOffset = 0;
};
