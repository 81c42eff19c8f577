// Streaming reader of any audio file libsndfile can open (WAV, FLAC, AIFF,
// Ogg, ...), delivering interleaved 32-bit float frames scaled to +-1.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

class SoundFileReader
{
public:
    // Throws HostError naming the file and libsndfile's reason.
    explicit SoundFileReader(const std::string& path);
    ~SoundFileReader();
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    int channels() const { return info.channels; }
    int sampleRate() const { return info.samplerate; }
    std::int64_t frames() const { return info.frames; }
    int format() const { return info.format; } // SF_FORMAT_* major | subtype
    const std::string& path() const { return filePath; }

    // Reads up to maxFrames interleaved frames; returns how many were read,
    // 0 at the end. Throws HostError on a read error.
    std::int64_t read(float* interleaved, std::int64_t maxFrames);

private:
    std::string filePath;
    SF_INFO info{};
    SNDFILE* file = nullptr;
};
