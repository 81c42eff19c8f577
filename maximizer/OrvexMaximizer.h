// The maximizer plug-in: a stereo brickwall lookahead limiter (Limiter) behind
// the VST 2.4 effect base. Two inputs, two outputs, six parameters, no editor.
//
// Threads: parameter values and the sample rate are written by host threads
// into atomics; the audio thread picks them up at the start of each block and
// derives its coefficients there, so processing takes no lock. Suspend and
// resume likewise ask the audio thread to clear the limiter's state before the
// next block.
// Latency: Limiter::kLatency samples, in the record's initialDelay from
// construction on, the same at every sample rate and setting.
#pragma once

#include "Limiter.h"
#include "vst/AudioEffectX.h"

#include <array>
#include <atomic>

class OrvexMaximizer : public AudioEffectX
{
public:
    enum Parameter : VstInt32
    {
        kThreshold,
        kCeiling,
        kRelease,
        kLink,
        kTruePeak,
        kAutoRelease,
        kNumParameters
    };
    static constexpr VstInt32 kUniqueId = fourCharCode('O', 'r', 'v', 'M');

    explicit OrvexMaximizer(audioMasterCallback host);

    // Normalised parameter values (0 to 1) to limiter settings and back.
    static LimiterSettings settingsFor(const std::array<float, kNumParameters>& values);
    static std::array<float, kNumParameters> defaultValues();

    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    // Legacy accumulating entry: adds the result to the outputs.
    void process(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // Indices outside 0..5 are ignored: nothing is stored, 0 is answered and
    // text buffers are left untouched.
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void getParameterName(VstInt32 index, char* text) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;

    void setSampleRate(float newSampleRate) override;
    void suspend() override;
    void resume() override;

    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;
    VstPlugCategory getPlugCategory() override;

private:
    void run(float** inputs, float** outputs, VstInt32 sampleFrames, bool accumulate);
    // Audio thread: takes over parameter, sample-rate and reset requests.
    void applyPendingChanges();

    std::array<std::atomic<float>, kNumParameters> values;
    std::atomic<float> pendingSampleRate;
    std::atomic<bool> resetPending{false};

    // Owned by the audio thread.
    std::array<float, kNumParameters> appliedValues;
    float appliedSampleRate;
    Limiter limiter;

    char programName[kVstMaxProgNameLen + 1] = "Default";
};
