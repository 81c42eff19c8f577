// Renders a Response as a standalone SVG plot: log frequency axis 20 Hz to
// 20 kHz with decade grid and labels, dB axis, one coloured line per curve and
// a legend.
#pragma once

#include "ResponseMeasurer.h"

#include <string>

class SvgPlotWriter
{
public:
    static std::string render(const Response& response, const std::string& title);
    // render() written through TextFileWriter; throws HostError.
    static void write(const std::string& path, const Response& response, const std::string& title);
};
