#include "Mastering.h"

#include "CodecRoundTrip.h"
#include "DriveSearch.h"
#include "HostError.h"
#include "ParallelFor.h"
#include "PluginInstance.h"
#include "SoundFileReader.h"
#include "SoundFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

namespace
{
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The search stops this close to the target, inside the +-0.1 LU promised,
// so that another meter's reading of the same file lands inside it too.
constexpr double kSearchTolerance = 0.07;
constexpr double kPromisedTolerance = 0.1;
constexpr int kSearchPasses = 10;
// Attempts at writing with a lowered ceiling, and the smallest step after a
// codec's over (the decoded peak moves less than the ceiling).
constexpr int kCeilingRounds = 6;
constexpr double kCodecStep = 0.1;
constexpr double kMeterStep = 0.002;
constexpr int kBands = 5;

std::string decibels(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3fdB", value);
    return text;
}

std::string thresholdName(int band)
{
    return std::to_string(band) + ".Thresh";
}

// The five band Thresholds (dB) the user's settings leave, and the range a
// Threshold takes.
struct Thresholds
{
    std::vector<double> values;
    double lowest = 0.0;
    double highest = 0.0;
};

Thresholds readThresholds(const std::shared_ptr<PluginLibrary>& library, const std::vector<ParameterSetting>& settings,
                          int sampleRate, int blockSize)
{
    PluginInstance instance(library, static_cast<float>(sampleRate), blockSize);
    ParameterResolver resolver(instance);
    resolver.apply(settings);
    Thresholds thresholds;
    for (int band = 1; band <= kBands; ++band)
    {
        const int index = resolver.findParameter(thresholdName(band));
        const double at0 = resolver.shownAt(index, 0.0f);
        const double at1 = resolver.shownAt(index, 1.0f);
        const double now = resolver.shownAt(index, instance.getParameter(index));
        if (std::isnan(at0) || std::isnan(at1) || std::isnan(now))
            throw HostError(thresholdName(band) + " does not show a level in dB; cannot drive it to a loudness");
        thresholds.values.push_back(now);
        thresholds.lowest = std::min(at0, at1);
        thresholds.highest = std::max(at0, at1);
    }
    return thresholds;
}

// dB a true peak at `peakDb` may rise by when the samples are rounded to the
// format's integers: an error of up to 1.5 steps a sample (half a step of
// rounding, one of TPDF dither) through the meter's interpolator, whose
// gain on any signal stays under 5 (the sum of its taps' magnitudes).
double quantisationMargin(int format, double peakDb)
{
    const int bits = Dither::bitsOf(format);
    if (bits == 0 || std::isnan(peakDb))
        return 0.0;
    return 20.0 * std::log10(1.0 + 5.0 * 1.5 * std::ldexp(1.0, 1 - bits) / std::pow(10.0, peakDb / 20.0));
}

bool over(double value, double limit)
{
    return !std::isnan(limit) && !(value <= limit);
}
} // namespace

Mastering::Mastering(std::shared_ptr<PluginLibrary> lib, std::vector<ParameterSetting> userSettings, int blockSize,
                     int sampleFormat, MasterOptions masterOptions)
    : library(lib), settings(userSettings),
      renderer(std::move(lib), std::move(userSettings), blockSize, sampleFormat, true, masterOptions.allowTruncated,
               masterOptions.dither),
      sampleFormat(sampleFormat), options(std::move(masterOptions))
{
    if (!options.codec.empty())
        CodecRoundTrip::parse(options.codec, 2);
    renderer.writeBands(options.bandFolder);
}

LoudnessStats Mastering::measureInput(SoundFileReader& reader)
{
    if (reader.channels() > 2)
        throw HostError(reader.path() + " has " + std::to_string(reader.channels()) +
                        " channels; only mono and stereo files can be rendered");
    LoudnessMeter meter(2, reader.sampleRate(), false);
    const std::size_t chunk = 8192;
    std::vector<float> in(chunk * static_cast<std::size_t>(reader.channels()));
    std::vector<float> both(chunk * 2);
    while (const std::int64_t frames = reader.read(in.data(), static_cast<std::int64_t>(chunk)))
    {
        if (reader.channels() == 2)
        {
            meter.add(in.data(), frames);
            continue;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(frames); ++i)
            both[2 * i] = both[2 * i + 1] = in[i];
        meter.add(both.data(), frames);
    }
    return meter.stats();
}

std::vector<ParameterSetting> Mastering::passSettings(double drive, double ceiling,
                                                      const std::vector<double>& thresholds, double lowest,
                                                      double highest) const
{
    std::vector<ParameterSetting> pass;
    for (std::size_t band = 0; band < thresholds.size(); ++band)
        pass.push_back({thresholdName(static_cast<int>(band) + 1),
                        decibels(std::clamp(thresholds[band] - drive, lowest, highest))});
    if (!std::isnan(ceiling))
    {
        pass.push_back({"M.Ceiling", decibels(ceiling)});
        pass.push_back({"M.TruePeak", "On"});
    }
    return pass;
}

std::vector<MasterOutcome> Mastering::run(const std::vector<RenderJob>& jobs, const std::atomic<bool>* cancel) const
{
    std::vector<MasterOutcome> outcomes(jobs.size());
    for (std::size_t job = 0; job < jobs.size(); ++job)
    {
        outcomes[job].input = jobs[job].input;
        outcomes[job].output = jobs[job].output;
        outcomes[job].ceilingDb = outcomes[job].decodedTruePeakDb = kNaN;
    }
    if (options.album)
    {
        MasterOutcome album;
        album.ceilingDb = album.decodedTruePeakDb = kNaN;
        std::vector<std::size_t> all(jobs.size());
        for (std::size_t job = 0; job < jobs.size(); ++job)
            all[job] = job;
        guarded(jobs, all, outcomes, options.threads, cancel, &album);
        outcomes.push_back(album);
        return outcomes;
    }
    parallelFor(jobs.size(), options.threads,
                [&](std::size_t job) { guarded(jobs, {job}, outcomes, 1, cancel, nullptr); });
    return outcomes;
}

// A failure that is no one file's (the plug-in refuses the drive) fails
// every file of the group that has not failed on its own.
void Mastering::guarded(const std::vector<RenderJob>& jobs, const std::vector<std::size_t>& group,
                        std::vector<MasterOutcome>& outcomes, int threads, const std::atomic<bool>* cancel,
                        MasterOutcome* album) const
{
    try
    {
        master(jobs, group, outcomes, threads, cancel, album);
    }
    catch (const std::exception& error)
    {
        for (std::size_t job : group)
            if (outcomes[job].error.empty())
                outcomes[job].error = error.what();
        if (album)
            album->error = error.what();
    }
}

void Mastering::master(const std::vector<RenderJob>& jobs, std::vector<std::size_t> group,
                       std::vector<MasterOutcome>& outcomes, int threads, const std::atomic<bool>* cancel,
                       MasterOutcome* album) const
{
    const DeliveryTarget& target = options.target;
    std::mutex failing;
    // Runs `task` on every file of the group at once; a file whose task
    // throws fails and leaves the group.
    auto eachFile = [&](auto&& task) {
        parallelFor(group.size(), threads, [&](std::size_t i) {
            try
            {
                if (cancel && cancel->load())
                    throw HostError("interrupted while rendering " + jobs[group[i]].input);
                task(group[i]);
            }
            catch (const DamagedInputError& error)
            {
                const std::lock_guard<std::mutex> hold(failing);
                outcomes[group[i]].error = error.what();
                outcomes[group[i]].inputDamage = error.damage();
            }
            catch (const std::exception& error)
            {
                const std::lock_guard<std::mutex> hold(failing);
                outcomes[group[i]].error = error.what();
            }
        });
        group.erase(std::remove_if(group.begin(), group.end(),
                                   [&](std::size_t job) { return !outcomes[job].error.empty(); }),
                    group.end());
    };

    std::vector<LoudnessStats> inputs(jobs.size());
    std::vector<int> rates(jobs.size());
    double margin = 0.0;
    eachFile([&](std::size_t job) {
        const std::string reason = BatchRenderer::conflict(jobs, job);
        if (!reason.empty())
            throw HostError(reason);
        // A damaged input is refused here, before anything is rendered.
        std::optional<SoundFileReader> reader;
        Renderer::open(jobs[job].input, options.allowTruncated, reader);
        rates[job] = reader->sampleRate();
        const double own = quantisationMargin(
            SoundFormat::forOutput(reader->format(), jobs[job].output, sampleFormat, 2, reader->sampleRate()),
            target.truePeak);
        inputs[job] = measureInput(*reader);
        const std::lock_guard<std::mutex> hold(failing);
        margin = std::max(margin, own);
    });
    if (group.empty())
        return;
    auto together = [&](const std::vector<LoudnessStats>& stats) {
        std::vector<const LoudnessStats*> parts;
        for (std::size_t job : group)
            parts.push_back(&stats[job]);
        return LoudnessMeter::combine(parts);
    };

    Thresholds thresholds;
    if (target.hasLoudness())
        thresholds = readThresholds(library, settings, rates[group.front()], renderer.blockSize());
    const double inputLoudness = together(inputs).integratedLufs;
    // Louder than the target already: a plain gain down first, so the search
    // can reach the target (silence needs none).
    const double gain = target.hasLoudness() && std::isfinite(inputLoudness)
                            ? std::min(0.0, target.loudness - inputLoudness)
                            : 0.0;
    const double lowestDrive = thresholds.values.empty()
                                   ? 0.0
                                   : *std::min_element(thresholds.values.begin(), thresholds.values.end()) - thresholds.highest;
    const double highestDrive = thresholds.values.empty()
                                    ? 0.0
                                    : *std::max_element(thresholds.values.begin(), thresholds.values.end()) - thresholds.lowest;
    double guess = std::isfinite(inputLoudness) ? target.loudness - (inputLoudness + gain) : 0.0;
    // The limiter holds the float output under the ceiling; integer samples
    // are dithered and rounded after it. The ceiling keeps clear of the
    // target by what that can add to a true peak, so the file is under it
    // at the first attempt; what is checked is the file's samples.
    const double truePeakLimit = target.truePeak;
    double ceiling = truePeakLimit - margin;
    double drive = 0.0;
    int searchPasses = 0;
    DriveSearch::Result search;

    std::vector<RenderResult> results(jobs.size());
    std::vector<double> decoded(jobs.size(), kNaN);
    std::vector<char> fine(jobs.size(), 0);
    for (int round = 0; round < kCeilingRounds && !group.empty(); ++round)
    {
        if (target.hasLoudness())
        {
            const auto measure = [&](double candidate) {
                RenderPass pass;
                pass.gainDb = gain;
                pass.settings = passSettings(candidate, ceiling, thresholds.values, thresholds.lowest, thresholds.highest);
                pass.write = false;
                pass.analysis = Analysis::loudness;
                std::vector<LoudnessStats> outputs(jobs.size());
                eachFile([&](std::size_t job) {
                    outputs[job] = renderer.render(jobs[job].input, {}, {}, cancel, pass).after;
                });
                return group.empty() ? target.loudness : together(outputs).integratedLufs;
            };
            search = DriveSearch(lowestDrive, highestDrive, kSearchTolerance, kSearchPasses).run(measure, target.loudness, guess);
            drive = guess = search.drive;
            searchPasses += search.passes;
        }

        const bool last = round + 1 == kCeilingRounds;
        RenderPass pass;
        pass.gainDb = gain;
        pass.settings = passSettings(drive, ceiling, thresholds.values, thresholds.lowest, thresholds.highest);
        eachFile([&](std::size_t job) {
            std::unique_ptr<CodecRoundTrip> codec;
            RenderPass own = pass;
            if (!options.codec.empty())
            {
                const SoundFileReader reader(jobs[job].input);
                codec = std::make_unique<CodecRoundTrip>(options.codec, 2, reader.sampleRate());
                own.tap = [&codec](const float* frames, std::int64_t count) { codec->encode(frames, count); };
            }
            own.keep = [&](const RenderResult& result) {
                decoded[job] = codec ? codec->decodedTruePeakDb() : kNaN;
                fine[job] = !over(result.after.truePeakDb, truePeakLimit) &&
                            !(options.codecSafe && over(decoded[job], target.truePeak));
                return fine[job] || last || options.album;
            };
            results[job] = renderer.render(jobs[job].input, jobs[job].output, {}, cancel, own);
            ++outcomes[job].passes;
        });
        const bool allFine = std::all_of(group.begin(), group.end(), [&](std::size_t job) { return fine[job] != 0; });
        if (allFine || std::isnan(ceiling))
            break;
        // Over somewhere: lower the ceiling by the largest excess and go again.
        double excess = 0.0;
        bool codecOver = false;
        for (std::size_t job : group)
        {
            excess = std::max(excess, results[job].after.truePeakDb - truePeakLimit);
            if (options.codecSafe && over(decoded[job], target.truePeak))
            {
                excess = std::max(excess, decoded[job] - target.truePeak);
                codecOver = true;
            }
        }
        ceiling -= std::max(excess, codecOver ? kCodecStep : kMeterStep);
    }

    for (std::size_t job : group)
    {
        MasterOutcome& outcome = outcomes[job];
        outcome.result = results[job];
        outcome.gainDb = gain;
        outcome.driveDb = drive;
        outcome.ceilingDb = ceiling;
        outcome.passes += searchPasses;
        outcome.decodedTruePeakDb = decoded[job];
        outcome.inputDamage = results[job].inputDamage;
        outcome.truePeakMet = !over(results[job].after.truePeakDb, truePeakLimit);
        outcome.codecMet = !options.codecSafe || !over(decoded[job], target.truePeak);
        outcome.loudnessMet = !target.hasLoudness() || album ||
                              std::fabs(results[job].after.integratedLufs - target.loudness) <= kPromisedTolerance;
    }
    if (album && !group.empty())
    {
        std::vector<const LoudnessStats*> before, after;
        for (std::size_t job : group)
        {
            before.push_back(&results[job].before);
            after.push_back(&results[job].after);
        }
        album->result.before = LoudnessMeter::combine(before);
        album->result.after = LoudnessMeter::combine(after);
        for (std::size_t job : group)
            album->result.frames += results[job].frames;
        album->gainDb = gain;
        album->driveDb = drive;
        album->ceilingDb = ceiling;
        album->passes = outcomes[group.front()].passes;
        album->truePeakMet = std::all_of(group.begin(), group.end(), [&](std::size_t job) { return outcomes[job].truePeakMet; });
        album->codecMet = std::all_of(group.begin(), group.end(), [&](std::size_t job) { return outcomes[job].codecMet; });
        album->loudnessMet = !target.hasLoudness() ||
                             std::fabs(album->result.after.integratedLufs - target.loudness) <= kPromisedTolerance;
        for (std::size_t job : group)
            album->decodedTruePeakDb = std::isnan(album->decodedTruePeakDb) ? decoded[job]
                                                                            : std::max(album->decodedTruePeakDb, decoded[job]);
    }
}
