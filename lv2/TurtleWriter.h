// Writes a plug-in's bundle description: manifest.ttl (URI, binary, the file
// with the rest) and <binary stem>.ttl (doap facts, features, every port).
// Runs at build time only.
#pragma once

#include "lv2/PluginDescription.h"

#include <ostream>
#include <string>

class TurtleWriter
{
public:
    // The .ttl file the manifest points to, e.g. "MultibandOrvexMaximizer.ttl".
    static std::string pluginFileName(const PluginDescription& plugin);
    static void writeManifest(const PluginDescription& plugin, std::ostream& out);
    static void writePlugin(const PluginDescription& plugin, std::ostream& out);

private:
    static void writeControlPort(const ControlPort& port, std::uint32_t index, std::ostream& out);
};
