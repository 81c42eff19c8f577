// What differs between operating systems for the multiband effect, in one
// place: the effect's own folder, loading the inner plug-in library and
// looking up its entry, showing the start-up messages, and the effect lock.
// PlatformWindows.cpp and PlatformPosix.cpp implement it; the build picks one.
#pragma once

#include <string>

namespace Platform
{

// File name of the inner maximizer, looked for in the effect's own folder.
extern const char* const kInnerLibraryName;

// Full path of the inner maximizer: the folder of the library this code is
// linked into, a separator and kInnerLibraryName; empty when that folder
// cannot be determined. Allocates; set-up only.
std::string innerLibraryPath();

// Loads a library by path; null on failure and for an empty path.
void* loadLibrary(const std::string& path);

// Address of an exported function, or null when the library does not export it.
void* findFunction(void* library, const char* name);

// Unloads a library returned by loadLibrary; null is ignored.
void freeLibrary(void* library);

// Shows a start-up failure message to the user: a message box with the
// system's default caption on Windows, one line "<effectName>: <text>" on
// standard error elsewhere.
void showMessage(const char* effectName, const char* text);

// The effect lock: a mutual-exclusion lock, not recursive. Construction
// allocates; lock() may block, so the audio thread holds only this lock.
class EffectLock
{
public:
    EffectLock();
    ~EffectLock();
    EffectLock(const EffectLock&) = delete;
    EffectLock& operator=(const EffectLock&) = delete;

    void lock();
    void unlock();

private:
    struct State;
    State* state;
};

// Holds an EffectLock for the lifetime of the guard.
class ScopedLock
{
public:
    explicit ScopedLock(EffectLock& held) : lockRef(held) { lockRef.lock(); }
    ~ScopedLock() { lockRef.unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    EffectLock& lockRef;
};

} // namespace Platform
