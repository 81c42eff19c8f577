#include "lv2/PluginDescription.h"

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
// The six maximizer parameters; `symbolPrefix` and `namePrefix` tell the
// instance apart inside the multiband effect ("b2_", "2.").
void addMaximizerControls(std::vector<ControlPort>& out, const std::string& symbolPrefix,
                          const std::string& namePrefix)
{
    const ControlPort maximizer[] = {
        {"thresh", "Thresh", PortMapping::linearReversed, PortUnit::db, -30.0f, 0.0f, 0.0f},
        {"ceiling", "Ceiling", PortMapping::linear, PortUnit::db, -30.0f, 0.0f, -0.1f},
        {"release", "Release", PortMapping::logarithmic, PortUnit::ms, 1.0f, 1000.0f, 100.0f},
        {"link", "Link", PortMapping::linear, PortUnit::percent, 0.0f, 100.0f, 100.0f},
        {"truepeak", "TruePeak", PortMapping::toggle, PortUnit::none, 0.0f, 1.0f, 0.0f},
        {"autorel", "AutoRel", PortMapping::toggle, PortUnit::none, 0.0f, 1.0f, 0.0f},
    };
    for (ControlPort port : maximizer)
    {
        port.symbol = symbolPrefix + port.symbol;
        port.name = namePrefix + port.name;
        out.push_back(port);
    }
}

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
    const float defaultHz[] = {200.0f, 1000.0f, 4000.0f, 10000.0f};
    // Band k's switch, then crossover k's frequency and slope; band 5's switch last.
    for (int k = 1; k <= 5; ++k)
    {
        const std::string n = std::to_string(k);
        d.controls.push_back({"band" + n, "Band" + n, PortMapping::toggle, PortUnit::none, 0.0f, 1.0f, 1.0f});
        if (k == 5)
            break;
        d.controls.push_back(
            {"freq" + n, "Freq" + n, PortMapping::crossoverHz, PortUnit::hz, 20.0f, 20000.0f, defaultHz[k - 1]});
        d.controls.push_back(
            {"slope" + n, "Slope" + n, PortMapping::slopeSteps, PortUnit::dbPerOctave, 12.0f, 96.0f, 24.0f});
    }
    for (int k = 1; k <= 5; ++k)
        addMaximizerControls(d.controls, "b" + std::to_string(k) + "_", std::to_string(k) + ".");
    addMaximizerControls(d.controls, "m_", "M.");
    return d;
}

PluginDescription makeMaximizer()
{
    PluginDescription d = named("Orvex_Maximizer", "Orvex_Maximizer", true, false);
    addMaximizerControls(d.controls, "", "");
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
