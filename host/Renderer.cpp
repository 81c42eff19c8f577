#include "Renderer.h"

#include "HostError.h"
#include "LoudnessPipeline.h"
#include "PluginInstance.h"
#include "SoundFileReader.h"
#include "SoundFileWriter.h"
#include "SoundFormat.h"

#include <algorithm>
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

// Channel buffers handed to the plug-in, plus the interleaved file blocks.
struct Buffers
{
    Buffers(int inputs, int outputs, int fileChannels, int outChannels, int frames)
        : inputData(static_cast<std::size_t>(std::max(inputs, 1)), std::vector<float>(frames)),
          outputData(static_cast<std::size_t>(std::max(outputs, 1)), std::vector<float>(frames)),
          fileBlock(static_cast<std::size_t>(fileChannels) * frames),
          outBlock(static_cast<std::size_t>(outChannels) * frames)
    {
        for (auto& channel : inputData)
            inputPointers.push_back(channel.data());
        for (auto& channel : outputData)
            outputPointers.push_back(channel.data());
    }

    std::vector<std::vector<float>> inputData;
    std::vector<std::vector<float>> outputData;
    std::vector<float*> inputPointers;
    std::vector<float*> outputPointers;
    std::vector<float> fileBlock;
    std::vector<float> outBlock;
};

// File channels to plug-in inputs: a mono file feeds every input.
void deinterleave(Buffers& buffers, int fileChannels, std::int64_t frames, std::int64_t padded)
{
    for (std::size_t input = 0; input < buffers.inputData.size(); ++input)
    {
        const int source = std::min(static_cast<int>(input), fileChannels - 1);
        float* channel = buffers.inputData[input].data();
        for (std::int64_t i = 0; i < frames; ++i)
            channel[i] = buffers.fileBlock[static_cast<std::size_t>(i * fileChannels + source)];
        std::fill(channel + frames, channel + padded, 0.0f);
    }
}

void interleave(Buffers& buffers, int outChannels, std::int64_t from, std::int64_t count)
{
    for (int c = 0; c < outChannels; ++c)
    {
        const float* channel = buffers.outputData[static_cast<std::size_t>(c)].data() + from;
        for (std::int64_t i = 0; i < count; ++i)
            buffers.outBlock[static_cast<std::size_t>(i * outChannels + c)] = channel[i];
    }
}
} // namespace

Renderer::Renderer(std::shared_ptr<PluginLibrary> lib, std::vector<ParameterSetting> parameterSettings,
                   int blockSize, int format, bool analyseLoudness)
    : library(std::move(lib)), settings(std::move(parameterSettings)), block(blockSize), sampleFormat(format),
      analyse(analyseLoudness)
{
    if (block < 1)
        throw HostError("block size must be at least 1, not " + std::to_string(block));
}

RenderResult Renderer::render(const std::string& input, const std::string& output, const Progress& progress,
                              const std::atomic<bool>* cancel) const
{
    if (sameFile(input, output))
        throw HostError("refusing to overwrite the input " + input + "; choose another output");
    SoundFileReader reader(input);
    const int fileChannels = reader.channels();
    if (fileChannels > 2)
        throw HostError(input + " has " + std::to_string(fileChannels) +
                        " channels; only mono and stereo files can be rendered");

    PluginInstance instance(library, static_cast<float>(reader.sampleRate()), block);
    if (instance.numOutputs() < 1 || instance.numInputs() < 0)
        throw HostError("plug-in has no audio outputs: " + library->path());
    ParameterResolver(instance).apply(settings);

    RenderResult result;
    result.latency = std::max(instance.latency(), 0); // read after the settings: they may change it
    const int outChannels = std::min(instance.numOutputs(), 2);
    result.outputFormat =
        SoundFormat::forOutput(reader.format(), output, sampleFormat, outChannels, reader.sampleRate());
    SoundFileWriter writer(output, result.outputFormat, outChannels, reader.sampleRate());
    std::optional<LoudnessPipeline> inputAnalysis;
    std::optional<LoudnessPipeline> outputAnalysis;
    if (analyse)
    {
        inputAnalysis.emplace(fileChannels, reader.sampleRate());
        outputAnalysis.emplace(outChannels, reader.sampleRate());
    }
    Buffers buffers(instance.numInputs(), instance.numOutputs(), fileChannels, outChannels, block);

    std::int64_t skip = result.latency;
    std::int64_t tail = result.latency;
    bool ended = false;
    for (;;)
    {
        if (cancel && cancel->load(std::memory_order_relaxed))
            throw HostError("interrupted while rendering " + input);
        const std::int64_t got = ended ? 0 : reader.read(buffers.fileBlock.data(), block);
        ended = ended || got < block;
        const std::int64_t pad = ended ? std::min<std::int64_t>(block - got, tail) : 0;
        tail -= pad;
        const std::int64_t frames = got + pad;
        if (frames == 0)
            break;
        if (inputAnalysis)
            inputAnalysis->add(buffers.fileBlock.data(), got);
        deinterleave(buffers, fileChannels, got, frames);
        instance.process(buffers.inputPointers.data(), buffers.outputPointers.data(), static_cast<int>(frames));

        const std::int64_t dropped = std::min(skip, frames);
        skip -= dropped;
        interleave(buffers, outChannels, dropped, frames - dropped);
        writer.write(buffers.outBlock.data(), frames - dropped);
        if (outputAnalysis)
            outputAnalysis->add(buffers.outBlock.data(), frames - dropped);
        result.frames += got;
        if (progress && got > 0)
            progress(got);
    }
    writer.commit();
    if (analyse)
    {
        result.before = inputAnalysis->finish();
        result.after = outputAnalysis->finish();
    }
    return result;
}
