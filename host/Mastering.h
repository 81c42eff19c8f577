// Masters audio files to a delivery target through a plug-in that has the
// multiband maximizer's parameters (1.Thresh ... 5.Thresh, M.Ceiling,
// M.TruePeak).
//
// - Loudness: the drive, one offset in dB taken off all five band Thresholds
//   the user's settings leave (their differences stay, within the Threshold
//   range), is searched (DriveSearch) until the output's integrated loudness
//   is within 0.07 LU of the target. Each pass renders without writing and
//   measures loudness only. Input already louder than the target is first
//   turned down by a plain gain before the plug-in.
// - True peak: the master Ceiling is the target with True peak on (less what
//   dither and rounding to integer samples can add, for integer formats).
//   The pass that writes measures the true peak of the samples as written
//   (and, with a codec, of them encoded and decoded); when it is over, the file is not kept (an album's
//   files are, and replaced), the ceiling is lowered by the excess (at least
//   0.1 dB after a codec), the drive searched again and the output rendered
//   again, a bounded number of times; the last attempt is kept whatever it
//   reads.
// - Album: one drive and one gain for all the files, the loudness being that
//   of all their gating blocks together (one gated measurement of the set).
//
// A file that cannot be read or rendered fails on its own; the others go on.
// A damaged input (not holding what its header declares) is refused so,
// before anything is rendered, unless allowTruncated: then it is mastered as
// far as it goes. Either way its outcome says why (inputDamage).
#pragma once

#include "BatchRenderer.h"
#include "DeliveryTarget.h"
#include "Renderer.h"

#include <atomic>
#include <string>
#include <vector>

struct MasterOptions
{
    DeliveryTarget target = DeliveryTarget::none();
    bool album = false;
    std::string codec; // empty, or as CodecRoundTrip::parse takes it
    bool codecSafe = false;
    int threads = 1;
    bool allowTruncated = false; // render a damaged input as far as it goes instead of refusing it
    DitherKind dither = DitherKind::tpdf;
    std::string bandFolder; // where each kept master's band files go (Renderer::writeBands); empty: none
};

struct MasterOutcome
{
    std::string input;  // empty for the album
    std::string output;
    std::string error;  // why the file failed; empty when it was rendered
    std::string inputDamage; // why the input is not whole, refused or rendered as far as it goes; empty if whole
    RenderResult result; // of the pass kept; for the album, all files' figures as one
    double gainDb = 0.0;
    double driveDb = 0.0;
    double ceilingDb;   // NaN: left to the settings
    int passes = 0;     // renders made, written or not
    double decodedTruePeakDb; // NaN without a codec
    bool loudnessMet = true;
    bool truePeakMet = true;
    bool codecMet = true; // counts only with codecSafe

    bool met() const { return error.empty() && loudnessMet && truePeakMet && codecMet; }
};

class Mastering
{
public:
    Mastering(std::shared_ptr<PluginLibrary> library, std::vector<ParameterSetting> settings, int blockSize,
              int sampleFormat, MasterOptions options);

    // One outcome per job, in order, then one for the album in album mode.
    std::vector<MasterOutcome> run(const std::vector<RenderJob>& jobs, const std::atomic<bool>* cancel) const;

    // Loudness and peaks of a file as the plug-in is fed it (mono on both
    // sides), without true peaks, read to its end. Throws HostError.
    static LoudnessStats measureInput(SoundFileReader& reader);

private:
    void guarded(const std::vector<RenderJob>& jobs, const std::vector<std::size_t>& group,
                 std::vector<MasterOutcome>& outcomes, int threads, const std::atomic<bool>* cancel,
                 MasterOutcome* album) const;
    void master(const std::vector<RenderJob>& jobs, std::vector<std::size_t> group, std::vector<MasterOutcome>& outcomes,
                int threads, const std::atomic<bool>* cancel, MasterOutcome* album) const;
    std::vector<ParameterSetting> passSettings(double drive, double ceiling, const std::vector<double>& thresholds,
                                               double lowest, double highest) const;

    std::shared_ptr<PluginLibrary> library;
    std::vector<ParameterSetting> settings;
    Renderer renderer;
    int sampleFormat;
    MasterOptions options;
};
