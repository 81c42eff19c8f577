// Renders one audio file through a fresh instance of a plug-in into another
// file, aligned sample for sample with the input, and measures the loudness
// and peaks of both.
//
// The instance is told the file's sample rate and the block size. Mono files
// are fed to both plug-in inputs and come out as two channels (nothing the
// plug-in makes of them is lost); files with more than two channels are
// refused. The plug-in's latency is compensated: that many frames are dropped
// at the start and the input is followed by as many frames of silence, so the
// output has exactly the input's length.
//
// The calling thread only runs the plug-in: the input is read and decoded
// ahead of it, and the output written behind it, each on a thread of its own
// that also measures its side (ReadAhead, WriteBehind). render() may run on
// several threads at once; each call owns its instance and its two helpers.
#pragma once

#include "Dither.h"
#include "GainReductionHistory.h"
#include "GainReductionStats.h"
#include "InputIntegrity.h"
#include "LoudnessMeter.h"
#include "ParameterResolver.h"
#include "PluginLibrary.h"
#include "SoundFileReader.h"
#include "WriteBehind.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct RenderResult
{
    std::int64_t frames = 0;
    int sampleRate = 0;
    int latency = 0;
    int outputFormat = 0;
    bool written = false; // the output file was committed
    LoudnessStats before{};
    LoudnessStats after{};
    GainReductionSummary gainReduction; // the plug-in's band meters, where it has them
    // The band meters every 100 ms of the file (steps as the loudness
    // meters' shortTermLufs), empty where the plug-in has none.
    std::vector<GainReductionHistory::Reading> gainReductionHistory;
    std::string inputDamage;  // why the input was not whole (rendered as far as it goes), or empty
    std::string inputWarning; // what follows its audio that is not a known chunk, or empty
};

// How one render differs from the renderer's plain one: a pass of a search
// for settings renders without writing and measures only what it needs.
struct RenderPass
{
    double gainDb = 0.0;                    // a plain gain before the plug-in
    std::vector<ParameterSetting> settings; // applied after the renderer's own
    bool write = true;                      // false: the output is measured only
    Analysis analysis = Analysis::full;     // (the renderer's `analyse` off: none)
    WriteBehind::Tap tap;                   // also sees the output (a codec check)
    // Asked before the output is committed; false discards it.
    std::function<bool(const RenderResult&)> keep;
};

class Renderer
{
public:
    using Progress = std::function<void(std::int64_t frames)>;

    // sampleFormat: 0 to keep the input's, else SF_FORMAT_FLOAT/PCM_24/PCM_16.
    // analyse: measure loudness and peaks (on the reading and writing
    // threads); without it the result's figures stay zero. allowTruncated:
    // render a damaged input as far as it goes instead of refusing it.
    // dither: for outputs with integer samples (pcm16, pcm24), at their word
    // length; they are rounded to it either way.
    Renderer(std::shared_ptr<PluginLibrary> library, std::vector<ParameterSetting> settings, int blockSize,
             int sampleFormat = 0, bool analyse = true, bool allowTruncated = false,
             DitherKind dither = DitherKind::tpdf);

    // Throws HostError on any failure (DamagedInputError for an input that
    // does not hold what its header declares, checked before rendering where
    // the container allows and while decoding otherwise); the output then does
    // not exist (or is left as it was). `progress` receives input frames as they are consumed;
    // a set `cancel` flag stops the render with an "interrupted" error.
    RenderResult render(const std::string& input, const std::string& output, const Progress& progress = {},
                        const std::atomic<bool>* cancel = nullptr, const RenderPass& pass = {}) const;

    int blockSize() const { return block; }

    // Also writes each band's signal of every kept output into `folder`
    // (BandFiles), committed with the output; empty: none. A plug-in without
    // band outputs then fails the render.
    void writeBands(std::string folder) { bandFolder = std::move(folder); }

    // Opens `input` as render() does: checked first, a damaged file refused
    // (DamagedInputError) unless `allowTruncated`, and also when nothing in
    // it can be decoded. Returns what the check found.
    static InputIntegrity open(const std::string& input, bool allowTruncated, std::optional<SoundFileReader>& reader);

private:
    std::shared_ptr<PluginLibrary> library;
    std::vector<ParameterSetting> settings;
    int block;
    int sampleFormat;
    bool analyse;
    bool allowTruncated;
    DitherKind dither;
    std::string bandFolder;
};
