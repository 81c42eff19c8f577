// Whether an input file holds all the audio its header declares.
//
// Containers that declare their lengths (RIFF/WAVE, RF64/BW64, AIFF/AIFC) are
// checked before anything is decoded: every chunk up to the end of the audio
// must fit in the file. What follows the audio may be metadata chunks;
// anything else is ignored with a warning. Formats that declare no byte
// lengths (FLAC, Ogg, ...) are checked while they are decoded: a decoder error
// anywhere, or fewer frames than the header declares, is damage
// (decodingDamage, called by SoundFileReader).
#pragma once

#include <cstdint>
#include <string>

struct InputIntegrity
{
    std::string damage;  // what the header declares and what the file holds; empty when whole
    std::string warning; // bytes after the audio that are not a known chunk; empty when none

    // Reads the container's chunk headers only. A file that cannot be opened,
    // or is not one of these containers, comes back whole (the decoder
    // judges it).
    static InputIntegrity check(const std::string& path);

    // The damage a decoder met: `decoderError` (empty if none) after
    // `decoded` frames, or fewer frames than `declared` (negative when the
    // header declares no length). Empty when the file decoded whole.
    static std::string decodingDamage(std::int64_t declared, std::int64_t decoded, int sampleRate,
                                      const std::string& decoderError);
};
