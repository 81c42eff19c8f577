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
    std::string path;
    if (dladdr(reinterpret_cast<void*>(&anchor), &info) != 0 && info.dli_fname != nullptr)
        path = info.dli_fname;
    // Cut at the last separator; a name without one (or with only a leading
    // one) stays whole, as on Windows.
    const std::size_t cut = path.find_last_of('/');
    if (cut != std::string::npos && cut >= 1)
        path.resize(cut);
    return path + "/" + kInnerLibraryName;
}

void* loadLibrary(const std::string& path)
{
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
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
