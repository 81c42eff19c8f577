// Lv2Effect: one LV2 instance of one of our VST 2.4 effects. It creates the
// effect through the effect's own entry with a small host callback, turns
// control port values into normalised parameter values (only when a port's
// value changed since the last run), runs the audio through processReplacing
// in chunks of at most kMaxChunk frames and copies the record's initialDelay
// into the latency port after every run, so the port follows latency changes
// the effect makes while running.
//
// Threads follow the LV2 classes: the constructor, activate, deactivate and
// the destructor never run concurrently with run(); connectPort and run come
// from the audio thread. run() allocates nothing. For a plug-in whose control
// changes do heavy work (a crossover design) run() hands the changes to a
// scheduler, the host's worker, when there is one, and the worker thread
// applies them (applyScheduled) while the audio runs on; without one they are
// applied in run().
#pragma once

#include "lv2/PluginDescription.h"
#include "vst/AEffect.h"

#include <cstdint>
#include <vector>

class Lv2Effect
{
public:
    // Largest block handed to the effect; the effect is told this block size.
    static constexpr std::uint32_t kMaxChunk = 2048;

    // Creates and opens the effect and sets the sample rate and block size.
    // Allocates; isOpen() is false when the entry returned no effect.
    Lv2Effect(const PluginDescription& plugin, VstPluginMainProc entry, double sampleRate);
    // Switches the effect off if needed and closes it (which deletes it).
    ~Lv2Effect();
    Lv2Effect(const Lv2Effect&) = delete;
    Lv2Effect& operator=(const Lv2Effect&) = delete;

    bool isOpen() const { return effect != nullptr; }

    // Port numbers outside the description are ignored.
    void connectPort(std::uint32_t port, void* data);
    // Applies the connected controls, then resets and switches the effect on
    // (resume): a new stream starts with them, without fading from defaults.
    void activate();
    void deactivate();
    // Any frame count, including 0 (which applies controls and reports the
    // latency only). The host may use one buffer for an input and an output.
    void run(std::uint32_t frames);

    // One control change for the worker: a parameter and its normalised value.
    struct ControlChange
    {
        VstInt32 index;
        float value;
    };
    // Hands a change to the worker; false when it could not take it (the
    // change is then offered again at the next run).
    using Scheduler = bool (*)(void* context, const ControlChange& change);
    // Used only for plug-ins whose description asks for it; set before run().
    void setScheduler(Scheduler scheduler, void* context);
    // Called on the worker thread with a change handed over by run().
    void applyScheduled(const ControlChange& change);

private:
    static VstIntPtr ORVEX_VSTCALL hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                                void* ptr, float opt);
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, float opt = 0.0f);
    // Hands changed control values to the effect; through the scheduler when
    // `mayDefer` and there is one.
    void applyControls(bool mayDefer);
    void processChunk(std::uint32_t offset, std::uint32_t frames);

    const PluginDescription& plugin;
    float sampleRate;
    AEffect* effect = nullptr;
    bool active = false;
    bool running = false; // run() was called since activate()

    Scheduler scheduler = nullptr;
    void* schedulerContext = nullptr;

    std::vector<const float*> controlInputs;
    // Port value last handed to the effect; NaN until the first run.
    std::vector<float> appliedValues;
    const float* audioInputs[2] = {};
    float* audioOutputs[2] = {};
    float* latencyOutput = nullptr;

    // Inputs are copied here first: the host may run in place, and the effect
    // expects separate input and output buffers. Unconnected outputs land in
    // the discard buffers.
    std::vector<float> inputCopies[2];
    std::vector<float> discard[2];
};
