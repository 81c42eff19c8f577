// Linux and other POSIX systems: dladdr finds the library this code is linked
// into, dlopen loads the inner plug-in privately, messages go to standard error.
#include "plugin/Platform.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>

namespace Platform
{

const char* const kInnerLibraryName = "Orvex_Maximizer.so";

namespace
{
// A function of our own library, whose address dladdr maps back to the file.
void anchor() {}
} // namespace

std::string innerLibraryPath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&anchor), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    // Without a folder in our own name there is no safe place to look: the
    // current or the root folder could hold a library planted there.
    const std::string path = info.dli_fname;
    const std::size_t cut = path.find_last_of('/');
    if (cut == std::string::npos)
        return std::string();
    return path.substr(0, cut + 1) + kInnerLibraryName;
}

void* loadLibrary(const std::string& path)
{
    return path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findFunction(void* library, const char* name)
{
    if (library == nullptr)
        return nullptr;
    return dlsym(library, name);
}

void freeLibrary(void* library)
{
    if (library != nullptr)
        dlclose(library);
}

void showMessage(const char* effectName, const char* text)
{
    // One write per message, so lines from several effects do not interleave.
    std::string line = std::string(effectName) + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

struct EffectLock::State
{
    std::mutex mutex;
};

EffectLock::EffectLock() : state(new State) {}
EffectLock::~EffectLock() { delete state; }
void EffectLock::lock() { state->mutex.lock(); }
void EffectLock::unlock() { state->mutex.unlock(); }

} // namespace Platform
