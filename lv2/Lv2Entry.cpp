// The LV2 entry of one plug-in module. The build compiles it once per module,
// with ORVEX_LV2_DESCRIPTION naming the description function, and links the
// module with that effect's VST 2.4 sources, whose entry creates the effect.
#include "lv2/Lv2Effect.h"
#include "lv2/PluginDescription.h"
#include "vst/PluginEntry.h"

#include <lv2/core/lv2.h>

#include <memory>

namespace
{
LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const*)
{
    // Nothing may escape into the host: a failed allocation answers null.
    try
    {
        auto instance = std::make_unique<Lv2Effect>(ORVEX_LV2_DESCRIPTION(), &VSTPluginMain, rate);
        return instance->isOpen() ? instance.release() : nullptr;
    }
    catch (...)
    {
        return nullptr;
    }
}

Lv2Effect* effectOf(LV2_Handle handle)
{
    return static_cast<Lv2Effect*>(handle);
}

void connectPort(LV2_Handle handle, uint32_t port, void* data)
{
    effectOf(handle)->connectPort(port, data);
}

void activate(LV2_Handle handle)
{
    effectOf(handle)->activate();
}

void run(LV2_Handle handle, uint32_t frames)
{
    effectOf(handle)->run(frames);
}

void deactivate(LV2_Handle handle)
{
    effectOf(handle)->deactivate();
}

void cleanup(LV2_Handle handle)
{
    delete effectOf(handle);
}

const void* extensionData(const char*)
{
    return nullptr;
}
} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    static const LV2_Descriptor descriptor = {ORVEX_LV2_DESCRIPTION().uri.c_str(), instantiate, connectPort, activate,
                                              run, deactivate, cleanup, extensionData};
    return index == 0 ? &descriptor : nullptr;
}
