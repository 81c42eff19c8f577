// The one small VST 2.4 host every host-driven test uses (the orvex_test_host
// library): loads plug-in libraries, answers their callbacks, copies the
// built multiband plug-in into a fresh folder, and talks to effects only
// through their exported entry and the effect record. Portable: the only
// system calls sit in TestHost.cpp.
#pragma once

#include "vst/AEffect.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

namespace TestHost
{

// Library loading, the one place that differs between systems.
void* openLibrary(const std::string& path);
void* librarySymbol(void* library, const char* name);
void closeLibrary(void* library);
// A library loaded once per process and kept loaded, as most hosts do; null
// when it cannot be loaded. May be called from several threads.
void* loadOnce(const std::string& path);

extern const char* const kInnerFileName;  // "Orvex_Maximizer.so" / ".dll"
extern const char* const kPluginFileName; // "MultibandOrvexMaximizer.so" / ".dll"

// What hostCallback answers to audioMasterVersion (2400 unless a test changes
// it), audioMasterGetSampleRate and audioMasterGetBlockSize; 0 to the rest.
extern std::atomic<VstIntPtr> versionAnswer;
extern std::atomic<VstIntPtr> sampleRateAnswer;
extern std::atomic<VstIntPtr> blockSizeAnswer;
VstIntPtr ORVEX_VSTCALL hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                     float opt);
// How often any effect asked the host to re-read its latency (audioMasterIOChanged).
extern std::atomic<int> ioChangedCalls;
// When set, the host suspends and resumes an effect from within its ioChanged call.
extern std::atomic<bool> restartOnIoChanged;

// A fresh temporary folder holding a copy of the multiband plug-in and,
// optionally, a library copied beside it under the inner maximizer's name.
// Removed, with everything in it, on destruction.
class PluginFolder
{
public:
    explicit PluginFolder(const std::string& innerSource = std::string());
    ~PluginFolder();
    PluginFolder(const PluginFolder&) = delete;
    PluginFolder& operator=(const PluginFolder&) = delete;

    const std::filesystem::path& path() const { return folder; }
    std::string innerPath() const { return (folder / kInnerFileName).string(); }
    std::string pluginPath() const { return (folder / kPluginFileName).string(); }

private:
    std::filesystem::path folder;
};

// The loaded plug-in copy of a folder.
class Plugin
{
public:
    explicit Plugin(const PluginFolder& folder);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool loaded() const { return library != nullptr && entry != nullptr; }
    // A new effect from the entry point with the test host's callback (may be null).
    AEffect* create() const;

private:
    void* library = nullptr;
    VstPluginMainProc entry = nullptr;
};

// Dispatcher shorthand.
VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f);
// The text an opcode writes into a buffer pre-filled with `guard` bytes; `untouched`
// reports the number of guard bytes left at the end of the buffer.
std::string textOf(AEffect* effect, VstInt32 opcode, VstInt32 index = 0, int* untouched = nullptr);
// Runs processReplacing on stereo buffers (in place when `inPlace`).
void processBlock(AEffect* effect, std::vector<float>& left, std::vector<float>& right,
                  std::vector<float>& outLeft, std::vector<float>& outRight, bool inPlace);

} // namespace TestHost
