// A user's sound kept in a file: one "--set PARAM=VALUE" (or bare
// "PARAM=VALUE") a line; blank lines and lines starting with '#' are skipped.
#pragma once

#include <string>
#include <vector>

class SettingsFile
{
public:
    // The PARAM=VALUE texts in file order. Throws HostError naming the file
    // and line of anything else.
    static std::vector<std::string> read(const std::string& path);
};
