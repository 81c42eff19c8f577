#include "plugin/InnerInstances.h"

#include "crossover/StereoBlock.h"
#include "plugin/Platform.h"
#include "vst/ParameterTable.h"
#include "vst/TextConversion.h"

#include <cstdio>
#include <cstring>

namespace
{
// Inner parameter the effect sets to 0 on every instance after opening it.
constexpr VstInt32 kInnerSetupParam = 15;
// Size of the buffer an inner parameter text is fetched into.
constexpr int kInnerTextSize = 64;
// An instance latency above this many seconds of audio cannot be true.
constexpr double kAbsurdLatencySeconds = 10.0;

VstIntPtr ORVEX_VSTCALL innerHostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

using StereoBlock::zero;
} // namespace

InnerInstances::InnerInstances(const char* effectName) : effectName(effectName)
{
    ParameterTable::maximizer(); // built here, so driveDb() never allocates
    load();
}

InnerInstances::~InnerInstances()
{
    for (AEffect*& instance : instances) {
        if (instance == nullptr)
            continue;
        call(instance, effMainsChanged, 0, 0);
        call(instance, effClose);
        instance = nullptr;
    }
    Platform::freeLibrary(library);
}

void InnerInstances::load()
{
    library = Platform::loadLibrary(Platform::innerLibraryPath());
    if (library == nullptr) {
        Platform::showMessage(effectName, "Failed to load VST Plugin library!");
        return;
    }
    void* entry = Platform::findFunction(library, "VSTPluginMain");
    if (entry == nullptr)
        entry = Platform::findFunction(library, "main");
    if (entry == nullptr) {
        Platform::showMessage(effectName, "VST Plugin main entry not found!");
        return;
    }
    if (!create(reinterpret_cast<VstPluginMainProc>(entry))) {
        Platform::showMessage(effectName, "Failed to create effect instance!");
        return;
    }
    for (AEffect* instance : instances) {
        call(instance, effOpen);
        call(instance, effMainsChanged, 0, 1);
        instance->setParameter(instance, kInnerSetupParam, 0.0f);
    }
}

bool InnerInstances::create(VstPluginMainProc entry)
{
    bool complete = true;
    for (AEffect*& instance : instances) {
        instance = entry(innerHostCallback);
        complete &= instance != nullptr;
    }
    if (complete)
        return true;
    // Half a set of instances is of no use: close the ones that were created,
    // so none is left allocated and never opened.
    for (AEffect*& instance : instances) {
        if (instance != nullptr)
            call(instance, effClose);
        instance = nullptr;
    }
    return false;
}

VstIntPtr InnerInstances::call(AEffect* instance, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                               float opt)
{
    return instance->dispatcher(instance, opcode, index, value, ptr, opt);
}

AEffect* InnerInstances::parameterOwner(int index, VstInt32 inner) const
{
    AEffect* owner = instance(index);
    return owner != nullptr && inner >= 0 && inner < owner->numParams ? owner : nullptr;
}

bool InnerInstances::parameterText(int index, VstInt32 opcode, VstInt32 inner, char* text, int maxLen) const
{
    AEffect* owner = parameterOwner(index, inner);
    if (owner == nullptr || text == nullptr)
        return false;
    char innerText[kInnerTextSize] = {};
    call(owner, opcode, inner, 0, innerText);
    innerText[kInnerTextSize - 1] = '\0'; // an inner plug-in that fills the buffer is still cut safely
    copyText(text, innerText, maxLen);
    return true;
}

void InnerInstances::restart()
{
    for (AEffect* instance : instances) {
        if (instance == nullptr)
            continue;
        call(instance, effMainsChanged, 0, 0);
        call(instance, effMainsChanged, 0, 1);
    }
}

void InnerInstances::forward(VstInt32 opcode, VstIntPtr value, float opt)
{
    for (AEffect* instance : instances) {
        if (instance == nullptr)
            continue;
        call(instance, effMainsChanged, 0, 0);
        call(instance, opcode, 0, value, nullptr, opt);
        call(instance, effMainsChanged, 0, 1);
    }
}

bool InnerInstances::usable(const AEffect* instance)
{
    return instance != nullptr && (instance->process != nullptr || instance->processReplacing != nullptr);
}

// The accumulating entry when the instance has it, else the replacing one
// (plug-ins written only for the latter may leave the former null); the
// outputs are zeroed first either way.
bool InnerInstances::run(int index, float* const* in, float* const* out, int n)
{
    AEffect* instance = this->instance(index);
    if (!usable(instance))
        return false;
    zero(out, n);
    float* inputs[2] = {in[0], in[1]};
    float* outputs[2] = {out[0], out[1]};
    if (instance->process != nullptr)
        instance->process(instance, inputs, outputs, n);
    else
        instance->processReplacing(instance, inputs, outputs, n);
    return true;
}

int InnerInstances::latency(int index)
{
    const AEffect* instance = this->instance(index);
    if (!usable(instance))
        return 0;
    const VstInt32 reported = loadInitialDelay(instance);
    if (reported >= 0 && reported <= kAbsurdLatencySeconds * static_cast<double>(sampleRate.load()))
        return reported;
    int none = 0;
    absurdLatency[index].compare_exchange_strong(none, 1);
    return 0;
}

// Our own maximizer drives its input up by minus its Threshold (parameter 0);
// of any other plug-in nothing is known.
float InnerInstances::driveDb(int index)
{
    AEffect* instance = this->instance(index);
    if (!usable(instance) || instance->uniqueID != ParameterTable::kMaximizerId || instance->numParams < 1)
        return 0.0f;
    const Parameter& threshold = ParameterTable::maximizer().front();
    return -static_cast<float>(threshold.valueOf(instance->getParameter(instance, 0), Parameter::kDefaultRate));
}

void InnerInstances::sayProblems()
{
    for (int i = 0; i < kCount; ++i) {
        int seen = 1;
        if (!absurdLatency[i].compare_exchange_strong(seen, 2))
            continue;
        AEffect* instance = instances[i];
        std::fprintf(stderr, "%s: inner instance %d reports a latency of %d samples; taken as 0\n", effectName,
                     i + 1, instance != nullptr ? static_cast<int>(loadInitialDelay(instance)) : 0);
    }
}
