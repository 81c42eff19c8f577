// AudioEffect: owns the VST 2.4 effect record handed to the host, fills it at
// construction and turns the record's entry points and the dispatcher opcodes
// below 25 into virtual operations, each with a default answer.
//
// The record is embedded in the object and its `object` field points back at
// it; effClose through the record's dispatcher entry deletes the object.
// The base holds no lock and starts no thread: every operation runs on the
// thread the host calls from, and exclusion between processing and parameter
// changes is the derived effect's business. Host-facing operations never throw.
#pragma once

#include <atomic>

#include "AEffect.h"

class AEffEditor;

class AudioEffect
{
public:
    // Fills the record: magic, the six entry points, the counts, 1 input,
    // 2 outputs, effFlagsCanReplacing, ioRatio 1, unique ID 'NoEf', version 1.
    // `audioMaster` may be null; every host wrapper then answers its default.
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    // Deletes the editor, if any.
    virtual ~AudioEffect();

    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // Opcodes 0..24; everything else answers 0. Text buffers are passed on unbounded:
    // the operation that writes decides how much it writes.
    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}

    virtual void setSampleRate(float newSampleRate);
    virtual void setBlockSize(VstInt32 newBlockSize);

    // Overwrites the outputs with sampleFrames frames; every effect provides it.
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    virtual void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames);

    virtual void setParameter(VstInt32 index, float value);
    virtual float getParameter(VstInt32 index);
    // Calls setParameter, then tells the host (audioMasterAutomate) when there is one.
    virtual void setParameterAutomated(VstInt32 index, float value);

    virtual VstInt32 getProgram();
    virtual void setProgram(VstInt32 program);
    virtual void setProgramName(char* name);
    virtual void getProgramName(char* name);
    virtual void getParameterLabel(VstInt32 index, char* label);
    virtual void getParameterDisplay(VstInt32 index, char* text);
    virtual void getParameterName(VstInt32 index, char* text);

    virtual VstInt32 getChunk(void** data, bool isPreset = false);
    virtual VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset = false);

    virtual void setUniqueID(VstInt32 uniqueID);
    virtual void setNumInputs(VstInt32 inputs);
    virtual void setNumOutputs(VstInt32 outputs);
    virtual void canProcessReplacing(bool state = true);
    virtual void canDoubleReplacing(bool state = true);
    virtual void programsAreChunks(bool state = true);
    // Stores the record's initialDelay; the host learns of a change only through ioChanged.
    virtual void setInitialDelay(VstInt32 delay);

    virtual AEffEditor* getEditor();
    virtual AEffect* getAeffect();
    virtual float getSampleRate();
    virtual VstInt32 getBlockSize();

    // Host wrappers (audioMasterVersion, audioMasterCurrentId, audioMasterIdle).
    virtual VstInt32 getMasterVersion();
    virtual VstInt32 getCurrentUniqueId();
    virtual void masterIdle();

    // Number-to-text conversions. `text` holds maxLen + 1 bytes: at most maxLen
    // characters are written, the rest of the first maxLen bytes is zero-filled
    // and text[maxLen] is 0. A null text or a negative maxLen writes nothing.
    virtual void dB2string(float value, char* text, VstInt32 maxLen);
    virtual void Hz2string(float samples, char* text, VstInt32 maxLen);
    virtual void ms2string(float samples, char* text, VstInt32 maxLen);
    virtual void float2string(float value, char* text, VstInt32 maxLen);
    virtual void int2string(VstInt32 value, char* text, VstInt32 maxLen);

    // Legacy operations.
    virtual void process(float** inputs, float** outputs, VstInt32 sampleFrames);
    virtual float getVu();
    virtual void hasVu(bool state = true);
    virtual void hasClip(bool state = true);
    virtual void canMono(bool state = true);
    virtual void setRealtimeQualities(VstInt32 qualities);
    virtual void setOfflineQualities(VstInt32 qualities);
    virtual bool isInputConnected(VstInt32 input);
    virtual bool isOutputConnected(VstInt32 output);

protected:
    // Sends one request to the host; answers 0 without a host callback.
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);
    // Sets `flag` in the record's flags for true, clears it for false.
    void setFlag(VstInt32 flag, bool state);

    audioMasterCallback audioMaster;
    AEffEditor* editor;
    // Written by the host's set-up calls, read by any thread.
    std::atomic<float> sampleRate;
    std::atomic<VstInt32> blockSize;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 curProgram;
    AEffect cEffect;
};
