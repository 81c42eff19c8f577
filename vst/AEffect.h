// The VST 2.4 effect record, its entry-point types, the dispatcher and host
// opcodes and the flag bits. This header is the whole binary interface between
// a host and a plug-in: hosts (including our own command-line host and test
// hosts) need nothing else of ours.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define ORVEX_VSTCALL __cdecl
#else
#define ORVEX_VSTCALL
#endif

using VstInt32 = std::int32_t;
using VstIntPtr = std::intptr_t;

struct AEffect;

using audioMasterCallback = VstIntPtr(ORVEX_VSTCALL*)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                      VstIntPtr value, void* ptr, float opt);
using AEffectDispatcherProc = VstIntPtr(ORVEX_VSTCALL*)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                        VstIntPtr value, void* ptr, float opt);
using AEffectProcessProc = void(ORVEX_VSTCALL*)(AEffect* effect, float** inputs, float** outputs,
                                                VstInt32 sampleFrames);
using AEffectProcessDoubleProc = void(ORVEX_VSTCALL*)(AEffect* effect, double** inputs, double** outputs,
                                                      VstInt32 sampleFrames);
using AEffectSetParameterProc = void(ORVEX_VSTCALL*)(AEffect* effect, VstInt32 index, float parameter);
using AEffectGetParameterProc = float(ORVEX_VSTCALL*)(AEffect* effect, VstInt32 index);

// The entry point a plug-in library exports as "VSTPluginMain" (and "main").
using VstPluginMainProc = AEffect*(ORVEX_VSTCALL*)(audioMasterCallback host);

// Four-character code: the first character is the most significant byte.
constexpr VstInt32 fourCharCode(char a, char b, char c, char d)
{
    return static_cast<VstInt32>((static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(d)));
}

constexpr VstInt32 kEffectMagic = fourCharCode('V', 's', 't', 'P');
constexpr VstInt32 kVstVersion = 2400;

struct AEffect
{
    VstInt32 magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process;
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;
    VstIntPtr resvd1;
    VstIntPtr resvd2;
    VstInt32 initialDelay;
    VstInt32 realQualities;
    VstInt32 offQualities;
    float ioRatio;
    void* object;
    void* user;
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};

#if defined(_WIN32) && !defined(_WIN64)
// The 32-bit layout hosts were compiled against: 144 bytes, 4-byte pointers.
static_assert(sizeof(void*) == 4, "32-bit Windows build expected");
static_assert(sizeof(AEffect) == 144, "effect record must be 144 bytes");
static_assert(offsetof(AEffect, magic) == 0, "record layout");
static_assert(offsetof(AEffect, dispatcher) == 4, "record layout");
static_assert(offsetof(AEffect, process) == 8, "record layout");
static_assert(offsetof(AEffect, setParameter) == 12, "record layout");
static_assert(offsetof(AEffect, getParameter) == 16, "record layout");
static_assert(offsetof(AEffect, numPrograms) == 20, "record layout");
static_assert(offsetof(AEffect, numParams) == 24, "record layout");
static_assert(offsetof(AEffect, numInputs) == 28, "record layout");
static_assert(offsetof(AEffect, numOutputs) == 32, "record layout");
static_assert(offsetof(AEffect, flags) == 36, "record layout");
static_assert(offsetof(AEffect, resvd1) == 40, "record layout");
static_assert(offsetof(AEffect, resvd2) == 44, "record layout");
static_assert(offsetof(AEffect, initialDelay) == 48, "record layout");
static_assert(offsetof(AEffect, realQualities) == 52, "record layout");
static_assert(offsetof(AEffect, offQualities) == 56, "record layout");
static_assert(offsetof(AEffect, ioRatio) == 60, "record layout");
static_assert(offsetof(AEffect, object) == 64, "record layout");
static_assert(offsetof(AEffect, user) == 68, "record layout");
static_assert(offsetof(AEffect, uniqueID) == 72, "record layout");
static_assert(offsetof(AEffect, version) == 76, "record layout");
static_assert(offsetof(AEffect, processReplacing) == 80, "record layout");
static_assert(offsetof(AEffect, processDoubleReplacing) == 84, "record layout");
static_assert(offsetof(AEffect, future) == 88, "record layout");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
// The widened layout of 64-bit hosts: same field order, 8-byte pointers.
static_assert(sizeof(AEffect) == 192, "64-bit effect record must be 192 bytes");
static_assert(offsetof(AEffect, dispatcher) == 8, "record layout");
static_assert(offsetof(AEffect, process) == 16, "record layout");
static_assert(offsetof(AEffect, setParameter) == 24, "record layout");
static_assert(offsetof(AEffect, getParameter) == 32, "record layout");
static_assert(offsetof(AEffect, numPrograms) == 40, "record layout");
static_assert(offsetof(AEffect, flags) == 56, "record layout");
static_assert(offsetof(AEffect, resvd1) == 64, "record layout");
static_assert(offsetof(AEffect, resvd2) == 72, "record layout");
static_assert(offsetof(AEffect, initialDelay) == 80, "record layout");
static_assert(offsetof(AEffect, ioRatio) == 92, "record layout");
static_assert(offsetof(AEffect, object) == 96, "record layout");
static_assert(offsetof(AEffect, user) == 104, "record layout");
static_assert(offsetof(AEffect, uniqueID) == 112, "record layout");
static_assert(offsetof(AEffect, version) == 116, "record layout");
static_assert(offsetof(AEffect, processReplacing) == 120, "record layout");
static_assert(offsetof(AEffect, processDoubleReplacing) == 128, "record layout");
static_assert(offsetof(AEffect, future) == 136, "record layout");
#endif

// The record's latency may be written by one thread while a host reads it on
// another (an effect that changes its latency while running): these access it
// as one atomic 32-bit value.
inline VstInt32 loadInitialDelay(const AEffect* effect)
{
    return __atomic_load_n(&effect->initialDelay, __ATOMIC_ACQUIRE);
}
inline void storeInitialDelay(AEffect* effect, VstInt32 delay)
{
    __atomic_store_n(&effect->initialDelay, delay, __ATOMIC_RELEASE);
}

// Flag bits of AEffect::flags.
enum VstAEffectFlags : VstInt32
{
    effFlagsHasEditor = 1 << 0,
    effFlagsHasClip = 1 << 1,
    effFlagsHasVu = 1 << 2,
    effFlagsCanMono = 1 << 3,
    effFlagsCanReplacing = 1 << 4,
    effFlagsProgramChunks = 1 << 5,
    effFlagsIsSynth = 1 << 8,
    effFlagsNoSoundInStop = 1 << 9,
    effFlagsExtIsAsync = 1 << 10,
    effFlagsExtHasBuffer = 1 << 11,
    effFlagsCanDoubleReplacing = 1 << 12,
};

// Dispatcher opcodes, host to plug-in.
enum AEffectOpcodes : VstInt32
{
    effOpen = 0,
    effClose,
    effSetProgram,
    effGetProgram,
    effSetProgramName,
    effGetProgramName,
    effGetParamLabel,
    effGetParamDisplay,
    effGetParamName,
    effGetVu,
    effSetSampleRate,
    effSetBlockSize,
    effMainsChanged,
    effEditGetRect,
    effEditOpen,
    effEditClose,
    effEditDraw,
    effEditMouse,
    effEditKey,
    effEditIdle,
    effEditTop,
    effEditSleep,
    effIdentify,
    effGetChunk,
    effSetChunk,
    effProcessEvents,
    effCanBeAutomated,
    effString2Parameter,
    effGetNumProgramCategories,
    effGetProgramNameIndexed,
    effCopyProgram,
    effConnectInput,
    effConnectOutput,
    effGetInputProperties,
    effGetOutputProperties,
    effGetPlugCategory,
    effGetCurrentPosition,
    effGetDestinationBuffer,
    effOfflineNotify,
    effOfflinePrepare,
    effOfflineRun,
    effProcessVarIo,
    effSetSpeakerArrangement,
    effSetBlockSizeAndSampleRate,
    effSetBypass,
    effGetEffectName,
    effGetErrorText,
    effGetVendorString,
    effGetProductString,
    effGetVendorVersion,
    effVendorSpecific,
    effCanDo,
    effGetTailSize,
    effIdle,
    effGetIcon,
    effSetViewPosition,
    effGetParameterProperties,
    effKeysRequired,
    effGetVstVersion,
    effEditKeyDown,
    effEditKeyUp,
    effSetEditKnobMode,
    effGetMidiProgramName,
    effGetCurrentMidiProgram,
    effGetMidiProgramCategory,
    effHasMidiProgramsChanged,
    effGetMidiKeyName,
    effBeginSetProgram,
    effEndSetProgram,
    effGetSpeakerArrangement,
    effShellGetNextPlugin,
    effStartProcess,
    effStopProcess,
    effSetTotalSampleToProcess,
    effSetPanLaw,
    effBeginLoadBank,
    effBeginLoadProgram,
    effSetProcessPrecision,
    effGetNumMidiInputChannels,
    effGetNumMidiOutputChannels,
};
static_assert(effGetNumMidiOutputChannels == 79, "dispatcher opcode numbering");

// Host callback opcodes, plug-in to host.
enum AudioMasterOpcodes : VstInt32
{
    audioMasterAutomate = 0,
    audioMasterVersion,
    audioMasterCurrentId,
    audioMasterIdle,
    audioMasterPinConnected,
    audioMasterReserved5,
    audioMasterWantMidi,
    audioMasterGetTime,
    audioMasterProcessEvents,
    audioMasterSetTime,
    audioMasterTempoAt,
    audioMasterGetNumAutomatableParameters,
    audioMasterGetParameterQuantization,
    audioMasterIOChanged,
    audioMasterNeedIdle,
    audioMasterSizeWindow,
    audioMasterGetSampleRate,
    audioMasterGetBlockSize,
    audioMasterGetInputLatency,
    audioMasterGetOutputLatency,
    audioMasterGetPreviousPlug,
    audioMasterGetNextPlug,
    audioMasterWillReplaceOrAccumulate,
    audioMasterGetCurrentProcessLevel,
    audioMasterGetAutomationState,
    audioMasterOfflineStart,
    audioMasterOfflineRead,
    audioMasterOfflineWrite,
    audioMasterOfflineGetCurrentPass,
    audioMasterOfflineGetCurrentMetaPass,
    audioMasterSetOutputSampleRate,
    audioMasterGetOutputSpeakerArrangement,
    audioMasterGetVendorString,
    audioMasterGetProductString,
    audioMasterGetVendorVersion,
    audioMasterVendorSpecific,
    audioMasterSetIcon,
    audioMasterCanDo,
    audioMasterGetLanguage,
    audioMasterOpenWindow,
    audioMasterCloseWindow,
    audioMasterGetDirectory,
    audioMasterUpdateDisplay,
    audioMasterBeginEdit,
    audioMasterEndEdit,
    audioMasterOpenFileSelector,
    audioMasterCloseFileSelector,
    audioMasterEditFile,
    audioMasterGetChunkFile,
    audioMasterGetInputSpeakerArrangement,
};
static_assert(audioMasterGetInputSpeakerArrangement == 49, "host opcode numbering");

// Plug-in categories answered to effGetPlugCategory.
enum VstPlugCategory : VstInt32
{
    kPlugCategUnknown = 0,
    kPlugCategEffect,
    kPlugCategSynth,
};

// Text limits of the interface (characters, not counting the terminator).
constexpr int kVstMaxProgNameLen = 24;
constexpr int kVstMaxParamStrLen = 8;
constexpr int kVstMaxVendorStrLen = 64;
constexpr int kVstMaxProductStrLen = 64;
constexpr int kVstMaxEffectNameLen = 32;
