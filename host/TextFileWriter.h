// Writes a whole text file through a temporary file in the same folder,
// renamed into place only when every byte was written and the file closed.
#pragma once

#include <string>

class TextFileWriter
{
public:
    // Throws HostError naming the file and the reason; leaves no partial file.
    static void write(const std::string& path, const std::string& content);
};
