// The orvex executable run as a process: what users see on stdout, stderr and
// in the exit status, and that failures leave no partial files behind.
#include "HostTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace
{
using namespace HostTest;

std::string gain() { return "--plugin " + pluginPath(); }

// One "orvex: " line per failure, nothing else on stderr.
void expectOneErrorLine(const Outcome& run, const std::string& fragment)
{
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.err.rfind("orvex: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(fragment), std::string::npos) << run.err;
}

TEST(HostCli, InfoShowsIdentityAndEveryParameter)
{
    ScratchDir dir;
    const Outcome run = orvex(dir, "info " + pluginPath());
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* text : {"Orvex Test Gain", "Orvex Test", "oTgn (0x6F54676E)", "Inputs:         2",
                             "Latency:        37 samples", "replacing", "Parameters:     13", "HostRate", "Wobble",
                             "44100", "db/oct"})
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST(HostCli, DefaultPluginIsFoundBesideTheExecutableFromAnyFolder)
{
    ScratchDir dir;
    const Outcome run = orvex(dir, "info");
    // Whether or not the multiband plug-in is built yet, orvex looked for it
    // in the plug-in folder next to itself, not in the working folder.
    std::string folder = ORVEX_EXECUTABLE;
    folder = folder.substr(0, folder.rfind('/'));
    if (run.status != 0)
        expectOneErrorLine(run, folder + "/plugins/MultibandOrvexMaximizer.so");
    else
        for (const std::string& text : {folder + "/plugins/MultibandOrvexMaximizer.so",
                                       "Inner plug-in:  " + folder + "/plugins/Orvex_Maximizer.so",
                                       std::string("samples after one block")})
            EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
}

TEST(HostCli, InstalledOrvexFindsThePluginUnderItsPrefixThenOnVstPath)
{
    // An orvex copied into <dir>/bin, the test plug-in under the default name
    // in the folder each row names.
    const struct
    {
        const char* pluginFolder;
        const char* environment;
    } rows[] = {{"lib/vst", "VST_PATH=/nonexistent"}, {"vst-a", "VST_PATH=/nonexistent:\\$PWD/vst-a"}};
    for (const auto& row : rows)
    {
        ScratchDir dir;
        const std::string plugin = dir.file(row.pluginFolder) + "/MultibandOrvexMaximizer.so";
        ASSERT_EQ(std::system(("mkdir -p '" + dir.file("bin") + "' '" + dir.file(row.pluginFolder) + "' && cp '" +
                               ORVEX_EXECUTABLE + "' '" + dir.file("bin") + "/' && cp '" + pluginPath() + "' '" +
                               plugin + "'")
                                  .c_str()),
                  0);
        const Outcome run = orvex(dir, "info", row.environment, dir.file("bin/orvex"));
        ASSERT_EQ(run.status, 0) << row.pluginFolder << ": " << run.err;
        EXPECT_NE(run.out.find("Orvex Test Gain"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(row.pluginFolder + std::string("/MultibandOrvexMaximizer.so")), std::string::npos)
            << run.out;
    }
}

TEST(HostCli, PluginsThatCannotBeUsedFailWithOneLine)
{
    ScratchDir dir;
    expectOneErrorLine(orvex(dir, "info missing.so"), "No such file");
    std::ofstream(dir.file("fake.so")) << "text\n";
    expectOneErrorLine(orvex(dir, "info fake.so"), "cannot load plug-in");
    expectOneErrorLine(orvex(dir, "info " + pluginPath("OrvexTestNoEntry")), "no entry point");
    writeAudio(dir.file("in.wav"), noise(100, 2, 1));
    expectOneErrorLine(orvex(dir, "render in.wav --plugin missing.so"), "missing.so");
    auto entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"fake.so", "in.wav"}));
}

TEST(HostCli, RendersBesideTheInputByDefaultQuietlyWhenNotOnATerminal)
{
    ScratchDir dir;
    const Audio in = noise(4000, 2, 2);
    writeAudio(dir.file("song.wav"), in);
    const Outcome run = orvex(dir, "render song.wav --set Mode=Off " + gain());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err; // no progress bar into a file
    EXPECT_EQ(readAudio(dir.file("song-orvex.wav")).samples, in.samples);
    for (const char* text : {"song.wav -> song-orvex.wav", "LUFS", "true dBTP", "before", "after"})
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
}

TEST(HostCli, BadInputsAndOutputsFailEachWithOneLineAndNoFile)
{
    ScratchDir dir;
    const Audio in = noise(500, 2, 4);
    writeAudio(dir.file("in.wav"), in);
    writeAudio(dir.file("surround.wav"), noise(10, 3, 4));
    std::ofstream(dir.file("text.wav")) << "not audio\n";
    expectOneErrorLine(orvex(dir, "render text.wav -o out.wav " + gain()), "cannot read text.wav");
    expectOneErrorLine(orvex(dir, "render absent.wav -o out.wav " + gain()), "cannot read absent.wav");
    expectOneErrorLine(orvex(dir, "render surround.wav -o out.wav " + gain()), "3 channels");
    expectOneErrorLine(orvex(dir, "render in.wav --out-dir /proc " + gain()), "cannot write /proc/in.wav");
    expectOneErrorLine(orvex(dir, "render in.wav --out-dir in.wav/below " + gain()), "cannot create output folder");
    expectOneErrorLine(orvex(dir, "render in.wav --set Freq=30000Hz " + gain()), "ranges from");
    expectOneErrorLine(orvex(dir, "render in.wav -o in.wav " + gain()), "refusing to overwrite the input");
    expectOneErrorLine(orvex(dir, "render in.wav --out-dir . " + gain()), "refusing to overwrite the input");
    expectOneErrorLine(orvex(dir, "render in.wav -o out.wav --plot in.wav " + gain()), "refusing to write the plot in.wav");
    expectOneErrorLine(orvex(dir, "render in.wav surround.wav -o out.wav " + gain()), "--out-dir");
    expectOneErrorLine(orvex(dir, "render in.wav --set Volume=1 " + gain()), "unknown parameter 'Volume'");
    expectOneErrorLine(orvex(dir, "render in.wav --set Slope=-30 " + gain()), "out of reach");
    expectOneErrorLine(orvex(dir, "render in.wav --bands bands " + gain()), "has no band outputs");
    EXPECT_EQ(readAudio(dir.file("in.wav")).samples, in.samples);
    auto entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"in.wav", "surround.wav", "text.wav"}));
}

// One input: --plot names the plot. Several: a folder, one plot per input
// named after its output; two that would share a name are refused.
TEST(HostCli, PlotsGoWhereTheyAreNamed)
{
    ScratchDir dir;
    Audio in = noise(4410, 2, 6);
    writeAudio(dir.file("a.wav"), in);
    writeAudio(dir.file("b.wav"), in);
    in.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    writeAudio(dir.file("a.flac"), in);
    ASSERT_EQ(orvex(dir, "render a.wav -o x.wav --plot one.svg " + gain()).status, 0);
    ASSERT_EQ(orvex(dir, "render a.wav b.wav --out-dir out --plot plots " + gain()).status, 0);
    for (const char* plot : {"one.svg", "plots/a.svg", "plots/b.svg"})
        EXPECT_EQ(slurp(dir.file(plot)).rfind("<?xml", 0), 0u) << plot;
    const Outcome clash = orvex(dir, "render a.wav a.flac --out-dir out2 --plot plots2 " + gain());
    EXPECT_EQ(clash.status, 1);
    EXPECT_NE(clash.err.find("two inputs would both be plotted to plots2/a.svg"), std::string::npos) << clash.err;
}

TEST(HostCli, ValuesAreCheckedAtTheFilesRateAndTheOutputFolderIsMade)
{
    ScratchDir dir;
    Audio in = noise(500, 2, 4);
    in.rate = 96000; // where Freq reaches 47 kHz
    writeAudio(dir.file("in.wav"), in);
    const Outcome run = orvex(dir, "render in.wav --out-dir new/folder --set Freq=30000Hz " + gain());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readAudio(dir.file("new/folder/in.wav")).frames(), in.frames());
}

TEST(HostCli, AFullDiskFailsTheFileAndRemovesIt)
{
    ScratchDir dir;
    writeAudio(dir.file("long.wav"), noise(200000, 2, 6)); // 1.6 MB of float
    // A file-size limit of 100 blocks makes the write fail as a full disk would.
    const Outcome run = orvex(dir, "render long.wav -o out.wav " + gain(), "ulimit -f 100 &&");
    expectOneErrorLine(run, "error writing out.wav: File too large");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"long.wav"});
}

TEST(HostCli, OneBadFileDoesNotStopTheBatch)
{
    ScratchDir dir;
    std::vector<Audio> inputs;
    for (int i = 0; i < 5; ++i)
    {
        inputs.push_back(noise(3000 + 1000 * i, 2, static_cast<std::uint32_t>(100 + i)));
        writeAudio(dir.file("in" + std::to_string(i) + ".wav"), inputs.back());
    }
    std::ofstream(dir.file("in2.wav"), std::ios::trunc) << "broken\n";
    std::system(("mkdir '" + dir.file("out") + "'").c_str());
    const Outcome run = orvex(dir, "render in0.wav in1.wav in2.wav in3.wav in4.wav --out-dir out -j 3 --set Gain=+6dB "
                               "--set Mode=On " + gain());
    EXPECT_EQ(run.status, 1);
    expectOneErrorLine(run, "in2.wav");
    for (int i : {0, 1, 3, 4})
    {
        const Audio out = readAudio(dir.file("out/in" + std::to_string(i) + ".wav"));
        ASSERT_EQ(out.frames(), inputs[static_cast<std::size_t>(i)].frames());
        const Reference ref = reference(inputs[static_cast<std::size_t>(i)], 1, 6.0, std::vector<bool>(5, true));
        for (std::int64_t n = 0; n < out.frames(); ++n)
            ASSERT_NEAR(out.at(n, 1), ref.value[static_cast<std::size_t>(n)], 2e-4 * std::fabs(ref.value[static_cast<std::size_t>(n)]) + 1e-7);
    }
    EXPECT_EQ(std::system(("test ! -e '" + dir.file("out/in2.wav") + "'").c_str()), 0);
}

// `name` made of the first `keep` bytes of `source`, then `extra` bytes of text.
void damagedCopy(const ScratchDir& dir, const std::string& source, const std::string& name, std::int64_t keep,
                 std::size_t extra = 0)
{
    const std::string bytes = slurp(dir.file(source));
    std::ofstream(dir.file(name), std::ios::binary)
        << bytes.substr(0, static_cast<std::size_t>(std::max<std::int64_t>(keep, 0))) << std::string(extra, 'x');
}

TEST(HostCli, DamagedInputsAreRefusedWithTheirOwnStatusUnlessAllowed)
{
    ScratchDir dir;
    Audio in = noise(88200, 2, 21); // 2 s of pcm16: 352800 bytes of audio
    in.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    writeAudio(dir.file("whole.wav"), in);
    in.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    writeAudio(dir.file("whole.flac"), in);
    const auto wavBytes = static_cast<std::int64_t>(slurp(dir.file("whole.wav")).size());
    const auto flacBytes = static_cast<std::int64_t>(slurp(dir.file("whole.flac")).size());
    damagedCopy(dir, "whole.wav", "data.wav", wavBytes - 176400); // half the audio left
    damagedCopy(dir, "whole.wav", "header.wav", 30);
    damagedCopy(dir, "whole.wav", "few.wav", 6);
    damagedCopy(dir, "whole.flac", "cut.flac", flacBytes / 2);
    damagedCopy(dir, "whole.wav", "trailing.wav", wavBytes, 1000);
    const std::string refused = "; not rendered (--allow-truncated renders what is there)\n";
    const struct
    {
        const char* input;
        const char* options;
        int status;
        std::string stderrLine; // a fragment of the one line expected, or "" for none
        std::int64_t outputFrames; // -1: no output
    } rows[] = {
        {"whole.wav", "", 0, "", 88200},
        {"data.wav", "", 4, "orvex: data.wav is damaged: its header declares 352800 bytes of audio (2.000 s), the "
                            "file holds 176400 bytes (1.000 s)" + refused, -1},
        {"data.wav", "--allow-truncated", 4, "orvex: warning: data.wav is damaged: its header declares 352800 bytes "
                                             "of audio (2.000 s), the file holds 176400 bytes (1.000 s); rendered the "
                                             "44100 frames it holds\n", 44100},
        {"header.wav", "", 4, "orvex: header.wav is damaged: the file ends inside its 'fmt ' chunk, before the audio "
                              "(the chunk declares 16 bytes, the file holds 10)" + refused, -1},
        {"few.wav", "--allow-truncated", 4, "orvex: few.wav is damaged: the file ends after 6 bytes, inside its RIFF "
                                            "header; nothing in it can be rendered\n", -1},
        {"cut.flac", "", 4, " frames (2.000 s) its header declares: ", -1},
        {"trailing.wav", "", 0, "orvex: warning: trailing.wav: 1000 bytes after the audio are not a known chunk; "
                                "ignored\n", 88200},
    };
    // A plain render, and a mastering run (a report, no target): the same.
    for (const std::string mode : {"", "--report r.json "})
    for (const auto& row : rows)
    {
        SCOPED_TRACE(mode);
        const std::string output = dir.file("out.wav");
        const Outcome run = orvex(dir, "render " + std::string(row.input) + " -o out.wav --format float32 --set Mode=Off " +
                                           row.options + " " + mode + gain());
        EXPECT_EQ(run.status, row.status) << row.input << " " << row.options << ": " << run.err;
        if (!mode.empty())
        {
            const std::string json = slurp(dir.file("r.json"));
            EXPECT_EQ(json.find("\"input_truncated\": null") == std::string::npos, row.status == 4) << json;
            std::remove(dir.file("r.json").c_str());
        }
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), row.stderrLine.empty() ? 0 : 1) << run.err;
        EXPECT_NE(run.err.find(row.stderrLine), std::string::npos) << run.err;
        EXPECT_EQ(row.outputFrames < 0 || run.out.find("input truncated: ") != std::string::npos,
                  row.status == 4) << run.out;
        if (row.outputFrames < 0)
        {
            EXPECT_NE(access(output.c_str(), F_OK), 0) << row.input << " left an output";
            continue;
        }
        const Audio out = readAudio(output);
        ASSERT_EQ(out.frames(), row.outputFrames) << row.input;
        EXPECT_TRUE(std::equal(out.samples.begin(), out.samples.end(), readAudio(dir.file("whole.wav")).samples.begin()))
            << row.input;
        std::remove(output.c_str());
    }
}

// |DFT|^2 of channel 0 at `hz`, the samples in units of `lsb`.
double binPower(const Audio& audio, double hz, double lsb)
{
    std::complex<double> sum = 0.0;
    for (std::int64_t n = 0; n < audio.frames(); ++n)
        sum += static_cast<double>(audio.at(n, 0)) / lsb * std::polar(1.0, -2.0 * M_PI * hz * n / audio.rate);
    return std::norm(sum);
}

TEST(HostCli, Pcm16IsDitheredSoAQuietToneKeepsNoHarmonics)
{
    // A 1 kHz sine at -96 dBFS, half an LSB of pcm16, for one second.
    ScratchDir dir;
    Audio tone;
    tone.rate = 48000;
    const double lsb = 1.0 / 32768.0;
    const double amplitude = std::pow(10.0, -96.0 / 20.0) / lsb;
    for (int n = 0; n < tone.rate; ++n)
        tone.samples.insert(tone.samples.end(), 2,
                            static_cast<float>(amplitude * lsb * std::sin(2.0 * M_PI * 1000.0 * n / tone.rate)));
    writeAudio(dir.file("tone.wav"), tone);
    // TPDF dither and rounding leave white noise of LSB^2/4 a sample: N/4 in each DFT bin.
    const double floor = tone.rate / 4.0;
    const double tonePower = std::pow(tone.rate * amplitude / 2.0, 2.0);
    for (const auto& [options, dithered] :
         {std::pair{"", true}, std::pair{"--dither none", false}, std::pair{"--report r.json", true}})
    {
        const Outcome run = orvex(dir, "render tone.wav -o out.wav --format pcm16 --set Mode=Off " +
                                           std::string(options) + " " + gain());
        ASSERT_EQ(run.status, 0) << run.err;
        const Audio out = readAudio(dir.file("out.wav"));
        ASSERT_EQ(out.frames(), tone.frames());
        double harmonics = 0.0;
        for (int k = 2; k <= 10; ++k)
            harmonics = std::max(harmonics, binPower(out, 1000.0 * k, lsb));
        double error = 0.0;
        for (std::size_t i = 0; i < out.samples.size(); ++i)
            error += std::pow((out.samples[i] - tone.samples[i]) / lsb, 2.0) / static_cast<double>(out.samples.size());
        if (dithered)
        {
            EXPECT_NEAR(10.0 * std::log10(binPower(out, 1000.0, lsb) / tonePower), 0.0, 0.5);
            EXPECT_LT(harmonics, 10.0 * floor); // a bin of noise exceeds this once in e^10
            EXPECT_NEAR(error, 0.25, 0.0125);    // dithered once: one TPDF plus the rounding
            if (std::string(options) == "--report r.json") // measured as written, after the dither
            {
                float peak = 0.0f;
                for (const float sample : out.samples)
                    peak = std::max(peak, std::fabs(sample));
                EXPECT_NEAR(reported(slurp(dir.file("r.json")), "sample_peak_dbfs", 1), 20.0 * std::log10(peak), 0.001);
            }
        }
        else
        {
            EXPECT_GT(harmonics, 100.0 * floor) << "undithered rounding of the tone makes its harmonics";
        }
    }
}

TEST(HostCli, MeasureWritesTheKnownResponseAsCsv)
{
    ScratchDir dir;
    const Outcome run = orvex(dir, "measure --bands --rate 44100 --points 31 --set Gain=0.375 --svg r.svg --csv r.csv " + gain());
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream csv(slurp(dir.file("r.csv")));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "frequency_hz,total_db,band_1_db,band_2_db,band_3_db,band_4_db,band_5_db");
    int rows = 0;
    while (std::getline(csv, line))
    {
        std::istringstream row(line);
        std::string cell;
        std::vector<double> values;
        while (std::getline(row, cell, ','))
            values.push_back(std::stod(cell));
        ASSERT_EQ(values.size(), 7u);
        const double hz = values[0];
        std::complex<double> sum = 0.0;
        for (int k = 0; k < TestGain::kBands; ++k)
        {
            sum += static_cast<double>(TestGain::kTaps[k]) * std::polar(1.0, -2.0 * M_PI * hz * k / 44100.0);
            // Each band alone is one tap: flat at -6 dB + 20 log10 |w|.
            EXPECT_NEAR(values[static_cast<std::size_t>(k) + 2], -6.0 + 20.0 * std::log10(std::fabs(TestGain::kTaps[k])), 1e-4);
        }
        EXPECT_NEAR(values[1], -6.0 + 20.0 * std::log10(std::abs(sum)), 1e-4) << hz;
        ++rows;
    }
    EXPECT_EQ(rows, 31);
}

// Any plug-in is measured with its settings as given: the test plug-in with
// Mode Off is its input delayed by its latency, exactly.
TEST(HostCli, MeasureFindsAPerfectNullAtTheReportedLatency)
{
    ScratchDir dir;
    const Outcome run = orvex(dir, "measure --rate 44100 --set Mode=Off " + gain());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "idle at 44100 Hz: the settings as given (no Thresh of ours to set), test signals peaking at -60 dBFS\n"
                       "flat within +/-0 dB from 20 Hz to 20 kHz\n"
                       "null residual: none, the output is the input delayed by the reported latency, 37 samples, bit for bit\n");
    expectOneErrorLine(orvex(dir, "measure --bands " + gain()), "--bands adds curves to the plot");
}

TEST(HostCli, DemoNamesTheParametersItNeeds)
{
    ScratchDir dir;
    const Outcome run = orvex(dir, "demo out " + gain());
    expectOneErrorLine(run, "unknown parameter '1.Thresh'");
    EXPECT_TRUE(dir.entries().empty()); // nothing made
}
} // namespace
