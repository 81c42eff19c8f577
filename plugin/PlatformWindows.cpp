// Windows: the module handle recorded at attach finds the effect's folder,
// LoadLibraryA loads the inner plug-in, messages go to a message box, and the
// effect lock is a critical section (MinGW's win32 thread model has no
// std::mutex).
#include "plugin/Platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace
{
HINSTANCE ownModule = nullptr;
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        ownModule = instance;
    return TRUE;
}

namespace Platform
{

const char* const kInnerLibraryName = "Orvex_Maximizer.dll";

std::string innerLibraryPath()
{
    char name[MAX_PATH + 1] = {};
    // A null module would name the host's executable; 0 is failure and a full
    // buffer a cut name. None of them tells our folder, and the current or the
    // root folder could hold a library planted there: nothing is loaded.
    const DWORD length = ownModule != nullptr ? GetModuleFileNameA(ownModule, name, MAX_PATH + 1) : 0;
    if (length == 0 || length > MAX_PATH)
        return std::string();
    for (int i = static_cast<int>(length) - 1; i >= 0; --i)
    {
        if (name[i] == '\\' || name[i] == '/')
        {
            name[i + 1] = '\0';
            return std::string(name) + kInnerLibraryName;
        }
    }
    return std::string();
}

void* loadLibrary(const std::string& path)
{
    return path.empty() ? nullptr : reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
}

void* findFunction(void* library, const char* name)
{
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(void* library)
{
    if (library != nullptr)
        FreeLibrary(static_cast<HMODULE>(library));
}

void showMessage(const char*, const char* text)
{
    MessageBoxA(nullptr, text, nullptr, MB_ICONERROR);
}

struct EffectLock::State
{
    CRITICAL_SECTION section;
};

EffectLock::EffectLock() : state(new State)
{
    InitializeCriticalSection(&state->section);
}

EffectLock::~EffectLock()
{
    DeleteCriticalSection(&state->section);
    delete state;
}

void EffectLock::lock() { EnterCriticalSection(&state->section); }
void EffectLock::unlock() { LeaveCriticalSection(&state->section); }

} // namespace Platform
