// Writes an audio file through a temporary file in the destination folder,
// renamed over the destination only by commit(). A writer destroyed without a
// successful commit removes its temporary file, so an error or interruption
// never leaves a partial file behind.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

class SoundFileWriter
{
public:
    // format: SF_FORMAT_* major | subtype. Throws HostError if the format
    // cannot hold these channels/rate, or the temporary file cannot be made.
    SoundFileWriter(const std::string& path, int format, int channels, int sampleRate);
    ~SoundFileWriter();
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;

    // Writes all frames or throws HostError (a full disk, for instance).
    // Samples beyond +-1 are clipped when the format stores integers.
    void write(const float* interleaved, std::int64_t frames);

    // Asks the system to start writing what has been written so far to disk,
    // without waiting for it, so that commit() has less left to flush.
    void startWriteback();

    // Finishes the file (header, flush to disk, close) and renames it to the
    // destination; throws HostError on any failure, leaving no file.
    void commit();

    const std::string& path() const { return finalPath; }

private:
    void discard();
    [[noreturn]] void fail(const std::string& what, const std::string& reason);

    std::string finalPath;
    std::string tempPath;
    int descriptor = -1;
    SNDFILE* file = nullptr;
};
