#include "PluginLibrary.h"

#include "HostError.h"

#include <dlfcn.h>

namespace
{
std::string lastDlError(const char* fallback)
{
    const char* message = dlerror();
    return message ? message : fallback;
}
} // namespace

std::shared_ptr<PluginLibrary> PluginLibrary::load(const std::string& path)
{
    // dlopen searches the library path for names without a slash; a plug-in
    // named on the command line is a file, so make it one.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw HostError("cannot load plug-in: " + lastDlError(path.c_str()));

    VstPluginMainProc entry = nullptr;
    for (const char* name : {"VSTPluginMain", "main"})
    {
        dlerror();
        if (void* symbol = dlsym(handle, name))
        {
            entry = reinterpret_cast<VstPluginMainProc>(symbol);
            break;
        }
    }
    if (!entry)
    {
        dlclose(handle);
        throw HostError("not a VST 2.4 plug-in (no entry point \"VSTPluginMain\" or \"main\"): " + path);
    }
    return std::shared_ptr<PluginLibrary>(new PluginLibrary(path, handle, entry));
}

PluginLibrary::PluginLibrary(std::string path, void* handle, VstPluginMainProc entry)
    : libraryPath(std::move(path)), handle(handle), entryPoint(entry)
{
}

PluginLibrary::~PluginLibrary()
{
    dlclose(handle);
}

std::mutex& PluginLibrary::setupLock()
{
    static std::mutex lock;
    return lock;
}
