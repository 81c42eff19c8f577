#include "plugin/InnerInstances.h"

#include "plugin/Platform.h"

#include <cstdio>
#include <cstring>

namespace
{
// Inner parameter the effect sets to 0 on every instance after opening it.
constexpr VstInt32 kInnerSetupParam = 15;
// An instance latency above this many seconds of audio cannot be true.
constexpr double kAbsurdLatencySeconds = 10.0;

VstIntPtr ORVEX_VSTCALL innerHostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

void zero(float* const* channels, int n)
{
    if (n <= 0)
        return;
    std::memset(channels[0], 0, sizeof(float) * static_cast<std::size_t>(n));
    std::memset(channels[1], 0, sizeof(float) * static_cast<std::size_t>(n));
}
} // namespace

InnerInstances::InnerInstances(const char* effectName) : effectName(effectName)
{
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
