// The per-file text report: loudness and peaks before and after rendering.
#pragma once

#include "Renderer.h"

#include <string>

class RenderReport
{
public:
    static std::string format(const std::string& input, const std::string& output, const RenderResult& result);
    // The loudness and peak rows alone.
    static std::string table(const LoudnessStats& before, const LoudnessStats& after);
    // "orvex: warning: " lines for an input rendered though damaged, or
    // followed by unknown bytes; empty for a whole input.
    static std::string inputWarnings(const std::string& input, const RenderResult& result);
    static std::string number(double value, int decimals); // "-inf" for minus infinity
};
