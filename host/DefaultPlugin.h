// Where the host finds the multiband plug-in when none is named, whatever the
// working folder: the plug-in folder beside the orvex executable (a build
// tree), lib/vst under the executable's prefix (an installed orvex), each
// folder of VST_PATH, then the usual VST folders ~/.vst, /usr/local/lib/vst
// and /usr/lib/vst.
#pragma once

#include <string>
#include <vector>

class DefaultPlugin
{
public:
    // The first candidate that exists; the first candidate when none does, so
    // the error names where a build would have put it.
    static std::string path();
    // Every candidate in search order; `vstPath` and `home` may be null.
    static std::vector<std::string> candidates(const std::string& executableFolder, const char* vstPath,
                                               const char* home);
    static std::string executableFolder(); // from /proc/self/exe
};
