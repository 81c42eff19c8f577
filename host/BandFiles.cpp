#include "BandFiles.h"

#include <algorithm>

std::string BandFiles::path(const std::string& folder, const std::string& input, const std::string& output, int band)
{
    const auto name = [](const std::string& file) { return file.substr(file.rfind('/') + 1); };
    const std::string in = name(input);
    const std::string out = name(output);
    const auto inDot = in.rfind('.');
    const auto outDot = out.rfind('.');
    const std::string stem = inDot == std::string::npos || inDot == 0 ? in : in.substr(0, inDot);
    const std::string extension = outDot == std::string::npos || outDot == 0 ? "" : out.substr(outDot);
    return folder + (folder.empty() || folder.back() == '/' ? "" : "/") + stem + ".band" + std::to_string(band + 1) +
           extension;
}

BandFiles::BandFiles(const std::string& folder, const std::string& input, const std::string& output, int format,
                     int sampleRate, int block, std::int64_t leadFrames, DitherKind dither)
    : lead(std::max<std::int64_t>(leadFrames, 0))
{
    const int bits = Dither::bitsOf(format);
    for (int b = 0; b < kBands; ++b)
    {
        SoundFileWriter& writer = writers[static_cast<std::size_t>(b)].emplace(path(folder, input, output, b), format, 2,
                                                                                sampleRate);
        // Noise of its own in every file, so that summed bands do not add it up coherently.
        std::optional<Dither> wordLength;
        if (bits != 0)
            wordLength.emplace(bits, dither, 0x51ED270B27E4A9C3u + static_cast<std::uint64_t>(b));
        streams[static_cast<std::size_t>(b)] =
            std::make_unique<WriteBehind>(&writer, 2, 2, block, sampleRate, Analysis::none, WriteBehind::Tap{}, wordLength);
    }
}

float* const* BandFiles::claim()
{
    for (std::size_t b = 0; b < kBands; ++b)
    {
        claimed[b] = streams[b]->claim();
        channels[2 * b] = claimed[b]->channels[0];
        channels[2 * b + 1] = claimed[b]->channels[1];
    }
    return channels.data();
}

void BandFiles::publish(std::int64_t frames, std::int64_t inputFrames)
{
    // Band signal frame p is file frame p - lead; the files end where the input does.
    const std::int64_t skip = std::clamp<std::int64_t>(lead - position, 0, frames);
    const std::int64_t end =
        inputFrames < 0 ? frames : std::clamp<std::int64_t>(lead + inputFrames - position, skip, frames);
    for (std::size_t b = 0; b < kBands; ++b)
    {
        claimed[b]->frames = end;
        claimed[b]->skip = skip;
        streams[b]->publish();
    }
    position += frames;
}

void BandFiles::finish()
{
    for (auto& stream : streams)
        stream->finish();
}

void BandFiles::commit()
{
    for (auto& writer : writers)
        writer->commit();
}
