// Declares a plug-in library's entry point. Each plug-in defines
//   ORVEX_PLUGIN_ENTRY AEffect* VSTPluginMain(audioMasterCallback host) { ... }
// and the build exports it a second time as "main" (a linker alias on Linux,
// the module definition file on Windows), since C++ cannot name a function main.
#pragma once

#include "AEffect.h"

#if defined(_WIN32)
#define ORVEX_PLUGIN_ENTRY extern "C"
#else
#define ORVEX_PLUGIN_ENTRY extern "C" __attribute__((visibility("default")))
#endif

ORVEX_PLUGIN_ENTRY AEffect* ORVEX_VSTCALL VSTPluginMain(audioMasterCallback host);
