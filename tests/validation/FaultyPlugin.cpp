// A small stereo plug-in written straight against the effect record, used to
// prove the validation battery can fail. Without a fault it is a sound effect
// that passes every check: a 10-sample delay with a hard clip at its ceiling.
// Each fault, chosen through the exported validationSelectFault before an
// effect is created, breaks exactly one thing a host relies on.
#include "vst/AEffect.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__SSE__) || defined(__x86_64__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>
#define FAULTY_HAVE_MXCSR 1
#endif

#if defined(_WIN32)
#define FAULTY_EXPORT extern "C"
#else
#define FAULTY_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace
{

enum Fault
{
    kSound,
    kBadRecord,
    kCrashOnUnknownOpcode,
    kCrashOnNullText,
    kLongParamName,
    kLongEffectName,
    kGarbageBeforeStart,
    kWritesOnEmptyBlock,
    kIgnoresFramesBeyondBlockSize,
    kBreaksOnRateChange,
    kBreaksOnRepeatedResume,
    kInstanceLimit,
    kSharedState,
    kInPlaceBroken,
    kNanPassesThrough,
    kStuckAfterLoud,
    kNanParameter,
    kQuantizedParameter,
    kWrongLatency,
    kAllocatesInProcess,
    kLeavesFlushToZero,
    kDenormalTail,
    kRacyParameters,
    kStaleLatencyAfterChange,
};

constexpr int kLatency = 10;
constexpr int kDelayLength = kLatency + 2;
constexpr int kNumParams = 2;

std::atomic<int> selectedFault{kSound};
std::atomic<int> liveInstances{0};
float sharedDelay[2][kDelayLength];

struct FaultyEffect
{
    AEffect record{};
    int fault = kSound;
    float sampleRate = 44100.0f;
    int blockSize = 1024;
    int rateChanges = 0;
    bool opened = false;
    bool resumed = false;
    bool broken = false;
    float gain = 1.0f;
    float tail[2] = {};
    // Set from any thread, read by processing.
    std::atomic<float> params[kNumParams] = {{1.0f - 0.1f / 30.0f}, {0.5f}};
    // The fault of the same without synchronisation.
    float racyCeiling = params[0];
    float ownDelay[2][kDelayLength] = {};
    int position = 0;

    float ceiling() const
    {
        const float value = fault == kRacyParameters ? racyCeiling : params[0].load();
        return static_cast<float>(std::pow(10.0, 30.0 * (value - 1.0) / 20.0));
    }
};

FaultyEffect* self(AEffect* e)
{
    return static_cast<FaultyEffect*>(e->object);
}

void copyText(char* to, const char* from, std::size_t limit)
{
    std::strncpy(to, from, limit);
    to[limit] = '\0';
}

void writeText(FaultyEffect* f, VstInt32 opcode, VstInt32 index, char* text)
{
    if (text == nullptr && f->fault != kCrashOnNullText)
        return;
    if (opcode == effGetEffectName)
    {
        const char* name = "Faulty validation plug-in";
        if (f->fault == kLongEffectName)
            name = "Faulty validation plug-in with a far too long name";
        std::strcpy(text, name);
        return;
    }
    if (opcode == effGetVendorString || opcode == effGetProductString || opcode == effGetProgramName)
    {
        copyText(text, "Validation", 24);
        return;
    }
    if (index < 0 || index >= kNumParams)
        return;
    if (opcode == effGetParamName)
    {
        const char* name = index == 0 ? "Ceiling" : "Spare";
        if (f->fault == kLongParamName)
            name = index == 0 ? "Ceiling" : "SpareParameterName";
        std::strcpy(text, name);
    }
    else if (opcode == effGetParamLabel)
        copyText(text, index == 0 ? "dB" : "", 8);
    else if (opcode == effGetParamDisplay)
    {
        const double value = f->params[index].load();
        char number[32];
        std::snprintf(number, sizeof number, "%.5f", index == 0 ? 30.0 * (value - 1.0) : value);
        copyText(text, number, 8);
    }
}

VstIntPtr ORVEX_VSTCALL dispatcher(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    FaultyEffect* f = self(e);
    switch (opcode)
    {
    case effOpen: f->opened = true; return 0;
    case effClose:
        delete f;
        --liveInstances;
        return 1;
    case effSetSampleRate:
        if (++f->rateChanges > 1 && f->fault == kBreaksOnRateChange)
            f->broken = true;
        if (opt > 0.0f)
            f->sampleRate = opt;
        return 0;
    case effSetBlockSize: f->blockSize = static_cast<int>(value); return 0;
    case effMainsChanged:
        if (value != 0 && f->resumed && f->fault == kBreaksOnRepeatedResume)
            f->broken = true;
        f->resumed = value != 0;
        return 0;
    case effGetEffectName:
    case effGetVendorString:
    case effGetProductString:
        writeText(f, opcode, index, static_cast<char*>(ptr));
        return 1;
    case effGetProgramName:
    case effGetParamName:
    case effGetParamLabel:
    case effGetParamDisplay: writeText(f, opcode, index, static_cast<char*>(ptr)); return 0;
    case effGetVstVersion: return kVstVersion;
    default:
        if ((opcode >= 80 || opcode < 0) && f->fault == kCrashOnUnknownOpcode)
            *static_cast<volatile char*>(ptr) = 1; // no pointer comes with unknown opcodes
        return 0;
    }
}

void ORVEX_VSTCALL setParameter(AEffect* e, VstInt32 index, float value)
{
    FaultyEffect* f = self(e);
    if (index < 0 || index >= kNumParams)
        return;
    if (f->fault == kNanParameter)
        f->params[index] = value;
    else if (f->fault == kQuantizedParameter)
        f->params[index] = value > 0.5f ? 1.0f : 0.0f;
    else if (!std::isnan(value))
        f->params[index] = std::fmin(std::fmax(value, 0.0f), 1.0f);
    if (index == 0)
        f->racyCeiling = f->params[0];
}

float ORVEX_VSTCALL getParameter(AEffect* e, VstInt32 index)
{
    return index >= 0 && index < kNumParams ? self(e)->params[index].load() : 0.0f;
}

float sample(FaultyEffect* f, float x, int channel)
{
    if (f->fault != kNanPassesThrough && !std::isfinite(x))
        x = 0.0f;
    if (f->fault == kStuckAfterLoud && std::fabs(x) > 10.0f)
        f->gain = 0.5f;
    float (*line)[kDelayLength] = f->fault == kSharedState ? sharedDelay : f->ownDelay;
    // The stale-latency fault lengthens its delay with parameter 1 but keeps
    // reporting the old value.
    const bool longer = f->fault == kStaleLatencyAfterChange && f->params[1].load() > 0.6f;
    const int delay = f->fault == kWrongLatency || longer ? kLatency + 1 : kLatency;
    line[channel][(f->position + delay) % kDelayLength] = x * f->gain;
    float y = line[channel][f->position];
    if (f->fault == kDenormalTail)
        y = f->tail[channel] = 0.5f * f->tail[channel] + 0.5f * y;
    const float c = f->ceiling();
    if (f->fault != kNanPassesThrough)
        y = std::fmin(std::fmax(y, -c), c);
    return f->broken ? 2.0f : y;
}

void ORVEX_VSTCALL processReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 frames)
{
    FaultyEffect* f = self(e);
    if (f->fault == kWritesOnEmptyBlock && frames == 0)
        outputs[0][0] = 1.0f;
    if (f->fault == kAllocatesInProcess)
    {
        float* volatile scratch = new float[static_cast<std::size_t>(frames) + 1];
        delete[] scratch;
    }
#if defined(FAULTY_HAVE_MXCSR)
    if (f->fault == kLeavesFlushToZero)
        _mm_setcsr(_mm_getcsr() | 0x8040u);
#endif
    if (f->fault == kInPlaceBroken && frames > 0)
        std::memset(outputs[1], 0, sizeof(float) * static_cast<std::size_t>(frames));
    if (f->fault == kIgnoresFramesBeyondBlockSize && frames > f->blockSize)
        frames = f->blockSize;
    const bool garbage = f->fault == kGarbageBeforeStart && !f->opened;
    for (VstInt32 i = 0; i < frames; ++i)
    {
        const float left = sample(f, inputs[0][i], 0);
        const float right = sample(f, inputs[1][i], 1);
        f->position = (f->position + 1) % kDelayLength;
        outputs[0][i] = garbage ? NAN : left;
        outputs[1][i] = garbage ? NAN : right;
    }
}

void ORVEX_VSTCALL process(AEffect* e, float** inputs, float** outputs, VstInt32 frames)
{
    processReplacing(e, inputs, outputs, frames);
}

} // namespace

FAULTY_EXPORT void validationSelectFault(int fault)
{
    selectedFault = fault;
}

// Test-name label of each fault, in enum order; null past the last.
FAULTY_EXPORT const char* validationFaultName(int fault)
{
    static const char* const names[] = {
        "Sound", "FaultBadRecord", "FaultCrashOnUnknownOpcode", "FaultCrashOnNullText", "FaultLongParamName",
        "FaultLongEffectName", "FaultGarbageBeforeStart", "FaultWritesOnEmptyBlock",
        "FaultIgnoresFramesBeyondBlockSize", "FaultBreaksOnRateChange", "FaultBreaksOnRepeatedResume",
        "FaultInstanceLimit", "FaultSharedState", "FaultInPlaceBroken", "FaultNanPassesThrough",
        "FaultStuckAfterLoud", "FaultNanParameter", "FaultQuantizedParameter", "FaultWrongLatency",
        "FaultAllocatesInProcess", "FaultLeavesFlushToZero", "FaultDenormalTail", "FaultRacyParameters",
        "FaultStaleLatencyAfterChange"};
    static_assert(sizeof names / sizeof names[0] == kStaleLatencyAfterChange + 1, "one name per fault");
    return fault >= 0 && fault <= kStaleLatencyAfterChange ? names[fault] : nullptr;
}

FAULTY_EXPORT AEffect* ORVEX_VSTCALL VSTPluginMain(audioMasterCallback host)
{
    if (host == nullptr || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    const int fault = selectedFault;
    if (fault == kInstanceLimit && liveInstances >= 4)
        return nullptr;
    ++liveInstances;
    FaultyEffect* f = new FaultyEffect;
    f->fault = fault;
    AEffect& r = f->record;
    r.magic = kEffectMagic;
    r.dispatcher = dispatcher;
    r.process = process;
    r.setParameter = setParameter;
    r.getParameter = getParameter;
    r.numPrograms = 1;
    r.numParams = kNumParams;
    r.numInputs = 2;
    r.numOutputs = fault == kBadRecord ? 1 : 2;
    r.flags = effFlagsCanReplacing;
    r.initialDelay = kLatency;
    r.ioRatio = 1.0f;
    r.object = f;
    r.uniqueID = fourCharCode('F', 'l', 't', 'y');
    r.version = 1;
    r.processReplacing = processReplacing;
    return &r;
}
