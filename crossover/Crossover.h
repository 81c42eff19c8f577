// The five-band crossover as it runs: one band splitter per band, and the
// changes between designs made while audio plays.
//
// A change never loses or corrupts audio. A new design is prepared away from
// the audio path (design, kernels and primed splitters, see prepare) and
// published by handing over a pointer; the audio thread adopts it at the
// start of a block once the previous change has finished:
//  - Bands whose kernel changed get new splitters, which are first fed the
//    real input history (from a ring of recent input) and caught up a few
//    hops per block; then each such band crossfades from its old splitter to
//    its new one (raised cosine, kFadeSeconds). Both kernels are linear-phase
//    and aligned to the same delay, so the blend is phase-coherent.
//  - The common delay T every band is aligned to only grows while running:
//    a design that needs less keeps the larger T. A design that needs more
//    fades all bands out, switches every band to a new splitter at the new
//    delay, stays silent until the stream continues exactly where it
//    stopped, and fades back in.
//  - restart() (resume, a new sample rate) starts a clean stream at the
//    smallest delay the design needs, without anything from before. Until
//    the first frame after it, the stream is fresh: an update published then
//    is part of the restart (adopted at once, no fade).
// Every fade is a GainRamp. All of this is deterministic: the same calls in
// the same order, at the same block sizes, give bit-identical output.
//
// Threads: nothing here locks. The audio side (process, release) and
// basis/publish/restart/reserveBlock run under the caller's lock; prepare and
// the destruction of what publish hands back run outside it, and the caller
// serialises the design side (basis ... publish) so only one runs at a time.
// The audio side destroys nothing and allocates nothing (see AudioThread.h).
#pragma once

#include "crossover/AudioThread.h"
#include "crossover/BandSplitter.h"
#include "crossover/CrossoverDesign.h"
#include "crossover/GainRamp.h"
#include "crossover/GrowableBuffer.h"
#include "crossover/StereoRing.h"

#include <memory>
#include <vector>

class Crossover
{
public:
    static constexpr int kBands = kBandCount;
    static constexpr int kChannels = 2;
    // Length of a crossfade, and of each fade out and in around a delay change.
    static constexpr double kFadeSeconds = 0.03;
    // Input history kept for new splitters: enough for any design the
    // frequency and slope ranges produce (the longest needs about 150 000).
    static constexpr int kHistoryFrames = 1 << 18;

    // What an update is prepared against; read under the caller's lock.
    struct Basis
    {
        // The design in effect once any change in progress has finished.
        const CrossoverDesign* design = nullptr;
        // The common delay in effect once any change in progress has finished.
        int delay = 0;
        // The delay the latest published update brings (never below `delay`).
        int announcedDelay = 0;
        // A published update that starts a clean stream is still waiting.
        bool restartPending = false;
        // No frame has run since the last restart.
        bool fresh = false;
        // Counts restarts and finished changes: a basis from before either is stale.
        unsigned epoch = 0;

        bool operator==(const Basis& other) const
        {
            return design == other.design && delay == other.delay && announcedDelay == other.announcedDelay &&
                   restartPending == other.restartPending && fresh == other.fresh && epoch == other.epoch;
        }
    };

    // A design and the splitters for its changed bands, ready to publish.
    struct Update
    {
        enum class Kind { crossfade, grow, restart };
        std::unique_ptr<const CrossoverDesign> design;
        std::unique_ptr<BandSplitter> splitters[kBands]; // null: the band keeps its splitter
        Kind kind = Kind::crossfade;
        int delay = 0;
        int fadeFrames = 1;
        ~Update() { AudioThread::assertAway("the audio thread destroys no update"); }
    };

    // What the audio side no longer uses, handed back by publish() to be
    // destroyed outside the lock.
    struct Garbage
    {
        std::vector<std::unique_ptr<BandSplitter>> splitters;
        std::vector<std::unique_ptr<const CrossoverDesign>> designs;
        std::vector<std::unique_ptr<Update>> updates;
        void reserve();
    };

    // Runs the pass-through design at delay 0 until restart() or an update.
    // Allocates the input history.
    Crossover();
    Crossover(const Crossover&) = delete;
    Crossover& operator=(const Crossover&) = delete;

    // --- Design side ---------------------------------------------------

    Basis basis() const;
    // The newest design published, waiting or not: what a new setting is compared with.
    const CrossoverDesign& latestDesign() const;

    // Builds the update that takes the basis to `design`: a clean restart
    // when asked for, when one is still waiting or when the stream is fresh; otherwise a crossfade at
    // the announced delay, or a growth of the delay when the design needs
    // more. Splitters are made for the bands whose kernels differ from the
    // basis design (all bands for growth and restart), sized for blocks of up
    // to maxBlock frames and primed. Allocates; no lock needed.
    // Splitters from `spares` (retired ones, handed back by publish) are
    // reused before new ones are made: their memory is already there.
    static std::unique_ptr<Update> prepare(std::unique_ptr<const CrossoverDesign> design, const Basis& basis,
                                           bool restart, int maxBlock, double sampleRate,
                                           std::vector<std::unique_ptr<BandSplitter>>* spares = nullptr);

    // Publishes the update when the basis it was prepared against still holds
    // (false otherwise: prepare again). A waiting update it replaces, and
    // whatever the audio side has retired, move into `garbage`.
    bool publish(std::unique_ptr<Update>& update, const Basis& assumed, Garbage& garbage);

    // Starts a clean stream: adopts the newest design at once, ends any
    // change, forgets the input history, and aligns every band to
    // max(design's minimum delay, minimumDelay). Returns that delay. Primes
    // the splitters (may allocate); not for the audio thread. What the audio
    // side retired moves into `garbage`.
    int restart(Garbage& garbage, int minimumDelay = 0);
    // The delay the newest published update brings.
    int announcedDelay() const { return announced; }
    bool fresh() const { return untouched; }

    // Sizes the block buffers for blocks of up to maxBlock frames (allocates
    // only when they are smaller). False when memory ran out.
    bool reserveBlock(int maxBlock);

    // --- Audio side ----------------------------------------------------

    // Feeds n frames (null pointers are silence) and points bands[b] at band
    // b's n output frames, valid until release(). False when a band could not
    // produce its frames (memory ran out); then nothing is to be read.
    bool process(const float* const* inputs, int n, float** (&bands)[kBands]);
    // Releases the n frames of the last process() and finishes a change that
    // ended in that block.
    void release(int n);

private:
    // Phases of a change. fadeIn first plays the silence owed after a growth
    // of the delay, then fades in.
    enum class Phase { steady, catchUp, crossfade, fadeOut, fadeIn };

    // One band's splitter. A new one is fed the input history first and
    // drops `discard` frames (run through, not read) before its output
    // lines up with the stream.
    struct Lane
    {
        std::unique_ptr<BandSplitter> splitter;
        int discard = 0;
        int history = 0; // frames of history it was started with
        bool read = false; // its frames of this block are read
    };

    void adopt();
    void startLane(Lane& lane, std::unique_ptr<BandSplitter> splitter);
    void catchUp(Lane& lane, int n);
    bool runLanes(Lane (&set)[kBands], const float* const* inputs, int n);
    static bool synced(const Lane (&set)[kBands]);
    void feedHistory(BandSplitter& splitter, int frames);
    void computeWeights(int n);
    void pointBands(int n);
    float** mix(int band, const float* const* from, const float* const* to, int n);
    void finishCrossfade();
    void endPhase();
    void switchToGrownDelay(int framesPastFade);
    void endChangeAtOnce();
    void applyPendingAtOnce();
    void retire(Lane& lane);
    void retire(std::unique_ptr<const CrossoverDesign> old);
    void handOver(Garbage& garbage);

    std::unique_ptr<const CrossoverDesign> design;
    std::unique_ptr<const CrossoverDesign> incomingDesign;
    Lane lanes[kBands];
    Lane incoming[kBands];
    PendingSlot<Update> pending;
    int currentDelay = 0;
    int targetDelay = 0;
    int announced = 0;
    bool untouched = true;
    unsigned epoch = 0;

    Phase phase = Phase::steady;
    // The crossfade's weight of the new splitters, or the gain of every band
    // around a growth of the delay.
    GainRamp fade;
    int pastFade = 0;    // frames run silent since a fade-out ended
    int gapFrames = 0;   // the growth of the delay under way
    int silenceLeft = 0; // silence still owed before the fade-in

    // The newest kHistoryFrames frames of input.
    StereoRing history;

    // Per block: weights, blended band signals, silence.
    GrowableBuffer weights;
    GrowableBuffer blended[kBands][kChannels];
    GrowableBuffer silence;
    float* bandPointers[kBands][kChannels] = {};
    int blockCapacity = 0;

    struct Retired
    {
        RetiredList<BandSplitter> splitters;
        RetiredList<const CrossoverDesign> designs;
        RetiredList<Update> updates;
    } retired;
};
