// A plug-in library loaded with dlopen, and the entry point found in it.
// One library object may create any number of effect instances; it stays
// loaded as long as any instance (which holds a shared_ptr to it) lives.
#pragma once

#include "AEffect.h"

#include <memory>
#include <mutex>
#include <string>

class PluginLibrary
{
public:
    // Loads the library and looks up "VSTPluginMain", then "main". Throws
    // HostError with dlerror's message when either fails.
    static std::shared_ptr<PluginLibrary> load(const std::string& path);

    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return libraryPath; }
    VstPluginMainProc entry() const { return entryPoint; }

    // Plug-ins need not be safe to construct, configure or destroy from two
    // threads at once (shared tables built on first use, for instance), so the
    // host serialises everything but block processing under this lock.
    static std::mutex& setupLock();

private:
    PluginLibrary(std::string path, void* handle, VstPluginMainProc entry);

    std::string libraryPath;
    void* handle;
    VstPluginMainProc entryPoint;
};
