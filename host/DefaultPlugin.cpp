#include "DefaultPlugin.h"

#include <climits>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ORVEX_PLUGIN_RELATIVE_DIR
#define ORVEX_PLUGIN_RELATIVE_DIR "plugins"
#endif

namespace
{
const char* const kPluginFile = "MultibandOrvexMaximizer.so";

bool isFile(const std::string& path)
{
    struct stat info{};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
} // namespace

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

std::vector<std::string> DefaultPlugin::candidates(const std::string& exeFolder, const char* vstPath,
                                                   const char* home)
{
    std::vector<std::string> folders = {exeFolder + "/" ORVEX_PLUGIN_RELATIVE_DIR, exeFolder + "/../lib/vst"};
    std::istringstream list(vstPath != nullptr ? vstPath : "");
    for (std::string folder; std::getline(list, folder, ':');)
        if (!folder.empty())
            folders.push_back(folder);
    if (home != nullptr && *home != '\0')
        folders.push_back(std::string(home) + "/.vst");
    folders.push_back("/usr/local/lib/vst");
    folders.push_back("/usr/lib/vst");

    std::vector<std::string> paths;
    for (const std::string& folder : folders)
        paths.push_back(folder + "/" + kPluginFile);
    return paths;
}

std::string DefaultPlugin::path()
{
    const auto paths = candidates(executableFolder(), std::getenv("VST_PATH"), std::getenv("HOME"));
    for (const std::string& candidate : paths)
        if (isFile(candidate))
            return candidate;
    return paths.front();
}
