#include "SettingsFile.h"

#include "HostError.h"

#include <cerrno>
#include <cstring>
#include <fstream>

std::vector<std::string> SettingsFile::read(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        throw HostError("cannot read settings file " + path + ": " + std::strerror(errno));
    std::vector<std::string> settings;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number)
    {
        const auto begin = line.find_first_not_of(" \t\r");
        if (begin == std::string::npos || line[begin] == '#')
            continue;
        std::string text = line.substr(begin, line.find_last_not_of(" \t\r") + 1 - begin);
        if (text.rfind("--set", 0) == 0)
        {
            const auto value = text.find_first_not_of(" \t=", 5);
            if (value == 5 || value == std::string::npos)
                throw HostError(path + ":" + std::to_string(number) + ": expected --set PARAM=VALUE, not '" + text + "'");
            text = text.substr(value);
        }
        if (text.find('=') == std::string::npos || text[0] == '-')
            throw HostError(path + ":" + std::to_string(number) + ": expected --set PARAM=VALUE, not '" + text + "'");
        settings.push_back(text);
    }
    if (file.bad())
        throw HostError("cannot read settings file " + path + ": " + std::strerror(errno));
    return settings;
}
