#include "lv2/PluginDescription.h"

#include "vst/ParameterTable.h"

#include <string>

// ORVEX_VERSION, ORVEX_VERSION_MINOR and ORVEX_VERSION_PATCH come from the build.

const char* const ProjectFacts::kNamespace = "http://ylk.example/plugins/orvex/";
const char* const ProjectFacts::kMaintainer = "ylk";
const char* const ProjectFacts::kLicense = "http://spdx.org/licenses/MIT"; // the SPDX identifier's URI
const char* const ProjectFacts::kVersion = ORVEX_VERSION;
// LV2 reads an odd number or a minor version of 0 as a development release
// that hosts may hide, so releases map to even numbers from 2 up.
const int ProjectFacts::kMinorVersion = 2 * (ORVEX_VERSION_MINOR + 1);
const int ProjectFacts::kMicroVersion = 2 * ORVEX_VERSION_PATCH;

namespace
{
// A plug-in named after its VST module: its URI, bundle and binary follow.
PluginDescription named(const std::string& module, const std::string& name, bool hardRealTime, bool controlsOnWorker)
{
    PluginDescription d;
    d.uri = std::string(ProjectFacts::kNamespace) + module;
    d.name = name;
    d.bundle = module + ".lv2";
    d.binary = module + "_lv2.so";
    d.hardRealTime = hardRealTime;
    d.controlsOnWorker = controlsOnWorker;
    return d;
}

PluginDescription makeMultiband()
{
    // A crossover change designs its kernels on the thread that sets the
    // control: the host's worker thread where it has one, else the audio
    // thread.
    PluginDescription d = named("MultibandOrvexMaximizer", "Multiband Orvex Maximizer", false, true);
    d.controls = ParameterTable::multiband();
    return d;
}

PluginDescription makeMaximizer()
{
    PluginDescription d = named("Orvex_Maximizer", "Orvex_Maximizer", true, false);
    d.controls = ParameterTable::maximizer();
    return d;
}
} // namespace

const PluginDescription& multibandDescription()
{
    static const PluginDescription d = makeMultiband();
    return d;
}

const PluginDescription& maximizerDescription()
{
    static const PluginDescription d = makeMaximizer();
    return d;
}
