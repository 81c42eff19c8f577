#include "plugin/MultibandEngine.h"

#include "crossover/KernelDesign.h"
#include "crossover/StereoBlock.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace
{
// Enough retired splitters kept for the largest change: one per band.
constexpr std::size_t kSpareSplitters = MultibandEngine::kBands;

using StereoBlock::copy;
using StereoBlock::zero;

void add(float* const* to, const float* const* from, int n)
{
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < n; ++i)
            to[c][i] += from[c][i];
}

template <class T>
void moveAll(std::vector<T>& from, std::vector<T>& to)
{
    for (T& item : from)
        to.push_back(std::move(item));
    from.clear();
}
} // namespace

MultibandEngine::MultibandEngine(LatencyListener& listener, BandRunner& runner, int passThroughLatency,
                                 const CrossoverSettings& initial, int maxBlock)
    : listener(listener), runner(runner), passThroughLatency(passThroughLatency)
{
    const float rate = initial.sampleRate;
    for (int i = 0; i < kCrossovers; ++i) {
        requestedHz[i].store(initial.hz[static_cast<std::size_t>(i)]);
        requestedStep[i].store(initial.steps[static_cast<std::size_t>(i)]);
    }
    for (auto& on : bandOn)
        on.store(true);
    requestedRate.store(rate);
    spareSplitters.reserve(kSpareSplitters);
    deferred.reserve();
    alignment.reserve(rate, maxBlock);
    for (GainMeter& meter : meters)
        meter.reserve(rate);
    outputPeakMeter.setSampleRate(rate);
    for (GainRamp& gate : gates) {
        gate.setLength(static_cast<int>(Crossover::kFadeSeconds * static_cast<double>(rate)));
        gate.reset(true);
    }
    reserveLocked(maxBlock);
}

// ---------------------------------------------------------------------------
// Set-up, under the lock

void MultibandEngine::reserveLocked(int maxBlock)
{
    maxBlock = std::clamp(maxBlock, 1, 1 << 20);
    if (maxBlock <= blockCapacity)
        return;
    const int bytes = maxBlock * static_cast<int>(sizeof(float));
    bool complete = crossover.reserveBlock(maxBlock);
    for (GrowableBuffer& sum : sums) {
        sum.resize(bytes);
        complete &= sum.size() >= bytes;
    }
    alignment.reserve(requestedRate.load(), maxBlock);
    for (GainMeter& meter : meters)
        meter.reserve(requestedRate.load());
    if (complete)
        blockCapacity = maxBlock;
}

void MultibandEngine::restartLocked(Crossover::Garbage& garbage)
{
    followLatencies(true);
    const bool designed = crossover.latestDesign().designed();
    // Before any design, band 1 alone passes the input, delayed so that the
    // whole latency is the pass-through latency (as far as the maximizers allow).
    crossover.restart(garbage, designed ? 0 : std::max(0, passThroughLatency - alignment.latency()));
    alignment.restart();
    for (GainMeter& meter : meters)
        meter.restart();
    outputPeakMeter.restart();
    for (int b = 0; b < kBands; ++b)
        gates[b].reset(bandOn[b].load(std::memory_order_relaxed));
    updateLatency();
}

void MultibandEngine::refreshLatency()
{
    followLatencies(crossover.fresh());
    updateLatency();
}

bool MultibandEngine::followLatencies(bool atOnce)
{
    BandAlignment::Latencies latencies{};
    for (int i = 0; i < kInstances; ++i)
        latencies[static_cast<std::size_t>(i)] = std::max(0, runner.latency(i));
    return alignment.follow(latencies, blockCapacity, atOnce);
}

void MultibandEngine::updateLatency()
{
    const int latency = crossover.announcedDelay() + alignment.latency();
    if (latencyNow.exchange(latency) != latency)
        listener.latencyChanged(latency);
}

// ---------------------------------------------------------------------------
// Crossover changes

void MultibandEngine::setFrequency(int index, float hz)
{
    if (index >= 0 && index < kCrossovers && requestedHz[index].exchange(hz) != hz)
        requestDesign();
}

void MultibandEngine::setSlope(int index, int step)
{
    if (index >= 0 && index < kCrossovers && requestedStep[index].exchange(step) != step)
        requestDesign();
}

CrossoverSettings MultibandEngine::requestedSettings() const
{
    CrossoverSettings settings;
    settings.sampleRate = requestedRate.load();
    for (int i = 0; i < kCrossovers; ++i) {
        settings.hz[static_cast<std::size_t>(i)] = requestedHz[i].load();
        settings.steps[static_cast<std::size_t>(i)] = requestedStep[i].load();
    }
    return settings;
}

// Whoever takes `designing` designs, for itself and for every request that
// arrives meanwhile; everyone else returns at once. The holder looks for new
// requests again after letting go, so a request made just before that is not
// left waiting.
void MultibandEngine::requestDesign()
{
    designRequests.fetch_add(1);
    for (;;) {
        if (designing.exchange(true))
            return;
        unsigned seen = 0;
        do {
            seen = designRequests.load();
            designRequested();
        } while (designRequests.load() != seen);
        designing.store(false);
        if (designRequests.load() == seen)
            return;
    }
}

void MultibandEngine::designRequested()
{
    const CrossoverSettings settings = requestedSettings();
    if (settings.sampleRate > 0.0f)
        publishDesign(settings);
}

bool MultibandEngine::publishDesign(const CrossoverSettings& settings)
{
    for (;;) {
        Crossover::Basis basis;
        int maxBlock = 0;
        Crossover::Garbage garbage;
        {
            Platform::ScopedLock hold(effectLock);
            // Take over what restarts left while a design ran.
            moveAll(deferred.splitters, garbage.splitters);
            moveAll(deferred.designs, garbage.designs);
            moveAll(deferred.updates, garbage.updates);
            if (crossover.latestDesign().settings() == settings) {
                keepSpares(garbage, nullptr);
                return false;
            }
            basis = crossover.basis();
            maxBlock = blockCapacity;
        }
        keepSpares(garbage, nullptr);
        // Designed outside the lock: the audio thread keeps running meanwhile.
        // The basis design stays alive: only the holder of `designing` frees
        // retired objects.
        std::unique_ptr<Crossover::Update> update;
        try {
            update = Crossover::prepare(CrossoverDesign::create(settings, basis.design), basis, false, maxBlock,
                                        settings.sampleRate, &spareSplitters);
            garbage.reserve();
        } catch (const std::bad_alloc&) {
            return false; // the crossover in use stays complete
        }
        if (designPause != nullptr)
            designPause(designPauseContext);
        bool published = false;
        {
            Platform::ScopedLock hold(effectLock);
            published = crossover.publish(update, basis, garbage);
            if (published)
                updateLatency();
        }
        keepSpares(garbage, update.get());
        if (published)
            return true;
        // Not published: the audio side finished a change or restarted
        // meanwhile, so the update was prepared against a state that is gone.
    }
}

CrossoverSettings MultibandEngine::latestSettings()
{
    Platform::ScopedLock hold(effectLock);
    return crossover.latestDesign().settings();
}

void MultibandEngine::dispose(Crossover::Garbage& garbage)
{
    const unsigned seen = designRequests.load();
    if (!designing.exchange(true)) {
        keepSpares(garbage, nullptr);
        designing.store(false);
        // A request that found the design side busy just now is served here.
        if (designRequests.load() != seen)
            requestDesign();
        return;
    }
    Platform::ScopedLock hold(effectLock);
    moveAll(garbage.splitters, deferred.splitters);
    moveAll(garbage.designs, deferred.designs);
    moveAll(garbage.updates, deferred.updates);
}

// Splitters no longer used, or never published, serve the next design; the
// rest is freed with the garbage, outside the lock.
void MultibandEngine::keepSpares(Crossover::Garbage& garbage, Crossover::Update* unpublished)
{
    auto keep = [this](std::unique_ptr<BandSplitter>& splitter) {
        if (splitter && spareSplitters.size() < kSpareSplitters)
            spareSplitters.push_back(std::move(splitter));
    };
    for (auto& splitter : garbage.splitters)
        keep(splitter);
    for (auto& replaced : garbage.updates)
        for (auto& splitter : replaced->splitters)
            keep(splitter);
    if (unpublished != nullptr)
        for (auto& splitter : unpublished->splitters)
            keep(splitter);
}

// ---------------------------------------------------------------------------
// Audio

void MultibandEngine::process(const float* const* in, float* const* out, int n)
{
    if (out == nullptr || out[0] == nullptr || out[1] == nullptr || n <= 0)
        return;
    AudioThread::Scope audio;
    Platform::ScopedLock hold(effectLock);
    if (blockCapacity <= 0) {
        zero(out, n);
        clearTaps(0, n);
        return;
    }
    // A block longer than the buffers were sized for runs in pieces.
    for (int done = 0; done < n;) {
        const int piece = std::min(n - done, blockCapacity);
        const float* pieceIn[2] = {};
        for (int c = 0; c < 2; ++c)
            pieceIn[c] = in != nullptr && in[c] != nullptr ? in[c] + done : nullptr;
        float* pieceOut[2] = {out[0] + done, out[1] + done};
        processPiece(pieceIn, pieceOut, piece, done);
        done += piece;
    }
}

void MultibandEngine::processPiece(const float* const* in, float* const* out, int n, int offset)
{
    if (crossover.fresh()) {
        // Switches set since the restart are part of it.
        for (int b = 0; b < kBands; ++b)
            gates[b].reset(bandOn[b].load(std::memory_order_relaxed));
    }
    // Metering switched back on starts from a clean history.
    const bool meterNow = metering.load(std::memory_order_relaxed);
    if (meterNow && !metered)
        for (GainMeter& meter : meters)
            meter.restart();
    metered = meterNow;
    // The crossover takes the input before any output is written, so hosts
    // that process in place are safe.
    float** bands[kBands] = {};
    if (crossover.process(in, n, bands))
        mixBands(bands, out, n, offset);
    else
        processSilence(out, n, offset);
    // The output peak switched (back) on starts from a clean history.
    const bool measurePeak = metered && outputPeakWanted.load(std::memory_order_relaxed);
    if (measurePeak && !outputPeakMetered)
        outputPeakMeter.restart();
    if (measurePeak)
        outputPeakMeter.measure(out, n);
    outputPeakMetered = measurePeak;
    crossover.release(n);
    if (followLatencies(false))
        updateLatency();
}

void MultibandEngine::mixBands(float** const (&bands)[kBands], float* const* out, int n, int offset)
{
    float* sum[2] = {sums[0].as<float>(), sums[1].as<float>()};
    zero(sum, n);
    for (int b = 0; b < kBands; ++b) {
        // A missing maximizer passes its band through unchanged.
        if (!runMetered(b, bands[b], out, n))
            copy(out, bands[b], n);
        alignment.delay(b, out, n);
        gates[b].target(bandOn[b].load(std::memory_order_relaxed));
        float* tap[2] = {};
        if (const int frames = tapped(b, offset, n, tap)) {
            // The band as the sum takes it: faded in place, copied, added.
            gates[b].apply(out, n);
            copy(tap, out, frames);
            add(sum, out, n);
        } else {
            gates[b].mixInto(sum, out, n);
        }
    }
    alignment.fade(sum, n);
    if (!runMetered(kMaster, sum, out, n))
        copy(out, sum, n);
}

bool MultibandEngine::runMetered(int instance, float* const* in, float* const* out, int n)
{
    if (!runner.run(instance, in, out, n))
        return false;
    if (metered)
        meters[instance].measure(in, out, n, alignment.instanceLatency(instance), runner.driveDb(instance));
    return true;
}

// For a block the crossover cannot fill (memory ran out): the maximizers keep
// running on silence and the output is the master's processing of silence.
void MultibandEngine::processSilence(float* const* out, int n, int offset)
{
    clearTaps(offset, n);
    float* silence[2] = {sums[0].as<float>(), sums[1].as<float>()};
    zero(silence, n);
    bool master = false;
    for (int i = 0; i < kInstances; ++i)
        master = runMetered(i, silence, out, n) && i == kMaster;
    if (!master)
        zero(out, n);
}

// ---------------------------------------------------------------------------
// Band taps

int MultibandEngine::setTaps(const Taps& next)
{
    Platform::ScopedLock hold(effectLock);
    taps = next;
    taps.frames = std::max(taps.frames, 0);
    return alignment.instanceLatency(kMaster);
}

int MultibandEngine::tapped(int band, int offset, int n, float* (&to)[2]) const
{
    float* const* channels = taps.channels[band];
    const int frames = std::min(n, taps.frames - offset);
    if (frames <= 0 || channels[0] == nullptr || channels[1] == nullptr)
        return 0;
    to[0] = channels[0] + offset;
    to[1] = channels[1] + offset;
    return frames;
}

void MultibandEngine::clearTaps(int offset, int n)
{
    for (int b = 0; b < kBands; ++b) {
        float* tap[2] = {};
        zero(tap, tapped(b, offset, n, tap));
    }
}
