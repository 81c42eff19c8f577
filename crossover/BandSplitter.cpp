#include "crossover/BandSplitter.h"

#include "crossover/AudioThread.h"

#include "dsp/Fft.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

namespace
{
constexpr int kSampleBytes = static_cast<int>(sizeof(float));
constexpr int kComplexBytes = 2 * kSampleBytes;
// Input samples within +-1e-6 make a block count as silent.
constexpr double kSilence = 1e-6;

// Slot flags of the spectrum ring.
constexpr unsigned char kSlotSilent = 0;
constexpr unsigned char kSlotShared = 1;
constexpr unsigned char kSlotOwn = 2;

constexpr unsigned char kPartitionImaginaryOnly = PartitionedKernel::kPartitionImaginaryOnly;
constexpr unsigned char kPartitionReal = PartitionedKernel::kPartitionReal;

// Frame counts beyond this would overflow byte counts; such calls are ignored.
constexpr int kMaxFrames = INT_MAX / 8;

int bytesOf(int frames) { return frames * kSampleBytes; }

// Staging for one hop of input of two channels.
long long scratchBytes(int fftSize) { return static_cast<long long>(fftSize) * kSampleBytes; }

bool resizeExactly(GrowableBuffer& buffer, long long bytes)
{
    if (bytes < 0 || bytes > INT_MAX)
        return false;
    buffer.resize(static_cast<int>(bytes), true);
    return buffer.size() == bytes;
}

// The same threshold in single precision: no float lies between it and
// 1e-6, so |x| > it exactly when |x| > 1e-6 compared in double precision.
constexpr float kSilenceLimit = static_cast<float>(kSilence);
static_assert(static_cast<double>(kSilenceLimit) <= kSilence, "float threshold must not exceed the double one");

// True when any sample lies outside +-1e-6 (NaN counts as silent).
bool isLoud(const float* x, int count)
{
    int loud = 0;
    for (int t = 0; t < count; ++t)
        loud |= std::fabs(x[t]) > kSilenceLimit;
    return loud != 0;
}

} // namespace

// One hop of one channel (and of the next one when it is paired or shares the input).
struct BandSplitter::Block
{
    int c = 0;             // channel
    int k = 0;             // distinct kernel it uses
    bool pair = false;     // channel c + 1 rides in the imaginary part
    bool shareAllowed = true;
    int first = 0;         // new input samples taken; X - first leading zeros
    bool share = false;    // channel c + 1 has the same input and its own kernel part
    bool silent = true;
    float* spectrum = nullptr;
};

BandSplitter::~BandSplitter()
{
    AudioThread::assertAway("the audio thread destroys no splitter");
}

BandSplitter::BandSplitter()
{
    Dsp::buildFftTables();
}

// ---------------------------------------------------------------------------
// Kernel loading

int BandSplitter::setKernel(const BandKernel& kernel)
{
    std::shared_ptr<const PartitionedKernel> prepared;
    try {
        prepared = std::make_shared<const PartitionedKernel>(kernel);
    } catch (const std::bad_alloc&) {
        prepared = std::make_shared<const PartitionedKernel>();
    }
    return setKernel(std::move(prepared));
}

int BandSplitter::setKernel(std::shared_ptr<const PartitionedKernel> prepared)
{
    partitioned = std::move(prepared);
    if (!partitioned)
        partitioned = std::make_shared<const PartitionedKernel>();
    distinctKernels = partitioned->kernelCount();
    longestKernel = partitioned->length();
    transformSize = partitioned->fftSize();
    partitions = partitioned->partitionCount();
    channelCount = -1;
    if (!partitioned->blockMode()) {
        clearStreams();
        return 0;
    }
    return hop();
}

void BandSplitter::clearStreams()
{
    for (int i = 0; i < kChannels; ++i) {
        outputSkip[i] = 0;
        input[i].clear();
        history[i].clear();
        output[i].clear();
    }
}

void BandSplitter::restart()
{
    clearStreams();
    channelCount = -1;
    if (transformSize > 0) {
        prime();
        resizeExactly(scratch, scratchBytes(transformSize));
        return;
    }
    if (fixedDelay >= 0) {
        for (int i = 0; i < kChannels; ++i)
            applyStreamDelay(i);
    }
    channelCount = kChannels;
}

bool BandSplitter::reserve(int maxBlock, int queued)
{
    restart();
    maxBlock = std::clamp(maxBlock, 0, kMaxFrames / 8);
    queued = std::clamp(queued, 0, kMaxFrames / 8);
    const int delay = std::max(fixedDelay, 0);
    // Output compacts once half of it has been read, so it can hold twice what is unread.
    const long long outputFrames = 2LL * (delay + hop() + 2LL * maxBlock) + transformSize / 4;
    const long long inputFrames = static_cast<long long>(queued) + delay + hop() + 2LL * maxBlock;
    const int longest = std::max(longestKernel, 1);
    const int outputBytes = static_cast<int>(std::min<long long>(outputFrames * kSampleBytes, kMaxFrames));
    bool complete = true;
    for (int i = 0; i < kChannels; ++i) {
        complete &= output[i].reserve(outputBytes);
        if (transformSize > 0) {
            // The queue moves on to a fresh chunk before the last one is read
            // out, so at least two full chunks are kept.
            const long long wanted = std::max<long long>(inputFrames * kSampleBytes, 2LL * ChunkedQueue::kChunkCapacity);
            complete &= input[i].reserve(static_cast<int>(std::min<long long>(wanted, kMaxFrames)));
        } else {
            complete &= history[i].reserve(bytesOf(2 * (longest + maxBlock + queued)));
        }
    }
    if (!complete)
        return false;
    // Fresh storage is mapped in page by page as it is first written; written
    // once here, the output and the convolution state cost the audio thread no
    // page faults in the first hops. With one kernel both channels ride in
    // channel 0's convolution state.
    for (int i = 0; i < kChannels; ++i)
        output[i].append(nullptr, outputBytes);
    for (int i = 0; i < (distinctKernels > 1 ? kChannels : 1); ++i) {
        for (GrowableBuffer* state : {&spectrumRing[i], &accumulator[i]}) {
            if (state->size() > 0)
                std::memset(state->data(), 0, static_cast<std::size_t>(state->size()));
        }
    }
    if (scratch.size() > 0)
        std::memset(scratch.data(), 0, static_cast<std::size_t>(scratch.size()));
    restart();
    return true;
}

void BandSplitter::setStreamDelay(int frames)
{
    fixedDelay = std::clamp(frames, -1, kMaxFrames);
}

// ---------------------------------------------------------------------------
// Feeding

void BandSplitter::feed(const float* const* inputs, int n)
{
    if (n < 0 || n > kMaxFrames)
        n = 0;
    if (transformSize < 1) {
        if (channelCount != kChannels && fixedDelay >= 0) {
            for (int i = 0; i < kChannels; ++i)
                applyStreamDelay(i);
        }
        channelCount = kChannels;
        for (int i = 0; i < kChannels; ++i)
            feedDirect(i, inputs ? inputs[i] : nullptr, n);
        return;
    }
    if (channelCount != kChannels)
        prime();
    for (int i = 0; i < kChannels; ++i) {
        if (n <= 0)
            continue;
        if (hasRing(i))
            input[i].write(inputs ? inputs[i] : nullptr, bytesOf(n));
        else
            output[i].append(nullptr, bytesOf(n)); // out of memory: silent, but on time
    }
}

void BandSplitter::feedDirect(int channel, const float* x, int n)
{
    const int kernel = channel < distinctKernels ? channel : channel - distinctKernels;
    const int taps = partitioned->directTaps(kernel);
    if (n == 0)
        return;
    if (taps == 0) {
        output[channel].append(x, bytesOf(n));
        return;
    }
    FifoBuffer& past = history[channel];
    if (past.unread() < bytesOf(taps))
        past.append(nullptr, bytesOf(taps) - past.unread());
    const bool appended = past.append(x, bytesOf(n)) != nullptr;
    auto* y = static_cast<float*>(output[channel].append(nullptr, bytesOf(n)));
    if (appended && y) {
        // h[0..taps-1] are the samples before this block, h[taps..] the block.
        const float* h = past.readAs<float>() + (past.unread() / kSampleBytes - taps - n);
        const float* reversed = partitioned->spectra(kernel);
        for (int t = 0; t < n; ++t) {
            double sum = 0.0;
            const float* window = h + t + 1;
            for (int j = 0; j < taps; ++j)
                sum += static_cast<double>(reversed[j]) * window[j];
            y[t] = static_cast<float>(sum);
        }
    }
    if (appended)
        past.advance(bytesOf(n));
}

bool BandSplitter::hasRing(int c) const
{
    return spectrumRing[c].size() > 0 && overlap[c].size() > 0 && accumulator[c].size() > 0;
}

// First feed after a block-mode setKernel: aligns the two output streams and
// starts the convolution from an empty history.
void BandSplitter::prime()
{
    channelCount = kChannels;
    const int n = transformSize;
    int longest = 0;
    for (int i = 0; i < kChannels; ++i) {
        slotIndex[i] = 0;
        const int total = input[i].queued() + output[i].unread();
        longest = std::max(longest, total);
        if (total < longest)
            output[i].append(nullptr, longest - total);

        const bool allocated = resizeExactly(slotFlags[i], partitions) &&
                               resizeExactly(spectrumRing[i], static_cast<long long>(partitions) * n * kComplexBytes) &&
                               resizeExactly(overlap[i], static_cast<long long>(n / 2) * kSampleBytes) &&
                               resizeExactly(accumulator[i], static_cast<long long>(n) * kComplexBytes);
        if (!allocated) {
            // Out of memory: this channel stays silent rather than half set up.
            slotFlags[i].release();
            spectrumRing[i].release();
            overlap[i].release();
            accumulator[i].release();
            continue;
        }
        // Slots flagged silent are never read, so the ring itself needs no clearing.
        std::memset(slotFlags[i].data(), 0, static_cast<std::size_t>(slotFlags[i].size()));
        std::memset(overlap[i].data(), 0, static_cast<std::size_t>(overlap[i].size()));
        ownHops[i] = true;
        startSum(i, hopsDone[i], 1 % partitions, kPartitionReal);
    }
    if (fixedDelay >= 0) {
        for (int i = 0; i < kChannels; ++i)
            applyStreamDelay(i);
    }
}

// Makes queued input plus visible unread output exactly fixedDelay frames.
void BandSplitter::applyStreamDelay(int channel)
{
    const int visible = output[channel].unread() / kSampleBytes - outputSkip[channel];
    const long long buffered = static_cast<long long>(input[channel].queued() / kSampleBytes) + visible;
    if (buffered < fixedDelay) {
        // Zeros ahead of the output of the queued input. On a fresh stream
        // up to hopOffset of them go in as silent input instead, which moves
        // the hop boundaries without changing the delay.
        const int missing = static_cast<int>(fixedDelay - buffered);
        int lead = 0;
        if (transformSize > 0 && buffered == 0)
            lead = input[channel].write(nullptr, bytesOf(std::min(hopOffset % hop(), missing))) / kSampleBytes;
        output[channel].append(nullptr, bytesOf(missing - lead));
        return;
    }
    int excess = static_cast<int>(buffered - fixedDelay);
    const int dropped = std::min(excess, std::max(visible, 0));
    output[channel].advance(bytesOf(dropped));
    excess -= dropped;
    input[channel].consumeBytes(bytesOf(excess));
}

// ---------------------------------------------------------------------------
// Running

int BandSplitter::run(int n)
{
    if (transformSize < 1)
        return std::min(output[0].unread(), channelCount == kChannels ? output[1].unread() : output[0].unread()) /
               kSampleBytes;
    if (n < 0 || n > kMaxFrames)
        n = 0;
    if (resizeExactly(scratch, scratchBytes(transformSize))) {
        for (int c = 0; c < channelCount;) {
            if (!hasRing(c)) {
                ++c;
                continue;
            }
            const bool pair = pairModeFor(c);
            runChannel(c, n);
            advanceSum(c, n);
            c += pair ? 2 : 1;
        }
    }
    if (channelCount < 1)
        return 0;
    int ready = output[0].unread() / kSampleBytes - outputSkip[0];
    for (int i = 1; i < channelCount; ++i)
        ready = std::min(ready, output[i].unread() / kSampleBytes - outputSkip[i]);
    return std::max(ready, 0);
}

bool BandSplitter::pairModeFor(int c) const
{
    return distinctKernels == 1 && c + 1 < channelCount && hasRing(c + 1) &&
           input[c].queued() == input[c + 1].queued() && output[c].unread() == output[c + 1].unread();
}

void BandSplitter::runChannel(int c, int n)
{
    const int x = hop();
    Block block;
    block.c = c;
    block.k = c < distinctKernels ? c : distinctKernels - 1;
    block.pair = pairModeFor(c);
    block.shareAllowed = !block.pair;
    // A channel in odd position convolved on its own runs its block
    // boundaries N/4 later, so its transforms do not coincide with channel c-1's.
    int first = x;
    if ((c & 1) != 0 && outputSkip[c] < transformSize / 4)
        first = transformSize / 4 - outputSkip[c];
    if (input[c].queued() < bytesOf(first))
        return;
    for (;;) {
        const long long wanted = (static_cast<long long>(n) + outputSkip[c]) * kSampleBytes;
        if (output[c].unread() >= wanted)
            break;
        block.first = first;
        produceBlock(block);
        if (input[c].queued() < bytesOf(x))
            break;
        first = x;
    }
}

void BandSplitter::produceBlock(Block& block)
{
    const int n = transformSize;
    const int x = n / 2;
    const int c = block.c;
    slotIndex[c] = (slotIndex[c] + 1) % partitions;
    ++hopsDone[c];
    ownHops[c] = true;
    const int slot = slotIndex[c];
    block.spectrum = spectrumRing[c].as<float>() + static_cast<std::size_t>(slot) * 2 * n;
    gatherInput(block);

    block.share = false;
    if (block.shareAllowed) {
        block.share = sharesNextChannel(block);
        block.shareAllowed = block.share;
    }
    if (block.share && partitions > 1) {
        // Older slots transformed for channel c alone do not hold channel c+1's input.
        const unsigned char* flags = slotFlags[c].as<unsigned char>();
        for (int j = 1; j < partitions && block.share; ++j)
            block.share = flags[(slot - j + partitions) % partitions] != kSlotOwn;
    }

    // Forward FFT
    if (!block.silent) {
        std::memset(block.spectrum + 2 * x, 0, static_cast<std::size_t>(x) * kComplexBytes);
        Dsp::fftForward(n, block.spectrum);
    }
    slotFlags[c].as<unsigned char>()[slot] = block.silent ? kSlotSilent : block.share ? kSlotShared : kSlotOwn;

    if (block.share) {
        input[c + 1].consumeBytes(bytesOf(x));
        slotIndex[c + 1] = (slotIndex[c + 1] + 1) % partitions;
        ++hopsDone[c + 1];
        ownHops[c + 1] = false;
        const int nextSlot = slotIndex[c + 1];
        if (!block.silent) {
            float* copy = spectrumRing[c + 1].as<float>() + static_cast<std::size_t>(nextSlot) * 2 * n;
            std::memcpy(copy, block.spectrum, static_cast<std::size_t>(n) * kComplexBytes);
        }
        slotFlags[c + 1].as<unsigned char>()[nextSlot] = block.silent ? kSlotSilent : kSlotShared;
    }
    overlapAdd(block, multiplyAccumulate(block));
    startSum(c, hopsDone[c], (slot + 1) % partitions, block.share ? kPartitionImaginaryOnly : kPartitionReal);
}

// Takes the block's input from the queue(s) into the ring slot, interleaved
// as (channel c, channel c+1 or 0), and tests it for silence.
void BandSplitter::gatherInput(Block& block)
{
    const int n = transformSize;
    const int x = n / 2;
    const int c = block.c;
    float* b = scratch.as<float>();
    float* b2 = b + x;
    const int lead = x - block.first;
    std::fill(b, b + lead, 0.0f);
    const int taken = input[c].copyOut(b + lead, bytesOf(block.first)) / kSampleBytes;
    std::fill(b + lead + taken, b + x, 0.0f);
    input[c].consumeBytes(bytesOf(block.first));
    outputSkip[c] += lead;
    if (block.pair) {
        slotIndex[c + 1] = (slotIndex[c + 1] + 1) % partitions;
        ++hopsDone[c + 1];
        ownHops[c + 1] = false;
        const int taken2 = input[c + 1].copyOut(b2, bytesOf(x)) / kSampleBytes;
        std::fill(b2 + taken2, b2 + x, 0.0f);
        input[c + 1].consumeBytes(bytesOf(x));
    }
    block.silent = !(isLoud(b, x) || (block.pair && isLoud(b2, x)));
    float* s = block.spectrum;
    if (block.pair) {
        for (int t = 0; t < x; ++t) {
            s[2 * t] = b[t];
            s[2 * t + 1] = b2[t];
        }
    } else {
        for (int t = 0; t < x; ++t) {
            s[2 * t] = b[t];
            s[2 * t + 1] = 0.0f;
        }
    }
}

// Channel c+1 may take its output from channel c's transform when it has its
// own kernel in the imaginary part and exactly the same input samples.
bool BandSplitter::sharesNextChannel(const Block& block) const
{
    const int c = block.c;
    const int x = hop();
    if (block.pair || c + 1 >= channelCount || block.k + 1 >= distinctKernels || !hasRing(c + 1) ||
        input[c + 1].queued() < bytesOf(x) || block.first != x)
        return false;
    const char* b = scratch.as<char>();
    for (int offset = 0; offset < bytesOf(x);) {
        int length = 0;
        const void* run = input[c + 1].peek(offset, &length);
        if (!run || length <= 0)
            return false;
        length = std::min(length, bytesOf(x) - offset);
        if (std::memcmp(run, b + offset, static_cast<std::size_t>(length)) != 0)
            return false;
        offset += length;
    }
    return true;
}

// Starts the sum for the hop after hop number hopId of channel c.
void BandSplitter::startSum(int c, long long hopId, int newestSlot, unsigned char minimumFlag)
{
    sum[c] = Sum{hopId, newestSlot, partitions - 1, minimumFlag, false};
}

// Adds kernel partition j times the input spectrum of j hops before the
// newest, for j from the next one due down to `last`, into the accumulator.
void BandSplitter::addPartitions(int c, int k, int last)
{
    Sum& s = sum[c];
    const int n = transformSize;
    const int p = partitions;
    const unsigned char* kernelFlags = partitioned->partitionFlags(k);
    const float* kernelSpectrum = partitioned->spectra(k);
    if (kernelFlags == nullptr || kernelSpectrum == nullptr) {
        s.next = std::min(s.next, last - 1);
        return;
    }
    const unsigned char* ringFlags = slotFlags[c].as<unsigned char>();
    float* total = accumulator[c].as<float>();
    for (; s.next >= last; --s.next) {
        const int j = s.next;
        const int slot = (s.newestSlot - j + p) % p;
        if (kernelFlags[j] < s.minimumFlag || ringFlags[slot] == kSlotSilent)
            continue;
        const float* kernelPart = kernelSpectrum + static_cast<std::size_t>(j) * 2 * n;
        const float* spectrum = spectrumRing[c].as<float>() + static_cast<std::size_t>(slot) * 2 * n;
        if (s.any)
            Dsp::multiplyAddSpectra(n, spectrum, kernelPart, total);
        else
            Dsp::multiplySpectra(n, spectrum, kernelPart, total);
        s.any = true;
    }
}

// Between hops: brings the next hop's sum of older partitions as far as the
// share of the hop's output read so far (or about to be, with this call's n
// frames), so that it is complete by the time the hop runs.
void BandSplitter::advanceSum(int c, int n)
{
    Sum& s = sum[c];
    if (!ownHops[c] || s.hop != hopsDone[c] || s.next < 1)
        return;
    const long long x = hop();
    const long long older = partitions - 1;
    // Frames left to read once this call's are read, before the next hop is needed.
    const long long left = static_cast<long long>(output[c].unread() / kSampleBytes) - outputSkip[c] - n;
    long long due = older;
    if (n < x && left >= n)
        due = std::clamp(older * (x - left) / (x - n), 0LL, older);
    const int k = c < distinctKernels ? c : distinctKernels - 1;
    if (due > older - s.next)
        addPartitions(c, k, static_cast<int>(partitions - due));
}

// The hop's sum: what advanceSum has not added yet, then the newest input's
// product; transformed back. False when nothing was multiplied. A sum that
// is not this hop's (channel c-1 produced the last one) or was begun for
// other partitions (sharing with channel c+1 began or ended) starts over.
bool BandSplitter::multiplyAccumulate(const Block& block)
{
    const int c = block.c;
    const unsigned char minimumFlag = block.share ? kPartitionImaginaryOnly : kPartitionReal;
    if (sum[c].hop != hopsDone[c] - 1 || sum[c].minimumFlag != minimumFlag)
        startSum(c, hopsDone[c] - 1, slotIndex[c], minimumFlag);
    addPartitions(c, block.k, 0);
    if (sum[c].any)
        Dsp::fftInverse(transformSize, accumulator[c].as<float>());
    return sum[c].any;
}

// Adds the previous block's tail to the first half of the result and keeps
// the second half as the next tail. A block with leading zeros in place of
// input (an odd channel's first) starts from an empty history, so its first
// outputs are exactly zero: written as such, they do not depend on whether
// the reader's offset hides them or earlier frames.
void BandSplitter::overlapAdd(const Block& block, bool anyProduct)
{
    const int x = hop();
    const int lead = x - block.first;
    const float* a = accumulator[block.c].as<float>();
    const bool second = block.pair || block.share;
    for (int part = 0; part < (second ? 2 : 1); ++part) {
        const int channel = block.c + part;
        float* tail = overlap[channel].as<float>();
        auto* y = static_cast<float*>(output[channel].append(nullptr, bytesOf(x)));
        if (!anyProduct) {
            if (y)
                std::memcpy(y, tail, static_cast<std::size_t>(bytesOf(x)));
            std::memset(tail, 0, static_cast<std::size_t>(bytesOf(x)));
            continue;
        }
        const float* head = a + part;
        const float* next = a + 2 * x + part;
        if (y) {
            for (int t = 0; t < x; ++t)
                y[t] = head[2 * t] + tail[t];
            if (part == 0)
                std::fill(y, y + lead, 0.0f);
        }
        for (int t = 0; t < x; ++t)
            tail[t] = next[2 * t];
    }
}

// ---------------------------------------------------------------------------
// Reading

float** BandSplitter::bandOutput()
{
    for (int i = 0; i < kChannels; ++i) {
        float* first = i < channelCount ? output[i].readAs<float>() : nullptr;
        outputPointers[i] = first ? first + outputSkip[i] : nullptr;
    }
    return outputPointers;
}

void BandSplitter::consume(int n)
{
    if (n <= 0 || n > kMaxFrames)
        n = n > kMaxFrames ? kMaxFrames : 0;
    for (int i = 0; i < channelCount; ++i)
        output[i].advance(bytesOf(n));
}
