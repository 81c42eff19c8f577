#include "Renderer.h"

#include "BandFiles.h"
#include "HostError.h"
#include "InputIntegrity.h"
#include "PluginInstance.h"
#include "ReadAhead.h"
#include "SoundFileReader.h"
#include "SoundFileWriter.h"
#include "SoundFormat.h"
#include "WriteBehind.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <sys/stat.h>

namespace
{
bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa{};
    struct stat sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
} // namespace

Renderer::Renderer(std::shared_ptr<PluginLibrary> lib, std::vector<ParameterSetting> parameterSettings,
                   int blockSize, int format, bool analyseLoudness, bool allowDamage, DitherKind ditherKind)
    : library(std::move(lib)), settings(std::move(parameterSettings)), block(blockSize), sampleFormat(format),
      analyse(analyseLoudness), allowTruncated(allowDamage), dither(ditherKind)
{
    if (block < 1)
        throw HostError("block size must be at least 1, not " + std::to_string(block));
}

InputIntegrity Renderer::open(const std::string& input, bool allowTruncated, std::optional<SoundFileReader>& reader)
{
    const InputIntegrity integrity = InputIntegrity::check(input);
    if (!integrity.damage.empty() && !allowTruncated)
        throw DamagedInputError(input, integrity.damage);
    try
    {
        reader.emplace(input, allowTruncated);
    }
    catch (const HostError&)
    {
        if (!integrity.damage.empty())
            throw DamagedInputError(input, integrity.damage, "nothing in it can be rendered");
        throw;
    }
    return integrity;
}

RenderResult Renderer::render(const std::string& input, const std::string& output, const Progress& progress,
                              const std::atomic<bool>* cancel, const RenderPass& pass) const
{
    if (sameFile(input, output))
        throw HostError("refusing to overwrite the input " + input + "; choose another output");
    std::optional<SoundFileReader> opened;
    const InputIntegrity integrity = open(input, allowTruncated, opened);
    SoundFileReader& reader = *opened;
    const int fileChannels = reader.channels();
    if (fileChannels > 2)
        throw HostError(input + " has " + std::to_string(fileChannels) +
                        " channels; only mono and stereo files can be rendered");

    PluginInstance instance(library, static_cast<float>(reader.sampleRate()), block);
    if (instance.numOutputs() < 1 || instance.numInputs() < 0)
        throw HostError("plug-in has no audio outputs: " + library->path());
    ParameterResolver(instance).apply(settings);
    ParameterResolver(instance).apply(pass.settings);

    RenderResult result;
    result.sampleRate = reader.sampleRate();
    result.latency = std::max(instance.latency(), 0); // read after the settings: they may change it
    const int outChannels = std::min(instance.numOutputs(), 2);
    result.outputFormat =
        SoundFormat::forOutput(reader.format(), output, sampleFormat, outChannels, reader.sampleRate());
    std::optional<SoundFileWriter> writer;
    if (pass.write)
        writer.emplace(output, result.outputFormat, outChannels, reader.sampleRate());

    // Reading, writing and measuring run on two threads of their own; this
    // thread only hands blocks to the plug-in and on.
    const Analysis analysis = analyse ? pass.analysis : Analysis::none;
    ReadAhead in(reader, instance.numInputs(), block, result.latency, analysis,
                 static_cast<float>(std::pow(10.0, pass.gainDb / 20.0)));
    // Integer samples are brought to the file's word length before they are
    // written, measured or encoded; a pass that writes nothing measures
    // loudness only, which that does not move.
    std::optional<Dither> wordLength;
    if (const int bits = writer ? Dither::bitsOf(result.outputFormat) : 0)
        wordLength.emplace(bits, dither);
    WriteBehind out(writer ? &*writer : nullptr, instance.numOutputs(), outChannels, block, reader.sampleRate(),
                    analysis, pass.tap, wordLength);
    std::optional<BandFiles> bands;
    if (writer && !bandFolder.empty())
    {
        const int masterLatency = instance.tapBands(nullptr, 0);
        if (masterLatency < 0)
            throw HostError(library->path() + " has no band outputs");
        bands.emplace(bandFolder, input, output, result.outputFormat, reader.sampleRate(), block,
                      result.latency - masterLatency, dither);
    }
    std::int64_t skip = result.latency;
    GainReductionStats reduction;
    GainReductionHistory history(static_cast<std::int64_t>(LoudnessMeter::stepFramesAt(reader.sampleRate())),
                                 result.latency, reader.frames());
    std::array<float, GainReductionSummary::kInstances> blockDb{};
    // Asked once before the first block: a plug-in may run its meters only
    // from the first reading on.
    bool metered = instance.gainMeters(blockDb);
    while (BlockRing::Block* source = in.next())
    {
        if (cancel && cancel->load(std::memory_order_relaxed))
            throw HostError("interrupted while rendering " + input);
        BlockRing::Block* target = out.claim();
        const std::int64_t frames = source->frames;
        if (bands)
            instance.tapBands(bands->claim(), block);
        instance.process(source->channels.data(), target->channels.data(), static_cast<int>(frames));
        target->frames = frames;
        metered = metered && instance.gainMeters(blockDb);
        if (metered)
        {
            reduction.add(blockDb, frames);
            history.add(blockDb, frames);
        }
        target->skip = std::min(skip, frames);
        skip -= target->skip;
        out.publish();
        const std::int64_t got = source->sourceFrames;
        in.release();
        result.frames += got;
        if (bands)
            bands->publish(frames, got < frames ? result.frames : -1);
        if (progress && got > 0)
            progress(got);
    }
    result.before = in.finish();
    result.after = out.finish();
    if (bands)
    {
        instance.tapBands(nullptr, 0);
        bands->finish();
    }
    result.gainReduction = reduction.summary();
    if (result.gainReduction.present)
        result.gainReductionHistory = history.take(result.frames);
    result.inputDamage = integrity.damage.empty() ? reader.damage() : integrity.damage;
    result.inputWarning = integrity.warning;
    if (writer && (!pass.keep || pass.keep(result)))
    {
        if (bands)
            bands->commit();
        writer->commit();
        result.written = true;
    }
    return result;
}
