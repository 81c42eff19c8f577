// Build-time generator: writes manifest.ttl and the plug-in's .ttl into a
// bundle folder. Usage: orvex_lv2_turtle multiband|maximizer BUNDLE_DIR
#include "lv2/TurtleWriter.h"

#include <cstring>
#include <fstream>
#include <iostream>

namespace
{
bool writeFile(const std::string& path, void (*write)(const PluginDescription&, std::ostream&),
               const PluginDescription& plugin)
{
    std::ofstream out(path, std::ios::trunc);
    write(plugin, out);
    out.close();
    if (!out)
        std::cerr << "orvex_lv2_turtle: cannot write " << path << "\n";
    return static_cast<bool>(out);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "multiband") != 0 && std::strcmp(argv[1], "maximizer") != 0))
    {
        std::cerr << "usage: orvex_lv2_turtle multiband|maximizer BUNDLE_DIR\n";
        return 2;
    }
    const PluginDescription& plugin =
        std::strcmp(argv[1], "multiband") == 0 ? multibandDescription() : maximizerDescription();
    const std::string dir = argv[2];
    const bool ok = writeFile(dir + "/manifest.ttl", &TurtleWriter::writeManifest, plugin) &&
                    writeFile(dir + "/" + TurtleWriter::pluginFileName(plugin), &TurtleWriter::writePlugin, plugin);
    return ok ? 0 : 1;
}
