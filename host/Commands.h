// The four orvex commands. Each returns the process exit status and reports
// failures as "orvex: " lines on stderr (HostError is caught by main).
// Exit statuses (README, "Exit status"): 0 success; 1 an error; 3 an output
// written that missed a target; 4 a damaged input (refused, or rendered as
// far as it goes when allowed); 130 interrupted. When files of one run end
// differently, the first of 130, 1, 4, 3 that applies.
#pragma once

#include "BatchRenderer.h"
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
    std::string bandsDir; // each band's signal as a file of its own there; empty: none
    // Mastering to a target (any of these makes a render a mastering run).
    std::string settingsFile;
    std::string preset;
    std::string target;   // "-14LUFS"
    std::string truePeak; // "-1dBTP"
    bool album = false;
    std::string codec;    // "mp3:320"
    bool codecSafe = false;
    std::string report;   // JSON file
    std::string plot;     // SVG file for one input; for several, a folder of them
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
    // Exit status of a render that wrote its files but missed a target.
    static constexpr int kMissedTargetStatus = 3;

    static int info(const std::string& plugin, float sampleRate, int blockSize, std::ostream& out);
    static int render(const RenderOptions& options, std::ostream& out, std::ostream& err);
    static int measure(const MeasureOptions& options, std::ostream& out);
    static int demo(const std::string& folder, const std::string& plugin, std::ostream& out, std::ostream& err);

    static std::vector<ParameterSetting> parseSettings(const std::vector<std::string>& texts);
    // The output path for an input: -o, else DIR/<name>, else <stem>-orvex.<ext>
    // beside the input.
    static std::string outputFor(const std::string& input, const std::string& outDir);
    // Where an output's timeline plot goes: `plot` itself for a single
    // input that is not a folder, else <plot>/<output's name>.svg.
    static std::string plotFor(const std::string& output, const std::string& plot, bool single);

private:
    static int master(const RenderOptions& options, const std::shared_ptr<PluginLibrary>& library,
                      const std::vector<ParameterSetting>& settings, int sampleFormat, DitherKind dither,
                      const std::vector<RenderJob>& jobs, int threads, std::ostream& out, std::ostream& err);
    // For `info`: the inner maximizer found beside the plug-in, if any.
    static void describeInner(const std::string& plugin, float sampleRate, int blockSize, std::ostream& out);
};
