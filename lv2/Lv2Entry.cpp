// The LV2 entry of one plug-in module. The build compiles it once per module,
// with ORVEX_LV2_DESCRIPTION naming the description function, and links the
// module with that effect's VST 2.4 sources, whose entry creates the effect.
#include "lv2/Lv2Effect.h"
#include "lv2/PluginDescription.h"
#include "vst/PluginEntry.h"

#include <lv2/core/lv2.h>
#include <lv2/worker/worker.h>

#include <cstring>
#include <memory>

namespace
{
// The host's worker takes a control change as a message of its own.
bool scheduleChange(void* context, const Lv2Effect::ControlChange& change)
{
    const auto* schedule = static_cast<const LV2_Worker_Schedule*>(context);
    return schedule->schedule_work(schedule->handle, sizeof change, &change) == LV2_WORKER_SUCCESS;
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features)
{
    // Nothing may escape into the host: a failed allocation answers null.
    try
    {
        auto instance = std::make_unique<Lv2Effect>(ORVEX_LV2_DESCRIPTION(), &VSTPluginMain, rate);
        for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f)
            if (std::strcmp((*f)->URI, LV2_WORKER__schedule) == 0 && (*f)->data != nullptr)
                instance->setScheduler(&scheduleChange, (*f)->data);
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

LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function, LV2_Worker_Respond_Handle, uint32_t size,
                       const void* data)
{
    Lv2Effect::ControlChange change;
    if (size != sizeof change || data == nullptr)
        return LV2_WORKER_ERR_UNKNOWN;
    std::memcpy(&change, data, sizeof change);
    effectOf(handle)->applyScheduled(change);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status workResponse(LV2_Handle, uint32_t, const void*)
{
    return LV2_WORKER_SUCCESS;
}

const void* extensionData(const char* uri)
{
    static const LV2_Worker_Interface worker = {work, workResponse, nullptr};
    return ORVEX_LV2_DESCRIPTION().controlsOnWorker && std::strcmp(uri, LV2_WORKER__interface) == 0 ? &worker
                                                                                                     : nullptr;
}
} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    static const LV2_Descriptor descriptor = {ORVEX_LV2_DESCRIPTION().uri.c_str(), instantiate, connectPort, activate,
                                              run, deactivate, cleanup, extensionData};
    return index == 0 ? &descriptor : nullptr;
}
