// Choice of the libsndfile format of an output file: the container follows the
// output file's extension (else the input's), the sample format follows the
// input unless the user names one.
#pragma once

#include <string>

class SoundFormat
{
public:
    // "float32", "pcm24", "pcm16" -> SF_FORMAT_FLOAT/PCM_24/PCM_16; "" -> 0
    // (keep the input's). Throws HostError for anything else.
    static int parseSampleFormat(const std::string& name);

    // SF_FORMAT_* major | subtype for writing `channels` at `sampleRate` to
    // outputPath. sampleFormat 0 keeps the input's subtype where the container
    // can hold it. Throws HostError when the combination cannot be written.
    static int forOutput(int inputFormat, const std::string& outputPath, int sampleFormat, int channels,
                         int sampleRate);

    // Major format for a file extension ("wav", "flac", "ogg", ...), or 0.
    static int majorForExtension(const std::string& path);

    // Short description, e.g. "WAV pcm24".
    static std::string describe(int format);
};
