// Streaming reader of any audio file libsndfile can open (WAV, FLAC, AIFF,
// Ogg, ...), delivering interleaved 32-bit float frames scaled to +-1.
// A decoder error, or fewer frames than the header declares, is damage
// (InputIntegrity::decodingDamage): thrown as DamagedInputError, or, when
// tolerated, the end of the file with damage() saying why.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

class SoundFileReader
{
public:
    // Throws HostError naming the file and libsndfile's reason.
    explicit SoundFileReader(const std::string& path, bool tolerateDamage = false);
    ~SoundFileReader();
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    int channels() const { return info.channels; }
    int sampleRate() const { return info.samplerate; }
    std::int64_t frames() const { return info.frames; }
    int format() const { return info.format; } // SF_FORMAT_* major | subtype
    const std::string& path() const { return filePath; }

    // Reads up to maxFrames interleaved frames; returns how many were read,
    // 0 at the end. Throws DamagedInputError on damage unless tolerated.
    std::int64_t read(float* interleaved, std::int64_t maxFrames);
    // Why the file ended before its declared end, once read() has returned
    // less than asked; empty if it decoded whole.
    const std::string& damage() const { return damageFound; }

private:
    std::string filePath;
    SF_INFO info{};
    SNDFILE* file = nullptr;
    bool tolerate;
    std::int64_t decoded = 0;
    std::string damageFound;
};
