// The library's entry point, exported as "VSTPluginMain" and again as "main".
#include "plugin/AGain.h"
#include "vst/PluginEntry.h"

#include <new>

ORVEX_PLUGIN_ENTRY AEffect* ORVEX_VSTCALL VSTPluginMain(audioMasterCallback host)
{
    if (host == nullptr || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    // Nothing may escape into the host: a failed allocation answers null.
    try
    {
        AGain* effect = new AGain(host);
        return effect->getAeffect();
    }
    catch (...)
    {
        return nullptr;
    }
}
