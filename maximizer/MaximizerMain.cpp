// Entry point of the maximizer plug-in library.
#include "OrvexMaximizer.h"
#include "vst/PluginEntry.h"

#include <new>

ORVEX_PLUGIN_ENTRY AEffect* ORVEX_VSTCALL VSTPluginMain(audioMasterCallback host)
{
    // A host that cannot tell its interface version is not one we can serve.
    if (!host || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    try
    {
        return (new OrvexMaximizer(host))->getAeffect();
    }
    catch (...)
    {
        // Out of memory: no exception may cross into the host.
        return nullptr;
    }
}
