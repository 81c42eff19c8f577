// A lossy codec's effect on a master's true peak: the output is encoded in
// memory as it is rendered (libsndfile: MP3 through LAME, Ogg Opus, Ogg
// Vorbis), then decoded, and the decoded stream's true peak read by the
// host's own 16x meter, as a listener's player would reconstruct it.
//
// Specs: "mp3:KBPS" (constant bit rate, 32 to 320), "opus:KBPS" (the whole
// stream's, 6 to 256 a channel, constant bit rate), "vorbis:Q" (quality 0 to
// 10, variable bit rate). Opus codes at 8, 12, 16, 24 or 48 kHz only: other
// rates are resampled to 48 kHz first (Resampler), as a service would.
#pragma once

#include "Resampler.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CodecRoundTrip
{
public:
    struct Codec
    {
        int format;         // SF_FORMAT_* major | subtype
        double compression; // libsndfile's compression level, 0 (best) to 1
        int bitrateMode;    // SF_BITRATE_MODE_*, or -1 to leave it
    };
    // Throws HostError saying what is accepted.
    static Codec parse(const std::string& codecText, int channels);

    // Throws HostError when libsndfile cannot encode this codec.
    CodecRoundTrip(const std::string& codecText, int channels, int sampleRate);
    ~CodecRoundTrip();
    CodecRoundTrip(const CodecRoundTrip&) = delete;
    CodecRoundTrip& operator=(const CodecRoundTrip&) = delete;

    void encode(const float* interleaved, std::int64_t frames);
    // Ends the encoding (once), decodes and measures. Throws HostError.
    double decodedTruePeakDb();
    std::size_t encodedBytes() const;

private:
    struct Memory;
    void write(const float* interleaved, std::int64_t frames);

    std::unique_ptr<Memory> memory;
    std::optional<Resampler> resampler;
    std::vector<float> resampled;
    int channels;
    int sampleRate;
    double decoded;
    bool finished = false;
};
