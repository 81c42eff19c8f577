#include "SoundFormat.h"

#include "HostError.h"

#include <sndfile.h>

#include <cctype>
#include <strings.h>

namespace
{
bool valid(int format, int channels, int sampleRate)
{
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    return sf_format_check(&info) != 0;
}

std::string extensionOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return path.substr(dot + 1);
}
} // namespace

int SoundFormat::parseSampleFormat(const std::string& name)
{
    if (name.empty())
        return 0;
    if (name == "float32")
        return SF_FORMAT_FLOAT;
    if (name == "pcm24")
        return SF_FORMAT_PCM_24;
    if (name == "pcm16")
        return SF_FORMAT_PCM_16;
    throw HostError("unknown sample format '" + name + "'; use float32, pcm24 or pcm16");
}

int SoundFormat::majorForExtension(const std::string& path)
{
    const std::string extension = extensionOf(path);
    if (extension.empty())
        return 0;
    if (strcasecmp(extension.c_str(), "aif") == 0 || strcasecmp(extension.c_str(), "aifc") == 0)
        return SF_FORMAT_AIFF;
    if (strcasecmp(extension.c_str(), "opus") == 0)
        return SF_FORMAT_OGG;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof(count));
    for (int i = 0; i < count; ++i)
    {
        SF_FORMAT_INFO info{};
        info.format = i;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof(info));
        if (info.extension && strcasecmp(info.extension, extension.c_str()) == 0)
            return info.format & SF_FORMAT_TYPEMASK;
    }
    return 0;
}

int SoundFormat::forOutput(int inputFormat, const std::string& outputPath, int sampleFormat, int channels,
                           int sampleRate)
{
    const int major = majorForExtension(outputPath) ? majorForExtension(outputPath) : inputFormat & SF_FORMAT_TYPEMASK;
    const int subtype = sampleFormat ? sampleFormat : inputFormat & SF_FORMAT_SUBMASK;
    if (valid(major | subtype, channels, sampleRate))
        return major | subtype;
    if (!sampleFormat)
    {
        // Another container than the input's: the nearest sample format it takes.
        for (int fallback : {SF_FORMAT_PCM_24, SF_FORMAT_PCM_16, SF_FORMAT_VORBIS, SF_FORMAT_FLOAT})
            if (valid(major | fallback, channels, sampleRate))
                return major | fallback;
    }
    throw HostError("cannot write " + outputPath + " as " + describe(major | subtype) + " with " +
                    std::to_string(channels) + " channels at " + std::to_string(sampleRate) + " Hz");
}

std::string SoundFormat::describe(int format)
{
    SF_FORMAT_INFO major{};
    major.format = format & SF_FORMAT_TYPEMASK;
    std::string text = sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof(major)) == 0 && major.name
                           ? major.name
                           : "unknown file type";
    switch (format & SF_FORMAT_SUBMASK)
    {
    case SF_FORMAT_FLOAT: return text + " float32";
    case SF_FORMAT_PCM_24: return text + " pcm24";
    case SF_FORMAT_PCM_16: return text + " pcm16";
    default: break;
    }
    SF_FORMAT_INFO sub{};
    sub.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof(sub)) == 0 && sub.name)
        text += std::string(" ") + sub.name;
    return text;
}
