#include "crossover/Crossover.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

namespace
{
constexpr int kSampleBytes = static_cast<int>(sizeof(float));
// Room kept for retired objects, so the audio thread does not allocate to retire.
constexpr std::size_t kRetiredCapacity = 64;
// Frames a splitter needs to be fed before its output is exact: its
// buffered delay plus its kernel's length - 1.
int historyNeeded(const BandSplitter& splitter)
{
    return std::max(splitter.streamDelay(), 0) + std::max(splitter.kernelLength() - 1, 0);
}
} // namespace

void Crossover::Garbage::reserve()
{
    splitters.reserve(kRetiredCapacity);
    designs.reserve(kRetiredCapacity);
    updates.reserve(kRetiredCapacity);
}

Crossover::Crossover() : design(CrossoverDesign::passThrough())
{
    lanes[0].splitter = std::make_unique<BandSplitter>();
    lanes[0].splitter->setKernel(design->kernel(0));
    lanes[0].splitter->setStreamDelay(0);
    lanes[0].splitter->restart();
    history.reserve(kHistoryFrames);
    retired.splitters.reserve(kRetiredCapacity);
    retired.designs.reserve(kRetiredCapacity);
    retired.updates.reserve(kRetiredCapacity);
    fade.setLength(static_cast<int>(std::lround(kFadeSeconds * 44100.0)));
    fade.reset(false);
}

// ---------------------------------------------------------------------------
// Design side

Crossover::Basis Crossover::basis() const
{
    Basis basis;
    basis.design = incomingDesign ? incomingDesign.get() : design.get();
    basis.delay = targetDelay;
    basis.announcedDelay = announced;
    basis.restartPending = pending && pending->kind == Update::Kind::restart;
    basis.fresh = untouched;
    basis.epoch = epoch;
    return basis;
}

const CrossoverDesign& Crossover::latestDesign() const
{
    if (pending)
        return *pending->design;
    return incomingDesign ? *incomingDesign : *design;
}

std::unique_ptr<Crossover::Update> Crossover::prepare(std::unique_ptr<const CrossoverDesign> design,
                                                      const Basis& basis, bool restart, int maxBlock,
                                                      double sampleRate,
                                                      std::vector<std::unique_ptr<BandSplitter>>* spares)
{
    auto update = std::make_unique<Update>();
    const int needed = design->minimumDelay();
    if (restart || basis.restartPending || basis.fresh || basis.design == nullptr) {
        update->kind = Update::Kind::restart;
        update->delay = needed;
    } else {
        update->delay = std::max(basis.announcedDelay, needed);
        update->kind = update->delay > basis.delay ? Update::Kind::grow : Update::Kind::crossfade;
    }
    update->fadeFrames = std::max(1, static_cast<int>(std::lround(kFadeSeconds * sampleRate)));
    for (int b = 0; b < kBands; ++b) {
        if (!design->kernel(b))
            continue;
        if (update->kind == Update::Kind::crossfade && design->sameBand(b, *basis.design))
            continue;
        std::unique_ptr<BandSplitter> splitter;
        if (spares != nullptr && !spares->empty()) {
            splitter = std::move(spares->back());
            spares->pop_back();
        } else {
            splitter = std::make_unique<BandSplitter>();
        }
        splitter->setKernel(design->kernel(b));
        splitter->setStreamDelay(update->delay - design->centreDelay(b));
        // Bands started together take their hops in different blocks.
        splitter->setHopOffset(b * splitter->hop() / kBands);
        const int history = update->kind == Update::Kind::restart ? 0 : historyNeeded(*splitter);
        splitter->reserve(maxBlock, history);
        update->splitters[b] = std::move(splitter);
    }
    update->design = std::move(design);
    return update;
}

bool Crossover::publish(std::unique_ptr<Update>& update, const Basis& assumed, Garbage& garbage)
{
    AudioThread::assertAway("only a design side thread publishes");
    if (!(basis() == assumed))
        return false;
    if (pending)
        garbage.updates.push_back(pending.take());
    pending.put(std::move(update));
    announced = pending->delay;
    handOver(garbage);
    return true;
}

void Crossover::handOver(Garbage& garbage)
{
    retired.splitters.handOver(garbage.splitters);
    retired.designs.handOver(garbage.designs);
    retired.updates.handOver(garbage.updates);
}

int Crossover::restart(Garbage& garbage, int minimumDelay)
{
    endChangeAtOnce();
    applyPendingAtOnce();
    handOver(garbage);
    untouched = true;
    ++epoch;
    currentDelay = targetDelay = announced = std::max(design->minimumDelay(), minimumDelay);
    for (int b = 0; b < kBands; ++b) {
        Lane& lane = lanes[b];
        lane.discard = 0;
        if (!lane.splitter)
            continue;
        lane.splitter->setStreamDelay(currentDelay - design->centreDelay(b));
        lane.splitter->restart();
    }
    history.clear();
    return currentDelay;
}

bool Crossover::reserveBlock(int n)
{
    if (n <= blockCapacity)
        return true;
    const int bytes = n * kSampleBytes;
    bool complete = weights.resize(bytes) != nullptr && weights.size() == bytes;
    silence.resize(bytes);
    complete &= silence.size() == bytes;
    if (complete)
        std::memset(silence.data(), 0, static_cast<std::size_t>(bytes));
    for (auto& band : blended) {
        for (GrowableBuffer& channel : band) {
            channel.resize(bytes);
            complete &= channel.size() == bytes;
        }
    }
    if (complete)
        blockCapacity = n;
    return complete;
}

// Ends a change in progress as if its fade had completed.
void Crossover::endChangeAtOnce()
{
    if (phase == Phase::crossfade || phase == Phase::catchUp)
        finishCrossfade();
    else if (phase == Phase::fadeOut)
        switchToGrownDelay(0);
    phase = Phase::steady;
    fade.reset(false);
}

void Crossover::applyPendingAtOnce()
{
    if (!pending)
        return;
    std::unique_ptr<Update> update = pending.take();
    for (int b = 0; b < kBands; ++b) {
        if (update->splitters[b] || !update->design->kernel(b)) {
            retire(lanes[b]);
            lanes[b].splitter = std::move(update->splitters[b]);
        }
    }
    retire(std::move(design));
    design = std::move(update->design);
    fade.setLength(update->fadeFrames);
    retired.updates.retire(std::move(update));
}

// ---------------------------------------------------------------------------
// Audio side

// One change at a time: an update is adopted only once the previous change
// has finished (the caller checks the phase).
void Crossover::adopt()
{
    assert(phase == Phase::steady && pending && "one change at a time");
    if (pending->kind == Update::Kind::restart) {
        applyPendingAtOnce();
        currentDelay = targetDelay = announced;
        history.clear();
        return;
    }
    std::unique_ptr<Update> update = pending.take();
    fade.setLength(update->fadeFrames);
    incomingDesign = std::move(update->design);
    for (int b = 0; b < kBands; ++b) {
        if (update->splitters[b])
            startLane(incoming[b], std::move(update->splitters[b]));
    }
    if (update->kind == Update::Kind::grow) {
        phase = Phase::fadeOut;
        fade.reset(true);
        fade.target(false);
        pastFade = 0;
        targetDelay = update->delay;
        gapFrames = targetDelay - currentDelay;
    } else {
        phase = Phase::catchUp;
        fade.reset(false);
    }
    retired.updates.retire(std::move(update));
}

void Crossover::startLane(Lane& lane, std::unique_ptr<BandSplitter> splitter)
{
    const int frames = historyNeeded(*splitter);
    feedHistory(*splitter, frames);
    lane.splitter = std::move(splitter);
    lane.discard = frames;
    lane.history = frames;
    lane.read = false;
}

// Feeds the last `frames` frames of input; what the stream had not yet played
// counts as the silence it was.
void Crossover::feedHistory(BandSplitter& splitter, int frames)
{
    const int available = std::min(frames, history.held());
    if (frames > available)
        splitter.feed(nullptr, frames - available);
    history.visitNewest(available, [&](const float* const* segment, int run) { splitter.feed(segment, run); });
}

// Runs and drops history frames: this block's worth and enough that the whole
// history is through within about one fade, so at least one hop per block.
void Crossover::catchUp(Lane& lane, int n)
{
    BandSplitter& splitter = *lane.splitter;
    const int hop = std::max(splitter.hop(), 1);
    long long budget = static_cast<long long>(n) + 1 + static_cast<long long>(lane.history) * n / fade.length();
    while (lane.discard > 0 && budget > 0) {
        const int wanted = splitter.hop() > 0 ? std::min(lane.discard, hop) : lane.discard;
        const int ready = std::min(splitter.run(wanted), wanted);
        if (ready <= 0)
            break;
        splitter.consume(ready);
        lane.discard -= ready;
        budget -= ready;
    }
}

bool Crossover::runLanes(Lane (&set)[kBands], const float* const* inputs, int n)
{
    bool complete = true;
    for (Lane& lane : set) {
        lane.read = false;
        if (!lane.splitter)
            continue;
        lane.splitter->feed(inputs, n);
        if (lane.discard > 0) {
            catchUp(lane, n);
            if (lane.discard > 0) {
                // This block's frames are not read, so they are dropped later.
                lane.discard += n;
                continue;
            }
        }
        complete &= lane.splitter->run(n) >= n;
        lane.read = true;
    }
    return complete;
}

bool Crossover::synced(const Lane (&set)[kBands])
{
    for (const Lane& lane : set) {
        if (lane.splitter && !lane.read)
            return false;
    }
    return true;
}

bool Crossover::process(const float* const* inputs, int n, float** (&bands)[kBands])
{
    n = std::max(n, 0);
    // Nothing is marked read until this block has run, so a block that
    // fails here consumes nothing from any splitter at release().
    for (Lane* set : {lanes, incoming})
        for (int b = 0; b < kBands; ++b)
            set[b].read = false;
    if (n > blockCapacity)
        return false;
    if (phase == Phase::steady && pending)
        adopt();
    untouched = untouched && n == 0;
    history.write(inputs, n);
    bool complete = runLanes(lanes, inputs, n);
    if (phase == Phase::catchUp || phase == Phase::crossfade || phase == Phase::fadeOut)
        complete &= runLanes(incoming, inputs, n);
    if (phase == Phase::catchUp && synced(incoming)) {
        phase = Phase::crossfade;
        fade.target(true);
    }
    if (!complete)
        return false;
    computeWeights(n);
    pointBands(n);
    for (int b = 0; b < kBands; ++b)
        bands[b] = bandPointers[b];
    return true;
}

void Crossover::computeWeights(int n)
{
    float* w = weights.as<float>();
    switch (phase) {
    case Phase::crossfade:
        fade.render(w, n);
        break;
    case Phase::fadeOut: {
        const int left = fade.remaining();
        fade.render(w, n);
        pastFade += std::max(0, n - left);
        break;
    }
    case Phase::fadeIn: {
        // The owed silence first; new splitters still catching up keep the
        // fade waiting at silence.
        const int quiet = std::min(n, silenceLeft);
        silenceLeft -= quiet;
        std::fill(w, w + quiet, 0.0f);
        if (synced(lanes))
            fade.render(w + quiet, n - quiet);
        else
            std::fill(w + quiet, w + n, 0.0f);
        break;
    }
    default:
        break;
    }
}

void Crossover::pointBands(int n)
{
    float* quiet[kChannels] = {silence.as<float>(), silence.as<float>()};
    for (int b = 0; b < kBands; ++b) {
        const Lane& lane = lanes[b];
        float** own = lane.splitter && lane.read ? lane.splitter->bandOutput() : quiet;
        float** result = own;
        if (phase == Phase::crossfade && incoming[b].splitter)
            result = mix(b, own, incoming[b].splitter->bandOutput(), n);
        else if (phase == Phase::fadeOut || phase == Phase::fadeIn)
            result = mix(b, nullptr, own, n);
        for (int c = 0; c < kChannels; ++c)
            bandPointers[b][c] = result[c];
    }
}

// (1 - w) from + w to, or w to when there is nothing to fade from.
float** Crossover::mix(int band, const float* const* from, const float* const* to, int n)
{
    const float* w = weights.as<float>();
    for (int c = 0; c < kChannels; ++c) {
        float* out = blended[band][c].as<float>();
        const float* y = to[c];
        if (from == nullptr) {
            for (int i = 0; i < n; ++i)
                out[i] = w[i] * y[i];
        } else {
            const float* x = from[c];
            for (int i = 0; i < n; ++i)
                out[i] = (1.0f - w[i]) * x[i] + w[i] * y[i];
        }
        bandPointers[band][c] = out;
    }
    return bandPointers[band];
}

void Crossover::release(int n)
{
    n = std::max(n, 0);
    for (Lane* set : {lanes, incoming}) {
        for (int b = 0; b < kBands; ++b) {
            if (set[b].splitter && set[b].read)
                set[b].splitter->consume(n);
        }
    }
    switch (phase) {
    case Phase::crossfade:
        if (fade.on())
            finishCrossfade();
        break;
    case Phase::fadeOut:
        if (fade.off())
            switchToGrownDelay(pastFade);
        break;
    case Phase::fadeIn:
        if (silenceLeft == 0 && fade.on())
            endPhase();
        break;
    default:
        break;
    }
}

void Crossover::endPhase()
{
    phase = Phase::steady;
    fade.reset(false);
    ++epoch;
}

void Crossover::finishCrossfade()
{
    for (int b = 0; b < kBands; ++b) {
        if (!incoming[b].splitter)
            continue;
        retire(lanes[b]);
        lanes[b] = std::move(incoming[b]);
        incoming[b] = Lane();
    }
    retire(std::move(design));
    design = std::move(incomingDesign);
    endPhase();
}

// After the fade-out every band moves to its splitter at the grown delay. The
// output stays silent until the stream reaches the frame it stopped at, so
// nothing is repeated; then it fades in.
void Crossover::switchToGrownDelay(int framesPastFade)
{
    for (int b = 0; b < kBands; ++b) {
        retire(lanes[b]);
        lanes[b] = std::move(incoming[b]);
        incoming[b] = Lane();
    }
    retire(std::move(design));
    design = std::move(incomingDesign);
    currentDelay = targetDelay;
    phase = Phase::fadeIn;
    silenceLeft = std::max(0, gapFrames - framesPastFade);
    fade.target(true);
}

void Crossover::retire(Lane& lane)
{
    retired.splitters.retire(std::move(lane.splitter));
    lane = Lane();
}

void Crossover::retire(std::unique_ptr<const CrossoverDesign> old)
{
    retired.designs.retire(std::move(old));
}
