#include "AudioEffect.h"

#include "AEffEditor.h"
#include "TextConversion.h"

#include <cmath>
#include <cstring>

namespace
{

constexpr VstInt32 kNoEffectId = fourCharCode('N', 'o', 'E', 'f');
constexpr VstInt32 kIdentifyAnswer = fourCharCode('N', 'v', 'E', 'f');

AudioEffect* effectOf(AEffect* effect)
{
    return effect == nullptr ? nullptr : static_cast<AudioEffect*>(effect->object);
}

// The record's entry points: each reaches the object through `object`.
VstIntPtr ORVEX_VSTCALL dispatchEntry(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                      void* ptr, float opt)
{
    AudioEffect* object = effectOf(effect);
    if (object == nullptr)
        return 0;
    if (opcode != effClose)
        return object->dispatcher(opcode, index, value, ptr, opt);
    // The record is part of the object, so it is gone after this.
    object->dispatcher(opcode, index, value, ptr, opt);
    delete object;
    return 1;
}

void ORVEX_VSTCALL processEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (AudioEffect* object = effectOf(effect))
        object->process(inputs, outputs, sampleFrames);
}

void ORVEX_VSTCALL processReplacingEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (AudioEffect* object = effectOf(effect))
        object->processReplacing(inputs, outputs, sampleFrames);
}

void ORVEX_VSTCALL processDoubleReplacingEntry(AEffect* effect, double** inputs, double** outputs,
                                               VstInt32 sampleFrames)
{
    if (AudioEffect* object = effectOf(effect))
        object->processDoubleReplacing(inputs, outputs, sampleFrames);
}

void ORVEX_VSTCALL setParameterEntry(AEffect* effect, VstInt32 index, float value)
{
    if (AudioEffect* object = effectOf(effect))
        object->setParameter(index, value);
}

float ORVEX_VSTCALL getParameterEntry(AEffect* effect, VstInt32 index)
{
    AudioEffect* object = effectOf(effect);
    return object == nullptr ? 0.0f : object->getParameter(index);
}

} // namespace

AudioEffect::AudioEffect(audioMasterCallback audioMasterCallback, VstInt32 programs, VstInt32 params)
    : audioMaster(audioMasterCallback), editor(nullptr), sampleRate(44100.0f), blockSize(1024),
      numPrograms(programs), numParams(params), curProgram(0)
{
    std::memset(&cEffect, 0, sizeof cEffect);
    setFlag(effFlagsCanReplacing, true);
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEntry;
    cEffect.process = processEntry;
    cEffect.setParameter = setParameterEntry;
    cEffect.getParameter = getParameterEntry;
    cEffect.numPrograms = programs;
    cEffect.numParams = params;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = kNoEffectId;
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingEntry;
    cEffect.processDoubleReplacing = processDoubleReplacingEntry;
}

AudioEffect::~AudioEffect()
{
    delete editor;
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
    case effOpen: open(); break;
    case effClose: close(); break;
    case effSetProgram:
        // A negative program would index past the effect's program names.
        if (value >= 0 && value < numPrograms)
            setProgram(static_cast<VstInt32>(value));
        break;
    case effGetProgram: return getProgram();
    case effSetProgramName: setProgramName(text); break;
    case effGetProgramName: getProgramName(text); break;
    case effGetParamLabel: getParameterLabel(index, text); break;
    case effGetParamDisplay: getParameterDisplay(index, text); break;
    case effGetParamName: getParameterName(index, text); break;
    case effSetSampleRate: setSampleRate(opt); break;
    case effSetBlockSize: setBlockSize(static_cast<VstInt32>(value)); break;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        break;
    case effEditGetRect:
        return editor != nullptr && editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen: return editor != nullptr && editor->open(ptr) ? 1 : 0;
    case effEditClose:
        if (editor != nullptr)
            editor->close();
        break;
    case effEditIdle:
        if (editor != nullptr)
            editor->idle();
        break;
    case effIdentify: return kIdentifyAnswer;
    case effGetChunk: return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk: return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default: break;
    }
    return 0;
}

void AudioEffect::setSampleRate(float newSampleRate)
{
    sampleRate = newSampleRate;
}

void AudioEffect::setBlockSize(VstInt32 newBlockSize)
{
    blockSize = newBlockSize;
}

void AudioEffect::processDoubleReplacing(double**, double**, VstInt32) {}

void AudioEffect::setParameter(VstInt32, float) {}

float AudioEffect::getParameter(VstInt32)
{
    return 0.0f;
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value)
{
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

VstInt32 AudioEffect::getProgram()
{
    return curProgram;
}

void AudioEffect::setProgram(VstInt32 program)
{
    curProgram = program;
}

void AudioEffect::setProgramName(char*) {}

void AudioEffect::getProgramName(char* name)
{
    if (name != nullptr)
        name[0] = '\0';
}

void AudioEffect::getParameterLabel(VstInt32, char* label)
{
    if (label != nullptr)
        label[0] = '\0';
}

void AudioEffect::getParameterDisplay(VstInt32, char* text)
{
    if (text != nullptr)
        text[0] = '\0';
}

void AudioEffect::getParameterName(VstInt32, char* text)
{
    if (text != nullptr)
        text[0] = '\0';
}

VstInt32 AudioEffect::getChunk(void**, bool)
{
    return 0;
}

VstInt32 AudioEffect::setChunk(void*, VstInt32, bool)
{
    return 0;
}

void AudioEffect::setUniqueID(VstInt32 uniqueID)
{
    cEffect.uniqueID = uniqueID;
}

void AudioEffect::setNumInputs(VstInt32 inputs)
{
    cEffect.numInputs = inputs;
}

void AudioEffect::setNumOutputs(VstInt32 outputs)
{
    cEffect.numOutputs = outputs;
}

void AudioEffect::canProcessReplacing(bool state)
{
    setFlag(effFlagsCanReplacing, state);
}

void AudioEffect::canDoubleReplacing(bool state)
{
    setFlag(effFlagsCanDoubleReplacing, state);
}

void AudioEffect::programsAreChunks(bool state)
{
    setFlag(effFlagsProgramChunks, state);
}

void AudioEffect::setInitialDelay(VstInt32 delay)
{
    storeInitialDelay(&cEffect, delay);
}

AEffEditor* AudioEffect::getEditor()
{
    return editor;
}

AEffect* AudioEffect::getAeffect()
{
    return &cEffect;
}

float AudioEffect::getSampleRate()
{
    return sampleRate;
}

VstInt32 AudioEffect::getBlockSize()
{
    return blockSize;
}

VstInt32 AudioEffect::getMasterVersion()
{
    // Hosts that answer 0 predate the version request: they speak version 1.
    const VstIntPtr version = callHost(audioMasterVersion);
    return version == 0 ? 1 : static_cast<VstInt32>(version);
}

VstInt32 AudioEffect::getCurrentUniqueId()
{
    return static_cast<VstInt32>(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle()
{
    callHost(audioMasterIdle);
}

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen)
{
    if (value <= 0.0f) {
        copyText(text, "-oo", maxLen);
        return;
    }
    float2string(static_cast<float>(20.0 * std::log10(static_cast<double>(value))), text, maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, VstInt32 maxLen)
{
    const float rate = getSampleRate();
    float2string(samples == 0.0f ? 0.0f : rate / samples, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, VstInt32 maxLen)
{
    const double rate = getSampleRate();
    float2string(static_cast<float>(samples * 1000.0 / rate), text, maxLen);
}

void AudioEffect::float2string(float value, char* text, VstInt32 maxLen)
{
    floatToText(value, text, maxLen);
}

void AudioEffect::int2string(VstInt32 value, char* text, VstInt32 maxLen)
{
    intToText(value, text, maxLen);
}

void AudioEffect::process(float**, float**, VstInt32) {}

float AudioEffect::getVu()
{
    return 0.0f;
}

void AudioEffect::hasVu(bool state)
{
    setFlag(effFlagsHasVu, state);
}

void AudioEffect::hasClip(bool state)
{
    setFlag(effFlagsHasClip, state);
}

void AudioEffect::canMono(bool state)
{
    setFlag(effFlagsCanMono, state);
}

void AudioEffect::setRealtimeQualities(VstInt32 qualities)
{
    cEffect.realQualities = qualities;
}

void AudioEffect::setOfflineQualities(VstInt32 qualities)
{
    cEffect.offQualities = qualities;
}

// The host answers 0 for a connected pin.
bool AudioEffect::isInputConnected(VstInt32 input)
{
    return callHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(VstInt32 output)
{
    return callHost(audioMasterPinConnected, output, 1) == 0;
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    if (audioMaster == nullptr)
        return 0;
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

void AudioEffect::setFlag(VstInt32 flag, bool state)
{
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}
