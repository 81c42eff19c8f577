// The six instances of the inner maximizer the effect hosts, five bands and a
// master, driven as a VST 2.4 host drives a plug-in: loaded from the effect's
// own folder, created, opened and resumed at construction; run block by
// block; suspended and resumed around changes of rate and block size and at
// every restart; closed at destruction.
//
// Threads: run() and latency() are called by the engine under its lock on the
// audio thread; they never print or allocate. An impossible latency is only
// flagged there; sayProblems() reports it from a thread that may do I/O.
// The other calls are set-up calls, made under the engine's lock where they
// could meet run().
#pragma once

#include "plugin/MultibandEngine.h"
#include "vst/AEffect.h"

#include <atomic>

class InnerInstances : public BandRunner
{
public:
    static constexpr int kCount = MultibandEngine::kInstances;
    static constexpr int kMaster = MultibandEngine::kMaster;

    // Loads the inner maximizer and creates, opens and resumes its six
    // instances; on failure shows one start-up message (under effectName)
    // and the effect works on without them.
    explicit InnerInstances(const char* effectName);
    // Suspends and closes the instances and frees the library.
    ~InnerInstances();
    InnerInstances(const InnerInstances&) = delete;
    InnerInstances& operator=(const InnerInstances&) = delete;

    // Instance `index` (the master is kMaster), or null when missing.
    AEffect* instance(int index) const { return index >= 0 && index < kCount ? instances[index] : nullptr; }

    // A new stream for every instance: suspend and resume, bands first.
    void restart();
    // Suspend, `opcode` with value/opt, resume on every instance, bands first.
    void forward(VstInt32 opcode, VstIntPtr value, float opt);

    bool run(int index, float* const* in, float* const* out, int n) override;
    // What the instance reports, but 0 for a missing instance and for a value
    // that cannot be true (negative, or above 10 s at `sampleRate`).
    int latency(int index) override;
    void setSampleRate(float rate) { sampleRate.store(rate); }

    // Says once on standard error, for each instance, that its latency could
    // not be true. Not for the audio thread.
    void sayProblems();

    // Dispatcher call on an instance with the interface's neutral arguments.
    static VstIntPtr call(AEffect* instance, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                          void* ptr = nullptr, float opt = 0.0f);

private:
    void load();
    bool create(VstPluginMainProc entry);
    static bool usable(const AEffect* instance);

    const char* effectName;
    void* library = nullptr;
    AEffect* instances[kCount] = {};
    std::atomic<float> sampleRate{44100.0f};
    // Per instance: 0 nothing to say, 1 an absurd latency seen, 2 said.
    std::atomic<int> absurdLatency[kCount] = {};
};
