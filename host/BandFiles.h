// The band files of one render (orvex render --bands DIR): each band's signal
// as the multiband effect sums it before its master, one stereo file a band
// in the output's format, named <input stem>.band1 ... band5 with the output's
// extension. Each is written behind the plug-in like the output (WriteBehind)
// and lines up with the output sample for sample: the band signals lead the
// output by the master's latency, so of the `lead` = (effect latency - master
// latency) frames at their start none are written, and the output's length is
// where they end.
//
// The producer (the rendering thread) calls claim/publish for each block in
// turn, then finish and commit; uncommitted files are removed, like the output.
#pragma once

#include "Dither.h"
#include "SoundFileWriter.h"
#include "WriteBehind.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class BandFiles
{
public:
    static constexpr int kBands = 5;

    // The file of band `band` (0..4).
    static std::string path(const std::string& folder, const std::string& input, const std::string& output, int band);

    // `format` as the output's; `dither` as the output's, each band with noise of its own.
    BandFiles(const std::string& folder, const std::string& input, const std::string& output, int format,
              int sampleRate, int block, std::int64_t lead, DitherKind dither);

    // Ten channel pointers (band b's at 2b and 2b + 1) of `block` frames
    // each, for the plug-in to fill with the next block.
    float* const* claim();
    // The claimed block, holding `frames` frames. `inputFrames`: the input's
    // length once its end was read, else -1.
    void publish(std::int64_t frames, std::int64_t inputFrames);
    // Writes everything published; throws HostError on any failure.
    void finish();
    void commit();

private:
    std::array<std::optional<SoundFileWriter>, kBands> writers;
    std::array<std::unique_ptr<WriteBehind>, kBands> streams;
    std::array<BlockRing::Block*, kBands> claimed{};
    std::array<float*, 2 * kBands> channels{};
    std::int64_t lead;
    std::int64_t position = 0; // frames of band signal published so far
};
