// AGain: the multiband maximizer effect. It loads the inner single-band
// maximizer from its own folder, hosts six instances of it (five bands and a
// master), splits every block into five linear-phase bands, runs each band
// through its instance, sums the enabled bands and runs the sum through the
// master.
//
// Threads: processReplacing runs on the host's audio thread; parameter,
// sample-rate and block-size calls may come from any other thread. The effect
// lock serialises block processing, the crossover rebuild and teardown; the
// own parameter values are atomics read by processing at its next block.
// Latency: every band leaves the crossover delayed by one common T samples
// (at rest T = the largest hop - 1 + kernel half length - 1 of the five
// bands), so each block is fully available at once and no warm-up blocks
// occur; the band and master instances add D each (the master's
// initialDelay). The record's initialDelay is 6848 until the first crossover
// design (band 1 then carries the input unchanged), then T + 2 D; the host is
// told through ioChanged whenever it changes. While running T only grows (see
// Crossover); a resume or a new sample rate returns it to the smallest.
#pragma once

#include "crossover/Crossover.h"
#include "crossover/GrowableBuffer.h"
#include "plugin/BandAlignment.h"
#include "plugin/BandGate.h"
#include "plugin/Platform.h"
#include "vst/AudioEffectX.h"

#include <array>
#include <atomic>
#include <memory>
#include <vector>

class AGain : public AudioEffectX
{
public:
    static constexpr int kNumBands = 5;
    static constexpr int kNumCrossovers = 4;
    static constexpr int kNumInstances = 6;
    static constexpr int kMasterInstance = 5;
    static constexpr int kNumOwnParams = 13;
    static constexpr int kNumForwardedParams = 6;
    static constexpr int kNumParams = kNumOwnParams + kNumInstances * kNumForwardedParams;
    static constexpr int kInitialDelay = 6848;

    // Loads the inner maximizer and creates, opens and resumes its six
    // instances; on failure shows one start-up message and stays usable
    // without them. Allocates; may throw std::bad_alloc (the entry catches it).
    explicit AGain(audioMasterCallback audioMaster);
    // Suspends and closes the instances under the lock, then frees the library.
    ~AGain() override;

    void setSampleRate(float newSampleRate) override;
    // A resume starts a clean stream: nothing from before the suspend is
    // played, and the latency returns to the smallest the crossover needs.
    void resume() override;
    void setBlockSize(VstInt32 newBlockSize) override;

    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    // Copies the double-precision inputs to the outputs unchanged; no lock.
    void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) override;

    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;

private:
    void loadInnerMaximizer();
    bool createInstances(VstPluginMainProc entry);
    // Dispatcher call on an instance with the interface's neutral arguments.
    static VstIntPtr callInstance(AEffect* instance, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                                  void* ptr = nullptr, float opt = 0.0f);
    // Suspend, `opcode` with value/opt, resume on every instance, bands first;
    // nothing when the master is missing.
    void forwardToInstances(VstInt32 opcode, VstIntPtr value, float opt);
    // Instance serving a forwarded parameter index (13..48), or null.
    AEffect* forwardedInstance(VstInt32 index, VstInt32& innerIndex) const;
    void getForwardedName(VstInt32 index, char* text);
    // Designs the crossover for the current settings away from the audio
    // path and publishes it to the audio thread, which fades over to it
    // (restart: starts a clean stream with it instead). Nothing happens when
    // the settings equal those of the newest design. Holds the effect lock
    // only to read the crossover's state and to publish. Allocates.
    void rebuildCrossovers(bool restart = false);
    // Under designLock: designs, prepares and publishes; stores the crossover
    // delay it brings. False when nothing was published.
    bool publishDesign(bool restart);
    // Keeps splitters the crossover let go of for the next design (designLock held).
    void keepSpares(Crossover::Garbage& garbage, Crossover::Update* unpublished);
    // Stores crossover delay + largest band-instance latency + master latency
    // as the latency and tells the host when it changed. Any thread, but
    // never while holding a lock: the host may call straight back.
    void publishLatency();

    // Inner instances' latencies and the band alignment that follows them;
    // all under the effect lock.
    int instanceLatency(int index);
    bool readInstanceLatencies();
    // True when the latency changed.
    bool followInstanceLatencies(VstInt32 frames);
    static bool usable(const AEffect* instance);
    static bool runInstance(AEffect* instance, float** inputs, float** outputs, VstInt32 frames);

    // One block under the effect lock; true when the latency changed.
    bool processLocked(float** inputs, float** outputs, VstInt32 frames);
    // Audio path pieces, all called under the effect lock.
    bool ensureSumCapacity(VstInt32 frames);
    void mixBands(float** const (&bands)[kNumBands], float** outputs, VstInt32 frames);
    // Sets the band switches' fade length for the rate (under the effect lock).
    void setGateFades(float sampleRate);
    void processSilence(float** outputs, VstInt32 frames, bool sumsReady);
    void releaseBands(VstInt32 frames);
    static void zeroChannels(float** channels, VstInt32 frames);

    Platform::EffectLock effectLock;
    // Serialises crossover designs, resumes and latency reports among the
    // threads that are not the audio thread; never held by processing.
    Platform::EffectLock designLock;
    void* innerLibrary = nullptr;
    Crossover crossover;
    // Retired splitters kept for the next design (under designLock), so a
    // move reuses memory instead of allocating and touching it afresh.
    std::vector<std::unique_ptr<BandSplitter>> spareSplitters;

    // Band paths kept in step after the band instances.
    BandAlignment alignment;
    // The band switches as the sum hears them.
    BandGate gates[kNumBands];
    bool absurdLatencySaid[kNumInstances] = {};
    // The latency's parts, and the latency last reported.
    std::atomic<int> crossoverDelay{0};
    std::atomic<int> instanceLatencyTotal{0};
    std::atomic<int> reportedLatency{kInitialDelay};
    GrowableBuffer sumLeft;
    GrowableBuffer sumRight;
    AEffect* instances[kNumInstances] = {};
    std::atomic<float> bandEnable[kNumBands];
    std::atomic<float> crossoverFreq[kNumCrossovers];
    std::atomic<float> slope[kNumCrossovers];
    char programName[kVstMaxProgNameLen + 1] = {};
};
