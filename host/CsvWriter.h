// A Response as CSV: a header "frequency_hz,<curve>_db,..." and one row per
// frequency; levels with 6 decimals, "-inf" where nothing came out.
#pragma once

#include "ResponseMeasurer.h"

#include <string>

class CsvWriter
{
public:
    static std::string render(const Response& response);
    // render() written through TextFileWriter; throws HostError.
    static void write(const std::string& path, const Response& response);
};
