// Renders a render's course over the file's time as a standalone SVG: the
// short-term loudness (3 s window, every 100 ms) of the input and of the
// output in LUFS above, and, where the plug-in has band meters, each band's
// and the master's gain reduction in dB below, on one time axis (seconds, or
// m:ss from a minute on). Where a step holds more points than the plot has
// pixel columns, a column shows the loudest and the deepest of its points.
#pragma once

#include "Renderer.h"

#include <string>

class TimelinePlot
{
public:
    static std::string render(const RenderResult& result, const std::string& title);
    // render() written through TextFileWriter; throws HostError.
    static void write(const std::string& path, const RenderResult& result, const std::string& title);
};
