#include "CodecRoundTrip.h"

#include "HostError.h"
#include "TruePeakMeter.h"

#include <sndfile.h>

#include <algorithm>
#include <iterator>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace
{
struct Range
{
    double low;
    double high;
};

double number(const std::string& text, Range range, const std::string& codecText, const char* accepted)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= range.low && value <= range.high))
        throw HostError("codec '" + codecText + "' not understood; " + accepted);
    return value;
}
} // namespace

// An encoded stream in memory, and libsndfile's virtual I/O over it.
struct CodecRoundTrip::Memory
{
    std::vector<unsigned char> bytes;
    sf_count_t position = 0;
    SNDFILE* file = nullptr;

    static Memory& of(void* data) { return *static_cast<Memory*>(data); }
    static sf_count_t length(void* data) { return static_cast<sf_count_t>(of(data).bytes.size()); }
    static sf_count_t seek(sf_count_t offset, int whence, void* data)
    {
        Memory& m = of(data);
        const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m.position : length(data);
        m.position = std::max<sf_count_t>(0, base + offset);
        return m.position;
    }
    static sf_count_t read(void* out, sf_count_t count, void* data)
    {
        Memory& m = of(data);
        const sf_count_t available = std::max<sf_count_t>(0, length(data) - m.position);
        const sf_count_t taken = std::min(count, available);
        std::memcpy(out, m.bytes.data() + m.position, static_cast<std::size_t>(taken));
        m.position += taken;
        return taken;
    }
    static sf_count_t write(const void* in, sf_count_t count, void* data)
    {
        Memory& m = of(data);
        const std::size_t end = static_cast<std::size_t>(m.position + count);
        if (end > m.bytes.size())
            m.bytes.resize(end);
        std::memcpy(m.bytes.data() + m.position, in, static_cast<std::size_t>(count));
        m.position += count;
        return count;
    }
    static sf_count_t tell(void* data) { return of(data).position; }
    static SF_VIRTUAL_IO io() { return {length, seek, read, write, tell}; }
};

CodecRoundTrip::Codec CodecRoundTrip::parse(const std::string& codecText, int channels)
{
    const auto colon = codecText.find(':');
    const std::string name = codecText.substr(0, colon);
    const std::string value = colon == std::string::npos ? std::string() : codecText.substr(colon + 1);
    constexpr const char* kAccepted = "use mp3:KBPS (32-320), opus:KBPS (6-256 a channel) or vorbis:QUALITY (0-10)";
    // libsndfile's compression level spans each codec's range of rates:
    // MP3 320 to 32 kbit/s, Opus 256 to 6 kbit/s a channel, Vorbis
    // quality 1 to 0.
    const double perChannel = std::max(channels, 1);
    if (name == "mp3")
        return {SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
                (320.0 - number(value, {32, 320}, codecText, kAccepted)) / (320.0 - 32.0), SF_BITRATE_MODE_CONSTANT};
    if (name == "opus")
        return {SF_FORMAT_OGG | SF_FORMAT_OPUS,
                (256.0 - number(value, {6 * perChannel, 256 * perChannel}, codecText, kAccepted) / perChannel) / (256.0 - 6.0),
                SF_BITRATE_MODE_CONSTANT};
    if (name == "vorbis")
        return {SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1.0 - number(value, {0, 10}, codecText, kAccepted) / 10.0, -1};
    throw HostError("codec '" + codecText + "' not understood; " + kAccepted);
}

CodecRoundTrip::CodecRoundTrip(const std::string& codecText, int channelCount, int rate)
    : memory(std::make_unique<Memory>()), channels(channelCount), sampleRate(rate),
      decoded(-std::numeric_limits<double>::infinity())
{
    const Codec codec = parse(codecText, channels);
    SF_INFO info{};
    info.format = codec.format;
    info.channels = channels;
    info.samplerate = sampleRate;
    constexpr int kOpusRates[] = {8000, 12000, 16000, 24000, 48000};
    if ((codec.format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS &&
        std::find(std::begin(kOpusRates), std::end(kOpusRates), sampleRate) == std::end(kOpusRates))
    {
        resampler.emplace(channels, sampleRate, 48000);
        info.samplerate = 48000;
    }
    SF_VIRTUAL_IO io = Memory::io();
    if (sf_format_check(&info))
        memory->file = sf_open_virtual(&io, SFM_WRITE, &info, memory.get());
    if (!memory->file)
        throw HostError("cannot encode '" + codecText + "' at " + std::to_string(info.samplerate) + " Hz with " +
                        std::to_string(channels) + " channels: " + sf_strerror(nullptr));
    if (codec.bitrateMode >= 0)
    {
        int mode = codec.bitrateMode;
        sf_command(memory->file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    }
    double level = codec.compression;
    sf_command(memory->file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
}

CodecRoundTrip::~CodecRoundTrip()
{
    if (memory->file)
        sf_close(memory->file);
}

void CodecRoundTrip::encode(const float* interleaved, std::int64_t frames)
{
    if (finished)
        return;
    if (!resampler)
        return write(interleaved, frames);
    resampled.clear();
    resampler->process(interleaved, frames, resampled);
    write(resampled.data(), static_cast<std::int64_t>(resampled.size()) / channels);
}

void CodecRoundTrip::write(const float* interleaved, std::int64_t frames)
{
    if (frames > 0 && sf_writef_float(memory->file, interleaved, frames) != frames)
        throw HostError(std::string("encoding failed: ") + sf_strerror(memory->file));
}

std::size_t CodecRoundTrip::encodedBytes() const
{
    return memory->bytes.size();
}

double CodecRoundTrip::decodedTruePeakDb()
{
    if (finished)
        return decoded;
    if (resampler)
    {
        resampled.clear();
        resampler->finish(resampled);
        write(resampled.data(), static_cast<std::int64_t>(resampled.size()) / channels);
    }
    finished = true;
    sf_close(memory->file);
    memory->file = nullptr;
    memory->position = 0;
    SF_INFO info{};
    SF_VIRTUAL_IO io = Memory::io();
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, memory.get());
    if (!file)
        throw HostError(std::string("cannot decode the encoded master: ") + sf_strerror(nullptr));
    TruePeakMeter meter(std::clamp(info.channels, 1, 2), info.samplerate);
    std::vector<float> chunk(8192 * static_cast<std::size_t>(info.channels));
    std::vector<float> pair(8192 * 2);
    while (const sf_count_t got = sf_readf_float(file, chunk.data(), 8192))
    {
        const float* frames = chunk.data();
        if (info.channels > 2)
        {
            for (sf_count_t i = 0; i < got; ++i)
                for (int c = 0; c < 2; ++c)
                    pair[static_cast<std::size_t>(2 * i + c)] = chunk[static_cast<std::size_t>(i * info.channels + c)];
            frames = pair.data();
        }
        meter.add(frames, got);
    }
    sf_close(file);
    const double peak = meter.peak();
    decoded = peak > 0.0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
    return decoded;
}
