#include "DefaultPlugin.h"

#include <climits>
#include <unistd.h>

#ifndef ORVEX_PLUGIN_RELATIVE_DIR
#define ORVEX_PLUGIN_RELATIVE_DIR "plugins"
#endif

std::string DefaultPlugin::executableFolder()
{
    char buffer[PATH_MAX + 1] = {};
    const ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (length <= 0)
        return ".";
    const std::string exe(buffer, static_cast<std::size_t>(length));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

std::string DefaultPlugin::path()
{
    return executableFolder() + "/" ORVEX_PLUGIN_RELATIVE_DIR "/MultibandOrvexMaximizer.so";
}
