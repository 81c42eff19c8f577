// Speaker arrangement records exchanged with the host by the speaker opcodes.
// Both have the same 4-byte-field layout on 32- and 64-bit builds.
#pragma once

#include "AEffect.h"

struct VstSpeakerProperties
{
    float azimuth;
    float elevation;
    float radius;
    float reserved;
    char name[64];
    VstInt32 type;
    char future[28];
};

// One block: the header followed by numChannels speaker entries. The declared
// array of eight is the size hosts allocate; arrangements built by
// AudioEffectX::allocateArrangement hold exactly numChannels entries (more or
// fewer than eight), so reach them through speakerAt rather than speakers[i].
struct VstSpeakerArrangement
{
    VstInt32 type;
    VstInt32 numChannels;
    VstSpeakerProperties speakers[8];
};

static_assert(sizeof(VstSpeakerProperties) == 112, "speaker entry must be 112 bytes");
static_assert(offsetof(VstSpeakerProperties, name) == 16, "speaker entry layout");
static_assert(offsetof(VstSpeakerProperties, type) == 80, "speaker entry layout");
static_assert(offsetof(VstSpeakerProperties, future) == 84, "speaker entry layout");
static_assert(offsetof(VstSpeakerArrangement, speakers) == 8, "speaker arrangement layout");

// Bytes of an arrangement block with the given number of speaker entries.
constexpr std::size_t speakerArrangementBytes(std::size_t channels)
{
    return offsetof(VstSpeakerArrangement, speakers) + channels * sizeof(VstSpeakerProperties);
}

// Entry `index` of an arrangement; the caller keeps index below numChannels.
inline VstSpeakerProperties* speakerAt(VstSpeakerArrangement* arrangement, VstInt32 index)
{
    VstSpeakerProperties* first = arrangement->speakers;
    return first + index;
}
