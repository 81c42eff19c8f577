// A small effect and a recording host callback, used to drive the effect base
// through its record as a host would.
#pragma once

#include "vst/AEffEditor.h"
#include "vst/AudioEffectX.h"

#include <map>
#include <vector>

// One request the effect sent to the host.
struct HostCall
{
    AEffect* effect;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

// The host: records every request and answers from a per-opcode table (0 when absent).
struct RecordingHost
{
    static std::vector<HostCall>& calls()
    {
        static std::vector<HostCall> list;
        return list;
    }
    static std::map<VstInt32, VstIntPtr>& answers()
    {
        static std::map<VstInt32, VstIntPtr> table;
        return table;
    }
    static void reset()
    {
        calls().clear();
        answers().clear();
    }
    static VstIntPtr ORVEX_VSTCALL callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                            void* ptr, float opt)
    {
        calls().push_back({effect, opcode, index, value, ptr, opt});
        const auto found = answers().find(opcode);
        return found == answers().end() ? 0 : found->second;
    }
};

// What the test effect saw, kept outside the object so it survives destruction.
struct EffectLog
{
    int opens = 0;
    int closes = 0;
    int suspends = 0;
    int resumes = 0;
    int destructions = 0;
    int processCalls = 0;
    int replacingCalls = 0;
    int doubleReplacingCalls = 0;
    std::vector<std::pair<VstInt32, float>> parameterSets;
};

class TestEffect : public AudioEffectX
{
public:
    static constexpr VstInt32 kNumParams = 49;

    TestEffect(audioMasterCallback host, EffectLog& log) : AudioEffectX(host, 1, kNumParams), log(log)
    {
        setNumInputs(2);
        setNumOutputs(2);
        canProcessReplacing();
        setUniqueID(fourCharCode('m', 'Q', 'V', 'M'));
        setInitialDelay(6848);
    }
    ~TestEffect() override { ++log.destructions; }

    void open() override { ++log.opens; }
    void close() override { ++log.closes; }
    void suspend() override { ++log.suspends; }

    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override
    {
        ++log.replacingCalls;
        for (int channel = 0; channel < 2; ++channel)
            for (VstInt32 i = 0; i < sampleFrames; ++i)
                outputs[channel][i] = 2.0f * inputs[channel][i];
    }
    void processDoubleReplacing(double**, double**, VstInt32) override { ++log.doubleReplacingCalls; }
    void setParameter(VstInt32 index, float value) override { log.parameterSets.emplace_back(index, value); }
    float getParameter(VstInt32 index) override { return 0.25f * static_cast<float>(index); }

    VstInt32 canDo(char* text) override { return canDoAnswer == 0 || text == nullptr ? 0 : canDoAnswer; }

    // Access for the tests to state the base keeps protected.
    void attachEditor(AEffEditor* newEditor) { editor = newEditor; }
    VstInt32 programCount() const { return numPrograms; }
    audioMasterCallback host() const { return audioMaster; }
    VstInt32 currentProgram() const { return curProgram; }

    // Counts resume calls, then runs the base's resume (which may send wantEvents).
    void resume() override
    {
        ++log.resumes;
        AudioEffectX::resume();
    }

    VstInt32 canDoAnswer = 0;

private:
    EffectLog& log;
};

// An editor that records what the dispatcher asked of it.
class TestEditor : public AEffEditor
{
public:
    explicit TestEditor(int& destructions) : destructions(destructions) {}
    ~TestEditor() override { ++destructions; }

    bool getRect(ERect** place) override
    {
        if (place != nullptr)
            *place = &rect;
        return true;
    }
    bool open(void* parent) override
    {
        openedWith = parent;
        return true;
    }
    void close() override { ++closes; }
    void idle() override { ++idles; }
    bool onKeyDown(VstKeyCode& keyCode) override
    {
        lastKey = keyCode;
        return true;
    }
    bool onKeyUp(VstKeyCode& keyCode) override
    {
        lastKey = keyCode;
        return false;
    }
    bool setKnobMode(VstInt32 mode) override
    {
        knobMode = mode;
        return true;
    }

    ERect rect{1, 2, 3, 4};
    void* openedWith = nullptr;
    int closes = 0;
    int idles = 0;
    VstKeyCode lastKey{};
    VstInt32 knobMode = -1;

private:
    int& destructions;
};
