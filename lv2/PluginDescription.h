// What an LV2 host learns about each plug-in, in one table per plug-in: URI,
// name, the binary in its bundle, and the ports. Control ports come first and
// port i drives VST parameter i; the audio ports and the latency output
// follow, then the meters (output control ports read through GainMeterCall).
// The build generates the bundles' Turtle files from these tables, and the
// adapter maps ports to parameters with them.
#pragma once

#include "lv2/ControlPort.h"

#include <cstdint>
#include <string>
#include <vector>

struct PluginDescription
{
    std::string uri;
    std::string name;
    std::string bundle; // folder name, "MultibandOrvexMaximizer.lv2"
    std::string binary; // the LV2 module's file name inside the bundle
    // Whether run() is free of allocation and blocking on every path.
    bool hardRealTime;
    // Whether control changes do heavy work in the effect (designing), so
    // that they go through the host's worker thread where it offers one.
    bool controlsOnWorker;
    std::vector<ControlPort> controls;
    // Output ports, one per maximizer instance in GainMeterCall's order.
    std::vector<ControlPort> meters;

    std::uint32_t audioInput(int channel) const { return controlCount() + static_cast<std::uint32_t>(channel); }
    std::uint32_t audioOutput(int channel) const { return controlCount() + 2 + static_cast<std::uint32_t>(channel); }
    std::uint32_t latencyPort() const { return controlCount() + 4; }
    std::uint32_t meterPort(int meter) const { return controlCount() + 5 + static_cast<std::uint32_t>(meter); }
    std::uint32_t portCount() const { return meterPort(0) + static_cast<std::uint32_t>(meters.size()); }
    std::uint32_t controlCount() const { return static_cast<std::uint32_t>(controls.size()); }
};

// Project-wide facts written into every plug-in's Turtle.
struct ProjectFacts
{
    static const char* const kNamespace;   // URI prefix of everything we define
    static const char* const kMaintainer;
    static const char* const kLicense;     // URI of the licence
    static const char* const kVersion;     // the project's version, "1.0.0"
    static const int kMinorVersion;        // lv2:minorVersion
    static const int kMicroVersion;        // lv2:microVersion
};

// The multiband effect: 13 own parameters, then six for each of the five band
// maximizers and the master (symbols b1_thresh ... m_autorel).
const PluginDescription& multibandDescription();
// The single-band maximizer: thresh, ceiling, release, link, truepeak, autorel.
const PluginDescription& maximizerDescription();
