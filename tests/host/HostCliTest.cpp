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
    expectOneErrorLine(orvex(dir, "render in.wav surround.wav -o out.wav " + gain()), "--out-dir");
    expectOneErrorLine(orvex(dir, "render in.wav --set Volume=1 " + gain()), "unknown parameter 'Volume'");
    expectOneErrorLine(orvex(dir, "render in.wav --set Slope=-30 " + gain()), "out of reach");
    EXPECT_EQ(readAudio(dir.file("in.wav")).samples, in.samples);
    auto entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"in.wav", "surround.wav", "text.wav"}));
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

TEST(HostCli, DemoNamesTheParametersItNeeds)
{
    ScratchDir dir;
    const Outcome run = orvex(dir, "demo out " + gain());
    expectOneErrorLine(run, "unknown parameter '1.Thresh'");
    EXPECT_TRUE(dir.entries().empty()); // nothing made
}
} // namespace
