// The four orvex commands. Each returns the process exit status and reports
// failures as "orvex: " lines on stderr (HostError is caught by main).
// Exit statuses (README, "Exit status"): 0 success; 1 an error; 3 reserved
// for an output written that missed a target; 4 a damaged input (refused, or
// rendered as far as it goes when allowed); 130 interrupted. When files of
// one run end differently, the first of 130, 1, 4, 3 that applies.
#pragma once

#include "ParameterResolver.h"

#include <ostream>
#include <string>
#include <vector>

struct RenderOptions
{
    std::vector<std::string> inputs;
    std::string output;
    std::string outDir;
    std::string plugin;
    std::vector<std::string> settings;
    int blockSize = 1024;
    int jobs = 0; // 0: one per core
    std::string format;
    bool allowTruncated = false;
    std::string dither = "tpdf"; // or "none"
};

struct MeasureOptions
{
    std::string plugin;
    std::vector<std::string> settings;
    bool bands = false;
    std::string svg;
    std::string csv;
    float sampleRate = 48000.0f;
    int blockSize = 1024;
    int points = 200;
};

class Commands
{
public:
    static int info(const std::string& plugin, float sampleRate, int blockSize, std::ostream& out);
    static int render(const RenderOptions& options, std::ostream& out, std::ostream& err);
    static int measure(const MeasureOptions& options, std::ostream& out);
    static int demo(const std::string& folder, const std::string& plugin, std::ostream& out, std::ostream& err);

    static std::vector<ParameterSetting> parseSettings(const std::vector<std::string>& texts);
    // The output path for an input: -o, else DIR/<name>, else <stem>-orvex.<ext>
    // beside the input.
    static std::string outputFor(const std::string& input, const std::string& outDir);

private:
    // For `info`: the inner maximizer found beside the plug-in, if any.
    static void describeInner(const std::string& plugin, float sampleRate, int blockSize, std::ostream& out);
};
