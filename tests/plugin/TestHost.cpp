#include "TestHost.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace TestHost
{

#if defined(_WIN32)
const char* const kInnerFileName = "Orvex_Maximizer.dll";
const char* const kPluginFileName = "MultibandOrvexMaximizer.dll";

void* openLibrary(const std::string& path)
{
    return reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
}

void* librarySymbol(void* library, const char* name)
{
    return library ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name)) : nullptr;
}

void closeLibrary(void* library)
{
    if (library)
        FreeLibrary(static_cast<HMODULE>(library));
}
#else
const char* const kInnerFileName = "Orvex_Maximizer.so";
const char* const kPluginFileName = "MultibandOrvexMaximizer.so";

void* openLibrary(const std::string& path)
{
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* librarySymbol(void* library, const char* name)
{
    return library ? dlsym(library, name) : nullptr;
}

void closeLibrary(void* library)
{
    if (library)
        dlclose(library);
}
#endif

std::atomic<VstIntPtr> versionAnswer{kVstVersion};
std::atomic<VstIntPtr> sampleRateAnswer{44100};
std::atomic<VstIntPtr> blockSizeAnswer{512};
std::atomic<int> ioChangedCalls{0};
std::atomic<bool> restartOnIoChanged{false};

VstIntPtr ORVEX_VSTCALL hostCallback(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    switch (opcode)
    {
    case audioMasterVersion: return versionAnswer.load();
    case audioMasterGetSampleRate: return sampleRateAnswer.load();
    case audioMasterGetBlockSize: return blockSizeAnswer.load();
    case audioMasterIOChanged:
        ++ioChangedCalls;
        if (restartOnIoChanged.load() && effect != nullptr)
        {
            // As some hosts do: suspend and resume at once to take the new latency.
            effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
            effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
        }
        return 1;
    default: return 0;
    }
}

namespace
{

std::filesystem::path freshFolder()
{
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;)
    {
        std::filesystem::path candidate = std::filesystem::temp_directory_path() /
                                          ("orvex-plugin-test-" + std::to_string(stamp) + "-" +
                                           std::to_string(counter++));
        if (std::filesystem::create_directory(candidate))
            return candidate;
    }
}

} // namespace

PluginFolder::PluginFolder(const std::string& innerSource) : folder(freshFolder())
{
#ifdef ORVEX_TEST_PLUGIN_PATH
    std::filesystem::copy_file(ORVEX_TEST_PLUGIN_PATH, folder / kPluginFileName);
#endif
    if (!innerSource.empty())
        std::filesystem::copy_file(innerSource, folder / kInnerFileName);
}

PluginFolder::~PluginFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

Plugin::Plugin(const PluginFolder& folder) : library(openLibrary(folder.pluginPath()))
{
    entry = reinterpret_cast<VstPluginMainProc>(librarySymbol(library, "VSTPluginMain"));
}

Plugin::~Plugin()
{
    closeLibrary(library);
}

AEffect* Plugin::create() const
{
    return entry ? entry(hostCallback) : nullptr;
}

void* loadOnce(const std::string& path)
{
    static std::mutex guard;
    static std::map<std::string, void*> loaded;
    std::lock_guard<std::mutex> hold(guard);
    const auto found = loaded.find(path);
    return found != loaded.end() ? found->second : (loaded[path] = openLibrary(path));
}

VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

std::string textOf(AEffect* effect, VstInt32 opcode, VstInt32 index, int* untouched)
{
    constexpr int kSize = 256;
    constexpr char kGuard = '\x7f';
    char buffer[kSize];
    std::memset(buffer, kGuard, kSize);
    dispatch(effect, opcode, index, 0, buffer);
    int guardBytes = 0;
    while (guardBytes < kSize && buffer[kSize - 1 - guardBytes] == kGuard)
        ++guardBytes;
    if (untouched)
        *untouched = guardBytes;
    return guardBytes == kSize ? std::string("<untouched>") : std::string(buffer, std::find(buffer, buffer + kSize, '\0'));
}

void processBlock(AEffect* effect, std::vector<float>& left, std::vector<float>& right,
                  std::vector<float>& outLeft, std::vector<float>& outRight, bool inPlace)
{
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    if (inPlace)
    {
        effect->processReplacing(effect, inputs, inputs, static_cast<VstInt32>(left.size()));
        outLeft = left;
        outRight = right;
        return;
    }
    effect->processReplacing(effect, inputs, outputs, static_cast<VstInt32>(left.size()));
}

} // namespace TestHost
