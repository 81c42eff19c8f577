// One effect instance of a loaded plug-in library, started for a given sample
// rate and block size, and closed on destruction.
//
// Construction, parameter access and destruction run under
// PluginLibrary::setupLock(); process() does not lock, so different instances
// may process on different threads, but one instance must be used by one
// thread at a time.
#pragma once

#include "AEffect.h"
#include "PluginLibrary.h"

#include <array>
#include <memory>
#include <string>

class PluginInstance
{
public:
    // Creates the instance and runs the start sequence open, setSampleRate,
    // setBlockSize, resume. Throws HostError if the entry point returns no
    // valid effect record or the effect cannot process replacing.
    PluginInstance(std::shared_ptr<PluginLibrary> library, float sampleRate, int blockSize);
    ~PluginInstance(); // suspend, close
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    std::string effectName() const;
    std::string vendor() const;
    std::string product() const;
    int vendorVersion() const;
    std::string uniqueIdText() const; // four characters, non-printables as '?'

    int numInputs() const { return effect->numInputs; }
    int numOutputs() const { return effect->numOutputs; }
    int flags() const { return effect->flags; }
    int latency() const { return effect->initialDelay; } // re-read: parameters may change it
    int numParams() const { return effect->numParams; }
    float sampleRate() const { return rate; }
    int blockSize() const { return maxBlock; }

    std::string paramName(int index) const;
    std::string paramLabel(int index) const;
    std::string paramDisplay(int index) const;
    float getParameter(int index) const;
    void setParameter(int index, float value);

    // Replacing processing of frames <= blockSize() frames; inputs and outputs
    // hold numInputs() and numOutputs() channel pointers. Effects that only
    // accumulate get zeroed outputs first.
    void process(float** inputs, float** outputs, int frames);

    // The deepest gain reduction of each band and the master in the last
    // block, through the multiband effect's own call; false for any other
    // plug-in (which has no band meters).
    bool gainMeters(std::array<float, 6>& blockDb) const;

    // Has the multiband effect copy each band's signal, as its sum takes it,
    // into channels[2b] and [2b + 1] (up to `frames` frames each) during the
    // process() calls that follow; a null `channels` names none. Returns the
    // frames by which the band signals lead the output (the master's
    // latency), or -1 for any other plug-in (which has no band outputs).
    int tapBands(float* const* channels, int frames);

    const AEffect* record() const { return effect; }

private:
    std::string textOpcode(VstInt32 opcode, VstInt32 index) const;
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) const;

    std::shared_ptr<PluginLibrary> library;
    AEffect* effect = nullptr;
    float rate;
    int maxBlock;

    friend VstIntPtr ORVEX_VSTCALL orvexHostCallback(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float);
};
