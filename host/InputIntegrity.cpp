#include "InputIntegrity.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Chunks that may follow the audio: the metadata RIFF/WAVE and AIFF writers add.
bool isMetadata(const std::string& id)
{
    static const std::set<std::string> kKnown = {
        "LIST", "id3 ", "ID3 ", "bext", "cue ", "smpl", "inst", "acid", "PEAK", "iXML", "axml", "JUNK", "junk",
        "PAD ", "FLLR", "fact", "cart", "_PMX", "umid", "DISP", "levl", "chna", "dbmd", "MD5 ", "SyLp",
        "NAME", "AUTH", "(c) ", "ANNO", "COMT", "MARK", "INST", "APPL", "MIDI", "AESD", "CHAN", "FVER"};
    return kKnown.count(id) != 0;
}

// The three container layouts: where the audio is and how numbers are stored.
struct Container
{
    bool bigEndian;
    bool wide;            // RF64/BW64: 64-bit lengths in the ds64 chunk
    const char* audioId;  // the chunk holding the audio
    std::int64_t preamble; // bytes of the audio chunk before the audio (SSND: offset, block size)
};

const Container kRiff{false, false, "data", 0};
const Container kRifx{true, false, "data", 0};
const Container kRf64{false, true, "data", 0};
const Container kAiff{true, false, "SSND", 8};

// The file's bytes by position; reads past the end come back short.
class Bytes
{
public:
    explicit Bytes(const std::string& path) : descriptor(open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat info{};
        if (descriptor >= 0 && fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode))
            length = info.st_size;
    }
    ~Bytes()
    {
        if (descriptor >= 0)
            close(descriptor);
    }
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;

    bool regular() const { return length >= 0; }
    std::int64_t size() const { return length; }
    std::string text(std::int64_t at, std::size_t count) const
    {
        std::string bytes(count, '\0');
        const ssize_t got = pread(descriptor, bytes.data(), count, at);
        bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return bytes;
    }
    std::uint64_t number(std::int64_t at, int count, bool bigEndian) const
    {
        const std::string bytes = text(at, static_cast<std::size_t>(count));
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
        {
            const auto byte = static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i]));
            value |= bigEndian ? byte << (8 * (bytes.size() - 1 - i)) : byte << (8 * i);
        }
        return value;
    }

private:
    int descriptor;
    std::int64_t length = -1;
};

// AIFF's sample rate: an 80-bit extended float.
double extended(const Bytes& file, std::int64_t at)
{
    const auto signAndExponent = static_cast<int>(file.number(at, 2, true));
    const std::uint64_t mantissa = file.number(at + 2, 8, true);
    const double value = std::ldexp(static_cast<double>(mantissa), (signAndExponent & 0x7FFF) - 16383 - 63);
    return signAndExponent & 0x8000 ? -value : value;
}

std::string amount(std::int64_t count, const char* unit, double perSecond)
{
    std::string text = std::to_string(count) + " " + unit;
    if (perSecond > 0.0)
    {
        char seconds[40];
        std::snprintf(seconds, sizeof seconds, " (%.3f s)", static_cast<double>(count) / perSecond);
        text += seconds;
    }
    return text;
}

const Container* containerOf(const std::string& head)
{
    const std::string magic = head.substr(0, 4);
    const std::string form = head.size() >= 12 ? head.substr(8, 4) : std::string();
    if (form == "WAVE")
        return magic == "RIFF" ? &kRiff : magic == "RIFX" ? &kRifx : magic == "RF64" || magic == "BW64" ? &kRf64 : nullptr;
    if (magic == "FORM" && (form == "AIFF" || form == "AIFC"))
        return &kAiff;
    return nullptr;
}

// The audio's bytes per second, read from the format chunk at `at` (the
// WAV average byte rate; AIFF's channels, sample size and rate, uncompressed
// only), else `known`.
double audioBytesPerSecond(const Bytes& file, std::int64_t at, const std::string& id, std::uint64_t body,
                           bool bigEndian, double known)
{
    if (id == "fmt " && body >= 12)
        return static_cast<double>(file.number(at + 16, 4, bigEndian));
    const bool uncompressed = body < 22 || file.text(at + 26, 4) == "NONE" || file.text(at + 26, 4) == "sowt";
    if (id == "COMM" && body >= 18 && uncompressed)
    {
        const std::uint64_t channels = file.number(at + 8, 2, true);
        const std::uint64_t sampleBytes = (file.number(at + 14, 2, true) + 7) / 8;
        return static_cast<double>(channels * sampleBytes) * extended(file, at + 16);
    }
    return known;
}

// Walks the chunks of a file whose 12-byte header names `container`.
InputIntegrity walk(const Bytes& file, const Container& container)
{
    InputIntegrity result;
    const bool big = container.bigEndian;
    const std::int64_t size = file.size();
    std::uint64_t formEnd = 8 + file.number(4, 4, big);
    std::uint64_t wideAudioSize = 0;
    double bytesPerSecond = 0.0;
    bool audioSeen = false;
    for (std::int64_t at = 12; at < size;)
    {
        if (at + 8 > size)
        {
            (audioSeen ? result.warning : result.damage) =
                "the file ends after " + std::to_string(size) + " bytes, inside a chunk header" +
                (audioSeen ? " after the audio" : ", before the audio");
            return result;
        }
        const std::string id = file.text(at, 4);
        std::uint64_t body = file.number(at + 4, 4, big);
        const std::int64_t held = size - at - 8;
        const bool isAudio = !audioSeen && id == container.audioId;
        if (container.wide && id == "ds64" && held >= 16)
        {
            formEnd = 8 + file.number(at + 8, 8, false);
            wideAudioSize = file.number(at + 16, 8, false);
        }
        if (isAudio && container.wide && body == 0xFFFFFFFFu)
            body = wideAudioSize;
        else if (isAudio && (body == 0xFFFFFFFFu || body == 0x7FFFF000u))
            return result; // written to a stream of unknown length: the audio is the rest of the file
        if (audioSeen && !isMetadata(id))
        {
            result.warning = std::to_string(size - at) + " bytes after the audio are not a known chunk; ignored";
            return result;
        }
        if (body > static_cast<std::uint64_t>(held))
        {
            const std::string chunk = "'" + id + "' chunk";
            if (isAudio)
                result.damage = "its header declares " +
                                amount(static_cast<std::int64_t>(body) - container.preamble, "bytes of audio", bytesPerSecond) +
                                ", the file holds " +
                                amount(std::max<std::int64_t>(held - container.preamble, 0), "bytes", bytesPerSecond);
            else
                (audioSeen ? result.warning : result.damage) =
                    "the file ends inside its " + chunk + (audioSeen ? " after the audio" : ", before the audio") +
                    " (the chunk declares " + std::to_string(body) + " bytes, the file holds " + std::to_string(held) + ")";
            return result;
        }
        bytesPerSecond = audioBytesPerSecond(file, at, id, body, big, bytesPerSecond);
        audioSeen = audioSeen || isAudio;
        at += 8 + static_cast<std::int64_t>(body + (body & 1));
    }
    if (!audioSeen && formEnd > static_cast<std::uint64_t>(size))
        result.damage = "its header declares " + std::to_string(formEnd) + " bytes, the file ends after " +
                        std::to_string(size) + ", before the audio";
    return result;
}
} // namespace

InputIntegrity InputIntegrity::check(const std::string& path)
{
    const Bytes file(path);
    if (!file.regular())
        return {};
    if (file.size() == 0)
        return {"the file is empty", {}};
    const std::string head = file.text(0, 12);
    if (head.size() < 12)
    {
        for (const char* magic : {"RIFF", "RIFX", "RF64", "BW64", "FORM"})
            if (std::strncmp(magic, head.data(), std::min<std::size_t>(head.size(), 4)) == 0)
                return {"the file ends after " + std::to_string(head.size()) + " bytes, inside its " +
                            std::string(magic) + " header",
                        {}};
        return {};
    }
    const Container* container = containerOf(head);
    return container ? walk(file, *container) : InputIntegrity{};
}

std::string InputIntegrity::decodingDamage(std::int64_t declared, std::int64_t decoded, int sampleRate,
                                           const std::string& decoderError)
{
    const double rate = static_cast<double>(sampleRate);
    if (!decoderError.empty())
    {
        // libsndfile's messages end in a full stop; the reason goes on after it.
        const std::string reason = decoderError.substr(0, decoderError.find_last_not_of(". ") + 1);
        return "decoding failed after " + amount(decoded, "frames", rate) +
               (declared >= 0 ? " of the " + amount(declared, "frames", rate) + " its header declares" : "") + ": " +
               reason;
    }
    if (declared >= 0 && decoded < declared)
        return "its header declares " + amount(declared, "frames", rate) + ", the file holds " +
               amount(decoded, "frames", rate);
    return {};
}
