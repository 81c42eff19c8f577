#include "SoundFileReader.h"

#include "HostError.h"

SoundFileReader::SoundFileReader(const std::string& path) : filePath(path)
{
    file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        throw HostError("cannot read " + path + ": " + sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 1)
    {
        sf_close(file);
        throw HostError("cannot read " + path + ": no audio channels or no sample rate");
    }
}

SoundFileReader::~SoundFileReader()
{
    sf_close(file);
}

std::int64_t SoundFileReader::read(float* interleaved, std::int64_t maxFrames)
{
    const sf_count_t got = sf_readf_float(file, interleaved, maxFrames);
    if (got < maxFrames && sf_error(file) != SF_ERR_NO_ERROR)
        throw HostError("error reading " + filePath + ": " + sf_strerror(file));
    return got;
}
