#include "RenderReport.h"

#include "SoundFormat.h"

#include <cmath>
#include <cstdio>

std::string RenderReport::number(double value, int decimals)
{
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

namespace
{
// "  gain reduction  mean dB  max dB  limiting" and a row per band and the master.
std::string gainReductionRows(const GainReductionSummary& summary)
{
    if (!summary.present)
        return "";
    char line[160];
    std::snprintf(line, sizeof line, "  %-15s %8s %8s %9s\n", "gain reduction", "mean dB", "max dB", "limiting");
    std::string rows = line;
    for (int i = 0; i < GainReductionSummary::kInstances; ++i)
    {
        const auto at = static_cast<std::size_t>(i);
        const std::string what = i == GainReductionSummary::kInstances - 1 ? "master" : "band " + std::to_string(i + 1);
        std::snprintf(line, sizeof line, "  %-15s %8s %8s %7s %%\n", what.c_str(),
                      RenderReport::number(summary.meanDb[at], 2).c_str(), RenderReport::number(summary.maxDb[at], 2).c_str(),
                      RenderReport::number(100.0 * summary.limitingShare[at], 1).c_str());
        rows += line;
    }
    return rows;
}
} // namespace

std::string RenderReport::table(const LoudnessStats& before, const LoudnessStats& after)
{
    auto row = [](const char* what, const LoudnessStats& stats) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-7s %10s %8s %12s %12s\n", what, number(stats.integratedLufs, 1).c_str(),
                      number(stats.rangeLu, 1).c_str(), number(stats.samplePeakDb, 2).c_str(),
                      number(stats.truePeakDb, 2).c_str());
        return std::string(line);
    };
    char header[160];
    std::snprintf(header, sizeof header, "  %-7s %10s %8s %12s %12s\n", "", "LUFS", "LRA LU", "peak dBFS",
                  "true dBTP");
    return header + row("before", before) + row("after", after);
}

std::string RenderReport::format(const std::string& input, const std::string& output, const RenderResult& result)
{
    return input + " -> " + output + " (" + SoundFormat::describe(result.outputFormat) + ", " +
           std::to_string(result.frames) + " frames, latency " + std::to_string(result.latency) + ")\n" +
           table(result.before, result.after) + gainReductionRows(result.gainReduction) +
           (result.inputDamage.empty() ? "" : "  input truncated: " + result.inputDamage + "\n");
}

std::string RenderReport::inputWarnings(const std::string& input, const RenderResult& result)
{
    std::string warnings;
    if (!result.inputDamage.empty())
        warnings += "orvex: warning: " + input + " is damaged: " + result.inputDamage + "; rendered the " +
                    std::to_string(result.frames) + " frames it holds\n";
    if (!result.inputWarning.empty())
        warnings += "orvex: warning: " + input + ": " + result.inputWarning + "\n";
    return warnings;
}
