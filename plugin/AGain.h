// AGain: the multiband maximizer effect as a VST 2.4 plug-in. It turns the
// host's calls into the multiband engine's (MultibandEngine: crossover, band
// maximizers, band switches, alignment, latency) and the hosted inner
// maximizer's (InnerInstances), presents their parameters as one flat list
// and tells the host when the latency changes.
//
// Threads: processReplacing runs on the host's audio thread; the other calls
// may come from any thread, the audio thread included. None of them waits
// for a crossover design made on another thread (see MultibandEngine).
// Latency: the engine's (T + largest band-instance latency + master
// latency; 6848 before the first sample rate). The record's initialDelay is
// written under the engine's lock with every change, and the host is told
// through ioChanged, outside every lock, once per new value. While running T
// only grows (see Crossover); a resume or a new sample rate is a restart: the
// inner instances are reset too and T returns to the smallest.
#pragma once

#include "plugin/InnerInstances.h"
#include "plugin/MultibandEngine.h"
#include "vst/AudioEffectX.h"

#include <atomic>

class AGain : public AudioEffectX, private LatencyListener
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

    void setSampleRate(float newSampleRate) override;
    // A resume starts a clean stream (a restart): nothing from before the
    // suspend is played, the inner instances are reset, and the latency
    // returns to the smallest the crossover needs.
    void resume() override;
    void suspend() override;
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
    // Answers the gain meter call (GainMeterCall.h) and the band tap call
    // (BandTapCall.h); 0 for anything else.
    VstIntPtr vendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt) override;

private:
    // For a forwarded parameter index (13..48): the instance slot serving it
    // and the parameter's index there.
    static bool forwarded(VstInt32 index, int& slot, VstInt32& inner);
    void getForwardedName(VstInt32 index, char* text);
    // Crossover `index` in Hz as its parameter stands at the current rate.
    float crossoverHz(int index) const;

    // truePeak: the host asks for the output's true peak too (measured from then on).
    VstIntPtr readGainMeters(VstIntPtr size, void* readings, bool truePeak);
    VstIntPtr tapBands(VstIntPtr size, void* taps);

    // Stores the record's latency; under the engine's lock.
    void latencyChanged(int frames) override;
    // Tells the host of a latency it has not been told yet. Any thread, but
    // never while holding a lock: the host may call straight back.
    void announceLatency();
    // What may be said only away from the audio thread, said now.
    void sayProblems() { instances.sayProblems(); }

    InnerInstances instances;
    MultibandEngine engine;
    // The latency the host was last told of.
    std::atomic<int> toldLatency{kInitialDelay};
    std::atomic<float> bandEnable[kNumBands];
    std::atomic<float> crossoverFreq[kNumCrossovers];
    std::atomic<float> slope[kNumCrossovers];
    char programName[kVstMaxProgNameLen + 1] = {};
};
