#include "AudioEffectX.h"

#include "AEffEditor.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{

VstIntPtr answer(bool result)
{
    return result ? 1 : 0;
}

// Low byte of the host's float modifier, truncated; 0 for values no integer holds.
unsigned char modifierByte(float opt)
{
    if (!(opt > -2147483648.0f && opt < 2147483648.0f))
        return 0;
    return static_cast<unsigned char>(static_cast<VstInt32>(opt) & 0xFF);
}

VstKeyCode keyCodeOf(VstInt32 index, VstIntPtr value, float opt)
{
    VstKeyCode keyCode{};
    keyCode.character = index;
    keyCode.virt = static_cast<unsigned char>(value & 0xFF);
    keyCode.modifier = modifierByte(opt);
    return keyCode;
}

template <typename T>
T* pointerFrom(VstIntPtr value)
{
    return reinterpret_cast<T*>(value);
}

} // namespace

AudioEffectX::AudioEffectX(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : AudioEffect(audioMaster, numPrograms, numParams)
{
}

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    char* text = static_cast<char*>(ptr);
    const VstInt32 value32 = static_cast<VstInt32>(value);
    switch (opcode) {
    case effProcessEvents: return processEvents(static_cast<VstEvents*>(ptr));
    case effCanBeAutomated: return answer(canParameterBeAutomated(index));
    case effString2Parameter: return answer(string2parameter(index, text));
    case effGetProgramNameIndexed: return answer(getProgramNameIndexed(value32, index, text));
    case effGetInputProperties: return answer(getInputProperties(index, static_cast<VstPinProperties*>(ptr)));
    case effGetOutputProperties: return answer(getOutputProperties(index, static_cast<VstPinProperties*>(ptr)));
    case effGetPlugCategory: return getPlugCategory();
    case effOfflineNotify: return answer(offlineNotify(static_cast<VstAudioFile*>(ptr), value32, index != 0));
    case effOfflinePrepare: return answer(offlinePrepare(static_cast<VstOfflineTask*>(ptr), value32));
    case effOfflineRun: return answer(offlineRun(static_cast<VstOfflineTask*>(ptr), value32));
    case effProcessVarIo: return answer(processVariableIo(static_cast<VstVariableIo*>(ptr)));
    case effSetSpeakerArrangement:
        return answer(setSpeakerArrangement(pointerFrom<VstSpeakerArrangement>(value),
                                            static_cast<VstSpeakerArrangement*>(ptr)));
    case effSetBypass: return answer(setBypass(value != 0));
    case effGetEffectName: return answer(getEffectName(text));
    case effGetVendorString: return answer(getVendorString(text));
    case effGetProductString: return answer(getProductString(text));
    case effGetVendorVersion: return getVendorVersion();
    case effVendorSpecific: return vendorSpecific(index, value, ptr, opt);
    case effCanDo: return canDo(text);
    case effGetTailSize: return getGetTailSize();
    case effGetParameterProperties:
        return answer(getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)));
    case effGetVstVersion: return getVstVersion();
    default: return dispatchRest(opcode, index, value, ptr, opt);
    }
}

// Opcodes 59..79 (editor keys, MIDI programs, speakers, process control), then the base.
VstIntPtr AudioEffectX::dispatchRest(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    const VstInt32 value32 = static_cast<VstInt32>(value);
    switch (opcode) {
    case effEditKeyDown:
    case effEditKeyUp: {
        if (editor == nullptr)
            return 0;
        VstKeyCode keyCode = keyCodeOf(index, value, opt);
        return answer(opcode == effEditKeyDown ? editor->onKeyDown(keyCode) : editor->onKeyUp(keyCode));
    }
    case effSetEditKnobMode: return editor == nullptr ? 0 : answer(editor->setKnobMode(value32));
    case effGetMidiProgramName: return getMidiProgramName(index, static_cast<MidiProgramName*>(ptr));
    case effGetCurrentMidiProgram: return getCurrentMidiProgram(index, static_cast<MidiProgramName*>(ptr));
    case effGetMidiProgramCategory: return getMidiProgramCategory(index, static_cast<MidiProgramCategory*>(ptr));
    case effHasMidiProgramsChanged: return answer(hasMidiProgramsChanged(index));
    case effGetMidiKeyName: return answer(getMidiKeyName(index, static_cast<MidiKeyName*>(ptr)));
    case effBeginSetProgram: return answer(beginSetProgram());
    case effEndSetProgram: return answer(endSetProgram());
    case effGetSpeakerArrangement:
        return answer(getSpeakerArrangement(pointerFrom<VstSpeakerArrangement*>(value),
                                            static_cast<VstSpeakerArrangement**>(ptr)));
    case effShellGetNextPlugin: return getNextShellPlugin(static_cast<char*>(ptr));
    case effStartProcess: return startProcess();
    case effStopProcess: return stopProcess();
    case effSetTotalSampleToProcess: return setTotalSampleToProcess(value32);
    case effSetPanLaw: return answer(setPanLaw(value32, opt));
    case effBeginLoadBank: return beginLoadBank(static_cast<VstPatchChunkInfo*>(ptr));
    case effBeginLoadProgram: return beginLoadProgram(static_cast<VstPatchChunkInfo*>(ptr));
    case effSetProcessPrecision: return answer(setProcessPrecision(value32));
    case effGetNumMidiInputChannels: return getNumMidiInputChannels();
    case effGetNumMidiOutputChannels: return getNumMidiOutputChannels();
    default: return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

void AudioEffectX::resume()
{
    char receiveMidi[] = "receiveVstMidiEvent";
    if ((cEffect.flags & effFlagsIsSynth) != 0 || canDo(receiveMidi) == 1)
        wantEvents(1);
}

bool AudioEffectX::canParameterBeAutomated(VstInt32)
{
    return true;
}

bool AudioEffectX::string2parameter(VstInt32, char*)
{
    return false;
}

bool AudioEffectX::getParameterProperties(VstInt32, VstParameterProperties*)
{
    return false;
}

bool AudioEffectX::beginEdit(VstInt32 index)
{
    return callHost(audioMasterBeginEdit, index) != 0;
}

bool AudioEffectX::endEdit(VstInt32 index)
{
    return callHost(audioMasterEndEdit, index) != 0;
}

bool AudioEffectX::getProgramNameIndexed(VstInt32, VstInt32, char*)
{
    return false;
}

bool AudioEffectX::beginSetProgram()
{
    return false;
}

bool AudioEffectX::endSetProgram()
{
    return false;
}

VstInt32 AudioEffectX::beginLoadBank(VstPatchChunkInfo*)
{
    return 0;
}

VstInt32 AudioEffectX::beginLoadProgram(VstPatchChunkInfo*)
{
    return 0;
}

bool AudioEffectX::ioChanged()
{
    return callHost(audioMasterIOChanged) != 0;
}

double AudioEffectX::updateSampleRate()
{
    const VstIntPtr rate = callHost(audioMasterGetSampleRate);
    if (rate > 0)
        sampleRate = static_cast<float>(rate);
    return sampleRate;
}

VstInt32 AudioEffectX::updateBlockSize()
{
    // An answer no int32 holds is as unusable as a non-positive one.
    const VstIntPtr size = callHost(audioMasterGetBlockSize);
    if (size > 0 && size <= INT32_MAX)
        blockSize = static_cast<VstInt32>(size);
    return blockSize;
}

VstInt32 AudioEffectX::getInputLatency()
{
    return static_cast<VstInt32>(callHost(audioMasterGetInputLatency));
}

VstInt32 AudioEffectX::getOutputLatency()
{
    return static_cast<VstInt32>(callHost(audioMasterGetOutputLatency));
}

bool AudioEffectX::getInputProperties(VstInt32, VstPinProperties*)
{
    return false;
}

bool AudioEffectX::getOutputProperties(VstInt32, VstPinProperties*)
{
    return false;
}

bool AudioEffectX::setSpeakerArrangement(VstSpeakerArrangement*, VstSpeakerArrangement*)
{
    return false;
}

bool AudioEffectX::getSpeakerArrangement(VstSpeakerArrangement** pluginInput, VstSpeakerArrangement** pluginOutput)
{
    if (pluginInput != nullptr)
        *pluginInput = nullptr;
    if (pluginOutput != nullptr)
        *pluginOutput = nullptr;
    return false;
}

bool AudioEffectX::setBypass(bool)
{
    return false;
}

bool AudioEffectX::setPanLaw(VstInt32, float)
{
    return false;
}

bool AudioEffectX::setProcessPrecision(VstInt32)
{
    return false;
}

VstInt32 AudioEffectX::getNumMidiInputChannels()
{
    return 0;
}

VstInt32 AudioEffectX::getNumMidiOutputChannels()
{
    return 0;
}

VstTimeInfo* AudioEffectX::getTimeInfo(VstInt32 filter)
{
    return pointerFrom<VstTimeInfo>(callHost(audioMasterGetTime, 0, filter));
}

VstInt32 AudioEffectX::getCurrentProcessLevel()
{
    return static_cast<VstInt32>(callHost(audioMasterGetCurrentProcessLevel));
}

VstInt32 AudioEffectX::getAutomationState()
{
    return static_cast<VstInt32>(callHost(audioMasterGetAutomationState));
}

VstInt32 AudioEffectX::processEvents(VstEvents*)
{
    return 0;
}

VstInt32 AudioEffectX::startProcess()
{
    return 0;
}

VstInt32 AudioEffectX::stopProcess()
{
    return 0;
}

bool AudioEffectX::processVariableIo(VstVariableIo*)
{
    return false;
}

VstInt32 AudioEffectX::setTotalSampleToProcess(VstInt32 value)
{
    return value;
}

bool AudioEffectX::getHostVendorString(char* text)
{
    return callHost(audioMasterGetVendorString, 0, 0, text) != 0;
}

bool AudioEffectX::getHostProductString(char* text)
{
    return callHost(audioMasterGetProductString, 0, 0, text) != 0;
}

VstInt32 AudioEffectX::getHostVendorVersion()
{
    return static_cast<VstInt32>(callHost(audioMasterGetVendorVersion));
}

VstIntPtr AudioEffectX::hostVendorSpecific(VstInt32 arg1, VstIntPtr arg2, void* ptrArg, float floatArg)
{
    return callHost(audioMasterVendorSpecific, arg1, arg2, ptrArg, floatArg);
}

VstInt32 AudioEffectX::canHostDo(char* text)
{
    return callHost(audioMasterCanDo, 0, 0, text) != 0 ? 1 : 0;
}

VstInt32 AudioEffectX::getHostLanguage()
{
    return static_cast<VstInt32>(callHost(audioMasterGetLanguage));
}

void AudioEffectX::isSynth(bool state)
{
    setFlag(effFlagsIsSynth, state);
}

void AudioEffectX::noTail(bool state)
{
    setFlag(effFlagsNoSoundInStop, state);
}

VstInt32 AudioEffectX::getGetTailSize()
{
    return 0;
}

void* AudioEffectX::getDirectory()
{
    return pointerFrom<void>(callHost(audioMasterGetDirectory));
}

bool AudioEffectX::getEffectName(char*)
{
    return false;
}

bool AudioEffectX::getVendorString(char*)
{
    return false;
}

bool AudioEffectX::getProductString(char*)
{
    return false;
}

VstInt32 AudioEffectX::getVendorVersion()
{
    return 0;
}

VstIntPtr AudioEffectX::vendorSpecific(VstInt32, VstIntPtr, void*, float)
{
    return 0;
}

VstInt32 AudioEffectX::canDo(char*)
{
    return 0;
}

VstInt32 AudioEffectX::getVstVersion()
{
    return kVstVersion;
}

VstPlugCategory AudioEffectX::getPlugCategory()
{
    return (cEffect.flags & effFlagsIsSynth) != 0 ? kPlugCategSynth : kPlugCategUnknown;
}

VstInt32 AudioEffectX::getMidiProgramName(VstInt32, MidiProgramName*)
{
    return 0;
}

VstInt32 AudioEffectX::getCurrentMidiProgram(VstInt32, MidiProgramName*)
{
    return -1;
}

VstInt32 AudioEffectX::getMidiProgramCategory(VstInt32, MidiProgramCategory*)
{
    return 0;
}

bool AudioEffectX::hasMidiProgramsChanged(VstInt32)
{
    return false;
}

bool AudioEffectX::getMidiKeyName(VstInt32, MidiKeyName*)
{
    return false;
}

bool AudioEffectX::updateDisplay()
{
    return callHost(audioMasterUpdateDisplay) != 0;
}

bool AudioEffectX::sizeWindow(VstInt32 width, VstInt32 height)
{
    return callHost(audioMasterSizeWindow, width, height) != 0;
}

bool AudioEffectX::openFileSelector(VstFileSelect* selector)
{
    return selector != nullptr && callHost(audioMasterOpenFileSelector, 0, 0, selector) != 0;
}

bool AudioEffectX::closeFileSelector(VstFileSelect* selector)
{
    return selector != nullptr && callHost(audioMasterCloseFileSelector, 0, 0, selector) != 0;
}

VstInt32 AudioEffectX::getNextShellPlugin(char*)
{
    return 0;
}

bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** place, VstInt32 channels)
{
    if (place == nullptr)
        return false;
    deallocateArrangement(place);
    constexpr std::size_t kMaxChannels = (SIZE_MAX - speakerArrangementBytes(0)) / sizeof(VstSpeakerProperties);
    if (channels < 0 || static_cast<std::size_t>(channels) > kMaxChannels)
        return false;
    // calloc zeroes the whole block, header and entries.
    void* block = std::calloc(1, speakerArrangementBytes(static_cast<std::size_t>(channels)));
    if (block == nullptr)
        return false;
    auto* arrangement = static_cast<VstSpeakerArrangement*>(block);
    arrangement->numChannels = channels;
    *place = arrangement;
    return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** place)
{
    if (place != nullptr && *place != nullptr) {
        std::free(*place);
        *place = nullptr;
    }
    return true;
}

bool AudioEffectX::copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from)
{
    if (to == nullptr || from == nullptr)
        return false;
    if (to == from)
        return true;
    // Bounded copy, zero-filled to the end of the name field.
    constexpr std::size_t kNameChars = sizeof to->name - 1;
    std::size_t length = 0;
    while (length < kNameChars && from->name[length] != '\0')
        ++length;
    std::memcpy(to->name, from->name, length);
    std::memset(to->name + length, 0, sizeof to->name - length);
    to->type = from->type;
    to->azimuth = from->azimuth;
    to->elevation = from->elevation;
    to->radius = from->radius;
    to->reserved = from->reserved;
    std::memcpy(to->future, from->future, sizeof to->future);
    return true;
}

bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from)
{
    if (from == nullptr || to == nullptr)
        return false;
    // Matching an arrangement to itself would release the source first.
    if (*to == from)
        return true;
    if (!deallocateArrangement(to) || !allocateArrangement(to, from->numChannels))
        return false;
    (*to)->type = from->type;
    for (VstInt32 i = 0; i < (*to)->numChannels; ++i)
        if (!copySpeaker(speakerAt(*to, i), speakerAt(from, i)))
            return false;
    return true;
}

bool AudioEffectX::offlineRead(VstOfflineTask* offline, VstInt32 option, bool readSource)
{
    return callHost(audioMasterOfflineRead, readSource ? 1 : 0, option, offline) != 0;
}

bool AudioEffectX::offlineWrite(VstOfflineTask* offline, VstInt32 option)
{
    return callHost(audioMasterOfflineWrite, 0, option, offline) != 0;
}

bool AudioEffectX::offlineStart(VstAudioFile* audioFiles, VstInt32 numAudioFiles, VstInt32 numNewAudioFiles)
{
    return callHost(audioMasterOfflineStart, numNewAudioFiles, numAudioFiles, audioFiles) != 0;
}

VstInt32 AudioEffectX::offlineGetCurrentPass()
{
    return callHost(audioMasterOfflineGetCurrentPass) != 0 ? 1 : 0;
}

VstInt32 AudioEffectX::offlineGetCurrentMetaPass()
{
    return callHost(audioMasterOfflineGetCurrentMetaPass) != 0 ? 1 : 0;
}

bool AudioEffectX::offlineNotify(VstAudioFile*, VstInt32, bool)
{
    return false;
}

bool AudioEffectX::offlinePrepare(VstOfflineTask*, VstInt32)
{
    return false;
}

bool AudioEffectX::offlineRun(VstOfflineTask*, VstInt32)
{
    return false;
}

VstInt32 AudioEffectX::offlineGetNumPasses()
{
    return 0;
}

VstInt32 AudioEffectX::offlineGetNumMetaPasses()
{
    return 0;
}

void AudioEffectX::wantEvents(VstInt32 filter)
{
    callHost(audioMasterWantMidi, 0, filter);
}

VstInt32 AudioEffectX::tempoAt(VstInt32 position)
{
    return static_cast<VstInt32>(callHost(audioMasterTempoAt, 0, position));
}

VstInt32 AudioEffectX::getNumAutomatableParameters()
{
    return static_cast<VstInt32>(callHost(audioMasterGetNumAutomatableParameters));
}

VstInt32 AudioEffectX::getParameterQuantization()
{
    return static_cast<VstInt32>(callHost(audioMasterGetParameterQuantization));
}

VstInt32 AudioEffectX::getNumCategories()
{
    return 1;
}

bool AudioEffectX::copyProgram(VstInt32)
{
    return false;
}

bool AudioEffectX::needIdle()
{
    return callHost(audioMasterNeedIdle) != 0;
}

// The interface sends no pin index with these two requests.
AEffect* AudioEffectX::getPreviousPlug(VstInt32)
{
    return pointerFrom<AEffect>(callHost(audioMasterGetPreviousPlug));
}

AEffect* AudioEffectX::getNextPlug(VstInt32)
{
    return pointerFrom<AEffect>(callHost(audioMasterGetNextPlug));
}

void AudioEffectX::inputConnected(VstInt32, bool) {}

void AudioEffectX::outputConnected(VstInt32, bool) {}

VstInt32 AudioEffectX::willProcessReplacing()
{
    return static_cast<VstInt32>(callHost(audioMasterWillReplaceOrAccumulate));
}

void AudioEffectX::wantAsyncOperation(bool state)
{
    setFlag(effFlagsExtIsAsync, state);
}

void AudioEffectX::hasExternalBuffer(bool state)
{
    setFlag(effFlagsExtHasBuffer, state);
}

VstInt32 AudioEffectX::reportCurrentPosition()
{
    return 0;
}

float* AudioEffectX::reportDestinationBuffer()
{
    return nullptr;
}

void AudioEffectX::setOutputSamplerate(float samplerate)
{
    callHost(audioMasterSetOutputSampleRate, 0, 0, nullptr, samplerate);
}

VstSpeakerArrangement* AudioEffectX::getInputSpeakerArrangement()
{
    return pointerFrom<VstSpeakerArrangement>(callHost(audioMasterGetInputSpeakerArrangement));
}

VstSpeakerArrangement* AudioEffectX::getOutputSpeakerArrangement()
{
    return pointerFrom<VstSpeakerArrangement>(callHost(audioMasterGetOutputSpeakerArrangement));
}

VstIntPtr AudioEffectX::openWindow(VstWindow* window)
{
    return callHost(audioMasterOpenWindow, 0, 0, window);
}

bool AudioEffectX::closeWindow(VstWindow* window)
{
    return callHost(audioMasterCloseWindow, 0, 0, window) != 0;
}

void AudioEffectX::setBlockSizeAndSampleRate(VstInt32 newBlockSize, float newSampleRate)
{
    blockSize = newBlockSize;
    sampleRate = newSampleRate;
}

bool AudioEffectX::getErrorText(char*)
{
    return false;
}

void* AudioEffectX::getIcon()
{
    return nullptr;
}

bool AudioEffectX::setViewPosition(VstInt32, VstInt32)
{
    return false;
}

VstInt32 AudioEffectX::fxIdle()
{
    return 0;
}

bool AudioEffectX::keysRequired()
{
    return false;
}

bool AudioEffectX::getChunkFile(void* nativePath)
{
    return nativePath != nullptr && callHost(audioMasterGetChunkFile, 0, 0, nativePath) != 0;
}
