// Where the host finds the multiband plug-in when none is named: the plug-in
// folder relative to the orvex executable itself, whatever the working folder.
#pragma once

#include <string>

class DefaultPlugin
{
public:
    static std::string path();
    static std::string executableFolder(); // from /proc/self/exe
};
