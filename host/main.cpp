// orvex: a command-line VST 2.4 host for Linux plug-ins.
#include "Commands.h"
#include "DefaultPlugin.h"
#include "HostError.h"
#include "InterruptFlag.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace
{
void addRender(CLI::App& app, RenderOptions& options)
{
    CLI::App* render = app.add_subcommand("render", "Render audio files through the plug-in");
    render->add_option("inputs", options.inputs, "Input audio files (WAV, FLAC, AIFF, Ogg, ...)")->required();
    auto* output = render->add_option("-o,--output", options.output, "Output file (one input only)");
    render->add_option("--out-dir", options.outDir, "Folder for the outputs, named as the inputs")->excludes(output);
    render->add_option("--plugin", options.plugin, "Plug-in library")->default_val(DefaultPlugin::path());
    render->add_option("--set", options.settings, "PARAM=VALUE: index or name = normalised 0..1, or a value "
                                                   "with unit (1500Hz, -1dB) or display text (Off)");
    render->add_option("--block", options.blockSize, "Block size in frames")->default_val(1024)->check(CLI::Range(1, 1 << 20));
    render->add_option("-j,--jobs", options.jobs, "Files rendered at once (default: one per core)")->check(CLI::Range(1, 1024));
    render->add_option("--format", options.format, "Output sample format")->check(CLI::IsMember({"float32", "pcm24", "pcm16"}));
    render->add_option("--dither", options.dither, "Dither when writing integer samples (pcm16, pcm24)")
        ->default_val("tpdf")
        ->check(CLI::IsMember({"none", "tpdf"}));
    render->add_flag("--allow-truncated", options.allowTruncated,
                     "Render a damaged input (cut short) as far as it goes; the exit status is still 4");
    render->add_option("--settings", options.settingsFile, "File of --set lines, applied before the command line's");
    render->add_option("--target", options.target, "Master to this integrated loudness (-14LUFS) by driving the bands");
    render->add_option("--true-peak", options.truePeak, "Master Ceiling with True peak on (-1dBTP; -1 with a target)");
    render->add_option("--preset", options.preset, "Delivery target: streaming, ebu-r128, atsc-a85, podcast");
    render->add_flag("--album", options.album, "One drive for all inputs: their loudness together meets the target");
    render->add_option("--codec", options.codec, "Encode and decode the master, report its true peak (mp3:320, opus:160, vorbis:6)");
    render->add_flag("--codec-safe", options.codecSafe, "Lower the ceiling until the decoded true peak meets the target");
    render->add_option("--report", options.report, "Write a JSON report (exit status 3: a target was missed)");
    render->add_option("--plot", options.plot, "SVG of loudness and gain reduction over time (several inputs: a folder)");
    render->add_option("--bands", options.bandsDir, "Also write each band's signal before the master into this folder");
}

void addMeasure(CLI::App& app, MeasureOptions& options)
{
    CLI::App* measure = app.add_subcommand(
        "measure", "How flat and how close to a null the plug-in is with its maximizers idle; plots its response");
    measure->add_option("--plugin", options.plugin, "Plug-in library")->default_val(DefaultPlugin::path());
    measure->add_option("--set", options.settings, "PARAM=VALUE, as for render");
    measure->add_flag("--bands", options.bands, "Also each band alone (Band1..Band5 switches)");
    measure->add_option("--svg", options.svg, "SVG plot of the small-signal magnitude response to write");
    measure->add_option("--csv", options.csv, "CSV table to write");
    measure->add_option("--rate", options.sampleRate, "Sample rate in Hz")->default_val(48000)->check(CLI::Range(1000, 768000));
    measure->add_option("--block", options.blockSize, "Block size in frames")->default_val(1024)->check(CLI::Range(1, 1 << 20));
    measure->add_option("--points", options.points, "Frequencies from 20 Hz to 20 kHz")->default_val(200)->check(CLI::Range(2, 100000));
}
} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"orvex: command-line host for VST 2.4 plug-ins on Linux"};
    app.require_subcommand(1);

    std::string infoPlugin = DefaultPlugin::path();
    CLI::App* info = app.add_subcommand("info", "Show a plug-in's identity and parameters");
    info->add_option("plugin", infoPlugin, "Plug-in library")->default_val(DefaultPlugin::path());
    RenderOptions renderOptions;
    addRender(app, renderOptions);
    MeasureOptions measureOptions;
    addMeasure(app, measureOptions);
    std::string demoFolder = ".";
    std::string demoPlugin = DefaultPlugin::path();
    CLI::App* demo = app.add_subcommand("demo", "Synthesise a mix, maximize it, plot the bands");
    demo->add_option("dir", demoFolder, "Folder for demo-in.wav, demo-out.wav, demo-bands.svg")->default_val(".");
    demo->add_option("--plugin", demoPlugin, "Plug-in library")->default_val(DefaultPlugin::path());

    CLI11_PARSE(app, argc, argv);
    InterruptFlag::install();
    try
    {
        if (info->parsed())
            return Commands::info(infoPlugin, 44100.0f, 1024, std::cout);
        if (app.got_subcommand("render"))
            return Commands::render(renderOptions, std::cout, std::cerr);
        if (app.got_subcommand("measure"))
            return Commands::measure(measureOptions, std::cout);
        if (demo->parsed())
            return Commands::demo(demoFolder, demoPlugin, std::cout, std::cerr);
    }
    catch (const std::exception& error)
    {
        std::cerr << "orvex: " << error.what() << std::endl;
        return InterruptFlag::raised() ? 130 : 1;
    }
    return 0;
}
