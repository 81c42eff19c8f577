#include "Commands.h"

#include "BandFiles.h"
#include "BatchRenderer.h"
#include "CsvWriter.h"
#include "DemoSynth.h"
#include "HostError.h"
#include "InterruptFlag.h"
#include "MasterReport.h"
#include "Mastering.h"
#include "PluginInstance.h"
#include "ProgressBar.h"
#include "RenderReport.h"
#include "SettingsFile.h"
#include "SoundFileReader.h"
#include "SoundFileWriter.h"
#include "SoundFormat.h"
#include "SvgPlotWriter.h"
#include "TextFileWriter.h"
#include "TimelinePlot.h"
#include "Transparency.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace
{
constexpr int kErrorStatus = 1;
constexpr int kDamagedInputStatus = 4;
constexpr int kInterruptedStatus = 130;
constexpr int kDemoRate = 44100;
constexpr double kDemoSeconds = 20.0;
constexpr std::uint32_t kDemoSeed = 20240611;

bool isFolder(const std::string& path)
{
    struct stat info{};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string flagNames(int flags)
{
    static const std::pair<int, const char*> kNames[] = {
        {effFlagsHasEditor, "editor"},       {effFlagsHasClip, "clip"},
        {effFlagsHasVu, "vu"},               {effFlagsCanMono, "mono"},
        {effFlagsCanReplacing, "replacing"}, {effFlagsProgramChunks, "chunks"},
        {effFlagsIsSynth, "synth"},          {effFlagsNoSoundInStop, "no-tail"},
        {effFlagsExtIsAsync, "async"},       {effFlagsExtHasBuffer, "external-buffer"},
        {effFlagsCanDoubleReplacing, "double-replacing"}};
    std::string names;
    for (const auto& [bit, name] : kNames)
        if (flags & bit)
            names += (names.empty() ? "" : ", ") + std::string(name);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(flags));
    return std::string(hex) + (names.empty() ? "" : " (" + names + ")");
}

// Every --set resolved before any work, at the rate of each input it will
// apply to (a value's reach can depend on it), so a typo fails fast and once.
// An input that cannot be read fails on its own when its turn comes.
void checkSettings(const std::shared_ptr<PluginLibrary>& library, const std::vector<ParameterSetting>& settings,
                   const std::vector<std::string>& inputs, int blockSize)
{
    if (settings.empty())
        return;
    std::set<int> rates;
    for (const std::string& input : inputs)
    {
        try
        {
            rates.insert(SoundFileReader(input).sampleRate());
        }
        catch (const HostError&)
        {
        }
    }
    for (int rate : rates)
    {
        PluginInstance instance(library, static_cast<float>(rate), blockSize);
        ParameterResolver(instance).apply(settings);
    }
}

// The output folder and its parents are made when missing, as batch tools do.
void makeFolder(const std::string& folder)
{
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (failure || !isFolder(folder))
        throw HostError("cannot create output folder " + folder + (failure ? ": " + failure.message() : ""));
}

// Band files need the multiband effect's band outputs, and one set of names
// per input; checked before anything is written.
void checkBandFiles(const std::shared_ptr<PluginLibrary>& library, const std::vector<RenderJob>& jobs,
                    const std::string& folder, int blockSize)
{
    if (PluginInstance(library, 44100.0f, blockSize).tapBands(nullptr, 0) < 0)
        throw HostError(library->path() + " has no band outputs; --bands needs the multiband plug-in");
    std::set<std::string> names;
    for (const RenderJob& job : jobs)
    {
        if (!names.insert(BandFiles::path(folder, job.input, job.output, 0)).second)
            throw HostError("--bands: two inputs named like " + job.input + " would write the same band files");
        for (int band = 0; band < BandFiles::kBands; ++band)
        {
            const std::string path = BandFiles::path(folder, job.input, job.output, band);
            std::error_code missing;
            for (const RenderJob& other : jobs)
                if (std::filesystem::equivalent(path, other.input, missing))
                    throw HostError("refusing to overwrite the input " + other.input + " with a band file");
        }
    }
}

// Drives every band 6 dB into its maximizer and limits the sum at -1 dBTP:
// audibly louder, with true peaks held under the ceiling. The resolver names
// what the plug-in accepts when one of these parameters is missing.
std::vector<ParameterSetting> demoSettings(const std::shared_ptr<PluginLibrary>& library)
{
    std::vector<ParameterSetting> settings;
    for (const char* band : {"1", "2", "3", "4", "5"})
        settings.push_back({std::string(band) + ".Thresh", "-6dB"});
    settings.push_back({"M.Ceiling", "-1dB"});
    settings.push_back({"M.TruePeak", "On"});
    PluginInstance instance(library, kDemoRate, 1024);
    ParameterResolver(instance).apply(settings);
    return settings;
}
} // namespace

std::vector<ParameterSetting> Commands::parseSettings(const std::vector<std::string>& texts)
{
    std::vector<ParameterSetting> settings;
    for (const std::string& text : texts)
        settings.push_back(ParameterSetting::parse(text));
    return settings;
}

std::string Commands::outputFor(const std::string& input, const std::string& outDir)
{
    const auto slash = input.rfind('/');
    const std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    if (!outDir.empty())
        return outDir + (outDir.back() == '/' ? "" : "/") + name;
    const auto dot = name.rfind('.');
    const std::string folder = slash == std::string::npos ? "" : input.substr(0, slash + 1);
    if (dot == std::string::npos || dot == 0)
        return folder + name + "-orvex";
    return folder + name.substr(0, dot) + "-orvex" + name.substr(dot);
}

std::string Commands::plotFor(const std::string& output, const std::string& plot, bool single)
{
    if (single && !isFolder(plot))
        return plot;
    const auto slash = output.rfind('/');
    const std::string name = slash == std::string::npos ? output : output.substr(slash + 1);
    const auto dot = name.rfind('.');
    return plot + (plot.back() == '/' ? "" : "/") + (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) +
           ".svg";
}

int Commands::info(const std::string& plugin, float sampleRate, int blockSize, std::ostream& out)
{
    PluginInstance instance(PluginLibrary::load(plugin), sampleRate, blockSize);
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(instance.record()->uniqueID));
    out << "Plug-in:        " << plugin << "\n"
        << "Effect name:    " << instance.effectName() << "\n"
        << "Vendor:         " << instance.vendor() << "\n"
        << "Product:        " << instance.product() << "\n"
        << "Vendor version: " << instance.vendorVersion() << "\n"
        << "Unique ID:      " << instance.uniqueIdText() << " (" << id << ")\n"
        << "Inputs:         " << instance.numInputs() << "\n"
        << "Outputs:        " << instance.numOutputs() << "\n"
        << "Flags:          " << flagNames(instance.flags()) << "\n"
        << "Latency:        " << instance.latency() << " samples at " << sampleRate << " Hz\n"
        << "Parameters:     " << instance.numParams() << "\n";
    char line[256];
    std::snprintf(line, sizeof line, "  %5s  %-24s %-8s %-12s %s\n", "index", "name", "label", "display", "value");
    out << line;
    for (int index = 0; index < instance.numParams(); ++index)
    {
        std::snprintf(line, sizeof line, "  %5d  %-24s %-8s %-12s %.6f\n", index, instance.paramName(index).c_str(),
                      instance.paramLabel(index).c_str(), instance.paramDisplay(index).c_str(),
                      static_cast<double>(instance.getParameter(index)));
        out << line;
    }
    describeInner(plugin, sampleRate, blockSize, out);
    return 0;
}

// The maximizer a multiband plug-in loads from its own folder, loaded as the
// plug-in loads it; its latency is read after one processed block, since some
// plug-ins publish it only then.
void Commands::describeInner(const std::string& plugin, float sampleRate, int blockSize, std::ostream& out)
{
    const auto slash = plugin.rfind('/');
    const std::string path = (slash == std::string::npos ? std::string() : plugin.substr(0, slash + 1)) +
                             "Orvex_Maximizer.so";
    struct stat file{};
    if (stat(path.c_str(), &file) != 0)
        return;
    try
    {
        PluginInstance inner(PluginLibrary::load(path), sampleRate, blockSize);
        std::vector<float> silence(static_cast<std::size_t>(std::max(blockSize, 1)) * 4);
        std::vector<float*> inputs, outputs;
        for (int c = 0; c < inner.numInputs() && c < 2; ++c)
            inputs.push_back(silence.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(blockSize));
        for (int c = 0; c < inner.numOutputs() && c < 2; ++c)
            outputs.push_back(silence.data() + static_cast<std::size_t>(c + 2) * static_cast<std::size_t>(blockSize));
        if (inputs.size() == 2 && outputs.size() == 2)
            inner.process(inputs.data(), outputs.data(), blockSize);
        out << "Inner plug-in:  " << path << "\n"
            << "  Effect name:    " << inner.effectName() << "\n"
            << "  Vendor:         " << inner.vendor() << "\n"
            << "  Vendor version: " << inner.vendorVersion() << "\n"
            << "  Parameters:     " << inner.numParams() << "\n"
            << "  Latency:        " << inner.latency() << " samples after one block\n";
    }
    catch (const HostError& error)
    {
        out << "Inner plug-in:  " << path << " (cannot be loaded: " << error.what() << ")\n";
    }
}

int Commands::render(const RenderOptions& options, std::ostream& out, std::ostream& err)
{
    if (!options.output.empty() && options.inputs.size() != 1)
        throw HostError("-o names one output file; use --out-dir for several inputs");
    std::vector<std::string> texts;
    if (!options.settingsFile.empty())
        texts = SettingsFile::read(options.settingsFile);
    texts.insert(texts.end(), options.settings.begin(), options.settings.end());
    const std::vector<ParameterSetting> settings = parseSettings(texts);
    const int sampleFormat = SoundFormat::parseSampleFormat(options.format);
    const auto library = PluginLibrary::load(options.plugin);
    checkSettings(library, settings, options.inputs, options.blockSize);
    if (!options.outDir.empty())
        makeFolder(options.outDir);
    const bool onePlot = options.inputs.size() == 1;
    if (!options.plot.empty() && !onePlot)
        makeFolder(options.plot);

    std::vector<RenderJob> jobs;
    for (const std::string& input : options.inputs)
    {
        const std::string output = options.output.empty() ? outputFor(input, options.outDir) : options.output;
        jobs.push_back({input, output, options.plot.empty() ? "" : plotFor(output, options.plot, onePlot)});
    }
    if (!options.bandsDir.empty())
    {
        checkBandFiles(library, jobs, options.bandsDir, options.blockSize);
        makeFolder(options.bandsDir);
    }
    const int threads =
        options.jobs > 0 ? options.jobs : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const DitherKind dither = options.dither == "none" ? DitherKind::none : DitherKind::tpdf;
    if (!options.preset.empty() || !options.target.empty() || !options.truePeak.empty() || options.album ||
        !options.codec.empty() || options.codecSafe || !options.report.empty())
        return master(options, library, settings, sampleFormat, dither, jobs, threads, out, err);
    Renderer renderer(library, settings, options.blockSize, sampleFormat, true, options.allowTruncated, dither);
    renderer.writeBands(options.bandsDir);
    const BatchOutcome outcome = BatchRenderer(renderer, threads).run(jobs, out, err, ProgressBar::stderrIsTerminal());
    if (InterruptFlag::raised())
        return kInterruptedStatus;
    return outcome.failed ? kErrorStatus : outcome.damaged ? kDamagedInputStatus : 0;
}

int Commands::master(const RenderOptions& options, const std::shared_ptr<PluginLibrary>& library,
                     const std::vector<ParameterSetting>& settings, int sampleFormat, DitherKind dither,
                     const std::vector<RenderJob>& jobs, int threads, std::ostream& out, std::ostream& err)
{
    MasterOptions master;
    master.target = options.preset.empty() ? DeliveryTarget::none() : DeliveryTarget::preset(options.preset);
    if (!options.target.empty())
        master.target.loudness = DeliveryTarget::parseLoudness(options.target);
    if (!options.truePeak.empty())
        master.target.truePeak = DeliveryTarget::parseTruePeak(options.truePeak);
    if (options.codecSafe && options.codec.empty())
        throw HostError("--codec-safe needs --codec");
    // A loudness target or a codec to hold without a true-peak target: -1 dBTP.
    if (!master.target.hasTruePeak() && (master.target.hasLoudness() || options.codecSafe))
        master.target.truePeak = -1.0;
    if (options.album && !master.target.hasLoudness())
        throw HostError("--album needs a loudness target (--target or --preset)");
    master.album = options.album;
    master.codec = options.codec;
    master.codecSafe = options.codecSafe;
    master.threads = threads;
    master.allowTruncated = options.allowTruncated;
    master.dither = dither;
    master.bandFolder = options.bandsDir;

    const Mastering mastering(library, settings, options.blockSize, sampleFormat, master);
    const std::vector<MasterOutcome> outcomes = mastering.run(jobs, &InterruptFlag::flag());
    bool failed = false;
    bool damaged = false;
    for (std::size_t i = 0; i < outcomes.size(); ++i)
    {
        const MasterOutcome& outcome = outcomes[i];
        // A damaged input counts as damaged whether it was refused or
        // rendered as far as it goes; any other error is a failure.
        damaged = damaged || !outcome.inputDamage.empty();
        failed = failed || (!outcome.error.empty() && outcome.inputDamage.empty());
        if (!outcome.error.empty())
            err << "orvex: " << outcome.error << "\n";
        else if (i == jobs.size())
            out << "album (" << jobs.size() << " files)\n"
                << RenderReport::table(outcome.result.before, outcome.result.after) << MasterReport::text(outcome, master);
        else
        {
            err << RenderReport::inputWarnings(outcome.input, outcome.result);
            out << RenderReport::format(outcome.input, outcome.output, outcome.result) << MasterReport::text(outcome, master);
            try
            {
                if (!jobs[i].plot.empty())
                    TimelinePlot::write(jobs[i].plot, outcome.result, outcome.input + " -> " + outcome.output);
            }
            catch (const HostError& error)
            {
                err << "orvex: " << error.what() << "\n";
                failed = true;
            }
        }
    }
    if (!options.report.empty())
        TextFileWriter::write(options.report, MasterReport::json(outcomes, master));
    if (InterruptFlag::raised())
        return kInterruptedStatus;
    if (failed)
        return kErrorStatus;
    if (damaged)
        return kDamagedInputStatus;
    return MasterReport::allMet(outcomes) ? 0 : kMissedTargetStatus;
}

int Commands::measure(const MeasureOptions& options, std::ostream& out)
{
    const std::vector<ParameterSetting> settings = parseSettings(options.settings);
    const auto library = PluginLibrary::load(options.plugin);
    if (options.bands && options.svg.empty() && options.csv.empty())
        throw HostError("--bands adds curves to the plot: give --svg or --csv");
    out << TransparencyMeasurer::text(
               TransparencyMeasurer(library, options.sampleRate, options.blockSize).measure(settings));
    if (options.svg.empty() && options.csv.empty())
        return 0;
    const ResponseMeasurer measurer(library, options.sampleRate, options.blockSize, options.points, 1 << 16);
    const Response response = measurer.measure(settings, options.bands);
    if (!options.svg.empty())
    {
        SvgPlotWriter::write(options.svg, response, "Magnitude response at " + RenderReport::number(options.sampleRate, 0) + " Hz");
        out << "wrote " << options.svg << "\n";
    }
    if (!options.csv.empty())
    {
        CsvWriter::write(options.csv, response);
        out << "wrote " << options.csv << "\n";
    }
    return 0;
}

int Commands::demo(const std::string& folder, const std::string& plugin, std::ostream& out, std::ostream&)
{
    const auto library = PluginLibrary::load(plugin);
    const std::vector<ParameterSetting> settings = demoSettings(library);
    if (!isFolder(folder) && mkdir(folder.c_str(), 0777) != 0)
        throw HostError("cannot create " + folder + ": " + std::strerror(errno));

    const std::string input = folder + "/demo-in.wav";
    const std::string output = folder + "/demo-out.wav";
    const std::vector<float> mix = DemoSynth(kDemoRate, kDemoSeed).render(kDemoSeconds);
    SoundFileWriter writer(input, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, kDemoRate);
    writer.write(mix.data(), static_cast<std::int64_t>(mix.size() / 2));
    writer.commit();
    out << "wrote " << input << " (" << kDemoSeconds << " s synthesised mix)\n";

    const RenderResult result = Renderer(library, settings, 1024).render(input, output, {}, &InterruptFlag::flag());
    out << RenderReport::format(input, output, result);

    const std::string svg = folder + "/demo-bands.svg";
    const ResponseMeasurer measurer(library, kDemoRate, 1024, 200, 1 << 16);
    SvgPlotWriter::write(svg, measurer.measure(settings, true), "Demo setting: band responses at 44100 Hz");
    out << "wrote " << svg << "\n";
    return 0;
}
