// What a master is delivered to: an integrated loudness and a true-peak
// ceiling, each optional, given as values ("-14LUFS", "-1dBTP") or by the
// name of a common delivery (README: "Mastering to a target" gives each
// preset's source).
#pragma once

#include <string>

struct DeliveryTarget
{
    double loudness;  // LUFS (LKFS); NaN: none
    double truePeak;  // dBTP; NaN: none

    bool hasLoudness() const;
    bool hasTruePeak() const;

    static DeliveryTarget none();
    // "streaming", "ebu-r128", "atsc-a85", "podcast"; throws HostError naming them.
    static DeliveryTarget preset(const std::string& name);
    // "-14", "-14LUFS", "-24 LKFS" -> -14, -24; throws HostError otherwise.
    static double parseLoudness(const std::string& text);
    // "-1", "-1dBTP", "-1 dB" -> -1; throws HostError otherwise.
    static double parseTruePeak(const std::string& text);
};
