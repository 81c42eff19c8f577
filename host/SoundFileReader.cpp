#include "SoundFileReader.h"

#include "HostError.h"
#include "InputIntegrity.h"

SoundFileReader::SoundFileReader(const std::string& path, bool tolerateDamage) : filePath(path), tolerate(tolerateDamage)
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
    if (!damageFound.empty())
        return 0;
    const sf_count_t got = sf_readf_float(file, interleaved, maxFrames);
    decoded += got;
    if (got < maxFrames)
    {
        // A stream of unknown length declares none.
        const std::int64_t declared = info.seekable && info.frames != SF_COUNT_MAX ? info.frames : -1;
        damageFound = InputIntegrity::decodingDamage(
            declared, decoded, info.samplerate, sf_error(file) != SF_ERR_NO_ERROR ? sf_strerror(file) : "");
        if (!damageFound.empty() && !tolerate)
            throw DamagedInputError(filePath, damageFound);
    }
    return got;
}
