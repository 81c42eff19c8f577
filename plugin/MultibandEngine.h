// The multiband engine, with no plug-in format in it: splits each block into
// five linear-phase bands (Crossover), runs every band through its maximizer
// and the sum of the bands switched on through the master (both through a
// BandRunner the caller supplies), keeps the bands aligned when the
// maximizers delay them differently (BandAlignment), fades band switches, and
// designs and publishes crossover changes while the audio plays. It meters
// the gain every maximizer applies (GainMeter), readable from any thread, and
// copies each band's signal as it enters the sum to buffers a host names.
//
// Latency: T (the crossover's common delay) + the largest band maximizer's
// latency + the master's. It is recomputed under the effect lock whenever a
// part changes and handed to the LatencyListener there, so the value a host
// reads always agrees with the delay the audio has, whichever threads race.
//
// Threads:
//  - process() runs on the audio thread under the effect lock. It never waits
//    for a design, allocates nothing, destroys nothing (see AudioThread.h).
//  - setCrossover() and setBand() may come from any thread, the audio thread
//    included. An unchanged value returns at once without any lock; a change
//    is designed by whichever caller finds no design in progress, and a
//    design in progress picks up every change made meanwhile (the latest
//    wins), so no caller ever waits for another's design.
//  - setSampleRate(), setBlockSize() and restart() are set-up calls: they
//    may allocate and take the effect lock, but never wait for a design.
//  - setTaps() takes the effect lock, so it waits for a block in progress;
//    process() reads the taps under the lock it holds anyway.
#pragma once

#include "crossover/Crossover.h"
#include "crossover/GainRamp.h"
#include "crossover/GrowableBuffer.h"
#include "plugin/BandAlignment.h"
#include "plugin/GainMeter.h"
#include "plugin/OutputPeakMeter.h"
#include "plugin/Platform.h"

#include <atomic>
#include <memory>
#include <vector>

// Runs the maximizers the engine drives: instances 0..4 are the bands', 5 the master's.
class BandRunner
{
public:
    // Processes n frames of two channels from `in` into `out` (separate
    // buffers). False when there is no such maximizer: the signal then passes
    // unchanged. Called under the effect lock on the audio thread.
    virtual bool run(int instance, float* const* in, float* const* out, int n) = 0;
    // The instance's latency in frames as of now (0 when there is none).
    virtual int latency(int instance) = 0;
    // The gain in dB the instance adds before it limits, where known: its
    // gain meter counts the reduction from there.
    virtual float driveDb(int /*instance*/) { return 0.0f; }

protected:
    ~BandRunner() = default;
};

// Told each new latency, under the effect lock, on whichever thread changed it.
class LatencyListener
{
public:
    virtual void latencyChanged(int frames) = 0;

protected:
    ~LatencyListener() = default;
};

class MultibandEngine
{
public:
    static constexpr int kBands = 5;
    static constexpr int kCrossovers = 4;
    static constexpr int kInstances = 6;
    static constexpr int kMaster = 5;

    // Before the first sample rate, band 1 passes the input unchanged and the
    // engine delays it so that the whole latency is `passThroughLatency`;
    // call restart() once the runner's maximizers are there. `initial` holds
    // the crossover settings, and the rate a change is designed at until
    // setSampleRate(); nothing is designed before either is called. Allocates.
    MultibandEngine(LatencyListener& listener, BandRunner& runner, int passThroughLatency,
                    const CrossoverSettings& initial, int maxBlock);
    MultibandEngine(const MultibandEngine&) = delete;
    MultibandEngine& operator=(const MultibandEngine&) = delete;

    // A new sample rate: a restart at that rate, designed before it returns
    // unless a design is in progress elsewhere (which then makes it). The
    // crossover frequencies are given in Hz for the new rate.
    // `underLock` runs under the effect lock after the restart.
    template <class Hook>
    void setSampleRate(float rate, const float (&hz)[kCrossovers], Hook&& underLock);
    // True once setSampleRate() was called with this rate.
    bool runsAt(float rate) const { return rateSet.load() && requestedRate.load() == rate; }
    // Sizes every buffer for blocks of up to maxBlock frames (longer blocks
    // are processed in pieces of that size).
    template <class Hook>
    void setBlockSize(int maxBlock, Hook&& underLock);
    // Starts a clean stream: nothing from before is played, every fade ends,
    // the latency returns to the smallest the crossover needs, and whatever
    // changes before the first frame is part of the restart (no fade).
    // `underLock` runs under the effect lock (the caller resets its maximizers).
    template <class Hook>
    void restart(Hook&& underLock);

    // Crossover `index` (0..3) to `hz`, or to slope step `step` (1..8).
    // Each is its own value, so concurrent calls never mix two settings.
    void setFrequency(int index, float hz);
    void setSlope(int index, int step);
    // Band `band` on or off; it fades over at the next block.
    void setBand(int band, bool on) { bandOn[band].store(on, std::memory_order_relaxed); }

    // One block; in and out may alias. Inputs may be null (silence).
    void process(const float* const* in, float* const* out, int n);

    // The gain reduction instance `instance` (kMaster: the master) applied,
    // as of the last block; any thread.
    GainMeter::Reading gainReduction(int instance) const { return meters[instance].reading(); }
    // Metering on or off (the default: a host that never reads the meters
    // pays nothing for them); off, the readings stay where they are.
    void setMetering(bool on) { metering.store(on, std::memory_order_relaxed); }
    // The output's true peak, as of the last block; any thread. Measured
    // only from the first call on (while metering is on): a host that never
    // shows it pays nothing for it.
    OutputPeakMeter::Reading outputPeak()
    {
        outputPeakWanted.store(true, std::memory_order_relaxed);
        return outputPeakMeter.reading();
    }

    // Buffers for each band's signal as it enters the sum: after alignment
    // and its switch's fade (an off band gives silence), before the sum.
    // Each block writes frames [0, min(block, frames)) of the buffers of every
    // band whose two pointers are set; frames 0 names none.
    struct Taps
    {
        float* channels[kBands][2] = {};
        int frames = 0;
    };
    // Taps from the next block on. Takes the effect lock, so once it returns
    // no block writes to the buffers it replaced. Returns the master's
    // latency: the frames by which the band signals lead the output.
    int setTaps(const Taps& next);

    // Delay from input to output in frames, as last handed to the listener.
    int latency() const { return latencyNow.load(); }
    // The settings of the newest design published. Takes the effect lock.
    CrossoverSettings latestSettings();

    // For tests: called on the designing thread after a design is prepared
    // and before it is published, so a test can hold a design in progress.
    void setDesignPause(void (*pause)(void*), void* context)
    {
        designPause = pause;
        designPauseContext = context;
    }

private:
    // Designs the requested settings and publishes them, again and again
    // while changes keep arriving. Only the holder of `designing` runs it.
    void requestDesign();
    void designRequested();
    CrossoverSettings requestedSettings() const;
    bool publishDesign(const CrossoverSettings& settings);
    // Frees what the audio side retired, or leaves it for the design in
    // progress when there is one (that design may still read it).
    void dispose(Crossover::Garbage& garbage);
    // Holder of `designing` only: keeps retired splitters for reuse.
    void keepSpares(Crossover::Garbage& garbage, Crossover::Update* unpublished);

    // Under the lock.
    void restartLocked(Crossover::Garbage& garbage);
    void reserveLocked(int maxBlock);
    void refreshLatency();
    // `offset`: the piece's first frame in the host's block (for the taps).
    void processPiece(const float* const* in, float* const* out, int n, int offset);
    void mixBands(float** const (&bands)[kBands], float* const* out, int n, int offset);
    void processSilence(float* const* out, int n, int offset);
    // Band b's tap from frame `offset` of the block: the frames it takes of
    // the n there, with its two channels in `to`; 0 when untapped.
    int tapped(int band, int offset, int n, float* (&to)[2]) const;
    void clearTaps(int offset, int n);
    // Runs instance i from in into out; false when there is none.
    bool runMetered(int instance, float* const* in, float* const* out, int n);
    bool followLatencies(bool atOnce);
    void updateLatency();

    LatencyListener& listener;
    BandRunner& runner;
    Platform::EffectLock effectLock;

    // Under the effect lock.
    Crossover crossover;
    BandAlignment alignment;
    GainMeter meters[kInstances];
    std::atomic<bool> metering{false};
    bool metered = true; // whether the last block was metered
    OutputPeakMeter outputPeakMeter;
    std::atomic<bool> outputPeakWanted{false};
    bool outputPeakMetered = false; // whether the last block measured it
    GainRamp gates[kBands];
    GrowableBuffer sums[2];
    Taps taps;
    int blockCapacity = 0;
    int passThroughLatency;
    std::atomic<int> latencyNow{-1};
    // Retired objects left by a restart while a design was in progress.
    Crossover::Garbage deferred;

    // Design side: owned by the holder of `designing`.
    std::atomic<bool> designing{false};
    std::atomic<unsigned> designRequests{0};
    std::vector<std::unique_ptr<BandSplitter>> spareSplitters;
    void (*designPause)(void*) = nullptr;
    void* designPauseContext = nullptr;

    // Requested settings, any thread.
    std::atomic<float> requestedHz[kCrossovers];
    std::atomic<int> requestedStep[kCrossovers];
    std::atomic<float> requestedRate{0.0f};
    std::atomic<bool> rateSet{false};
    std::atomic<bool> bandOn[kBands];
};

template <class Hook>
void MultibandEngine::setSampleRate(float rate, const float (&hz)[kCrossovers], Hook&& underLock)
{
    for (int i = 0; i < kCrossovers; ++i)
        requestedHz[i].store(hz[i]);
    requestedRate.store(rate);
    rateSet.store(true);
    Crossover::Garbage garbage;
    {
        Platform::ScopedLock hold(effectLock);
        alignment.reserve(rate, blockCapacity);
        for (GainMeter& meter : meters)
            meter.reserve(rate);
        outputPeakMeter.setSampleRate(rate);
        for (GainRamp& gate : gates)
            gate.setLength(static_cast<int>(Crossover::kFadeSeconds * static_cast<double>(rate)));
        restartLocked(garbage);
    }
    dispose(garbage);
    // The crossover is designed for the new rate before the maximizers hear it.
    requestDesign();
    Platform::ScopedLock hold(effectLock);
    underLock();
    refreshLatency();
}

template <class Hook>
void MultibandEngine::setBlockSize(int maxBlock, Hook&& underLock)
{
    Platform::ScopedLock hold(effectLock);
    reserveLocked(maxBlock);
    underLock();
    refreshLatency();
}

template <class Hook>
void MultibandEngine::restart(Hook&& underLock)
{
    Crossover::Garbage garbage;
    {
        Platform::ScopedLock hold(effectLock);
        underLock();
        restartLocked(garbage);
    }
    dispose(garbage);
}
