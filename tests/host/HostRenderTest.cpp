// Rendering files through the test plug-in: sample-exact output against the
// plug-in's known response, latency alignment, channel handling, the file
// formats libsndfile offers, loudness figures, and the response measurement.
#include "CsvWriter.h"
#include "HostError.h"
#include "HostTestSupport.h"
#include "Renderer.h"
#include "ResponseMeasurer.h"
#include "SvgPlotWriter.h"
#include "TruePeakMeter.h"
#include "../ReferenceTruePeak.h"

#include <gtest/gtest.h>

#include <ebur128.h>

#include <complex>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

namespace
{
using namespace HostTest;

const std::vector<bool> kAllBands(TestGain::kBands, true);

Renderer renderer(std::vector<ParameterSetting> settings, int block = 512, int sampleFormat = 0)
{
    // Undithered, so that integer outputs can be compared with exact references.
    return Renderer(PluginLibrary::load(pluginPath()), std::move(settings), block, sampleFormat, true, false,
                    DitherKind::none);
}

void expectMatchesReference(const Audio& in, const Audio& out, double gainDb, const std::vector<bool>& bands)
{
    ASSERT_EQ(out.frames(), in.frames());
    ASSERT_EQ(out.channels, 2);
    for (int c = 0; c < 2; ++c)
    {
        const Reference ref = reference(in, c, gainDb, bands);
        int mismatches = 0;
        for (std::int64_t n = 0; n < out.frames(); ++n)
            if (std::fabs(out.at(n, c) - ref.value[static_cast<std::size_t>(n)]) > ref.bound[static_cast<std::size_t>(n)] &&
                ++mismatches < 5)
                ADD_FAILURE() << "channel " << c << " frame " << n << ": " << out.at(n, c) << " vs "
                              << ref.value[static_cast<std::size_t>(n)];
        EXPECT_EQ(mismatches, 0) << "channel " << c;
    }
}

TEST(HostRender, OutputMatchesThePluginsKnownResponseForAnyBlockSize)
{
    ScratchDir dir;
    const Audio in = noise(10007, 2, 17);
    writeAudio(dir.file("in.wav"), in);
    // Gain 0.625 is +6 dB exactly; block sizes around and beyond the file.
    for (int block : {1, 36, 37, 64, 1000, 20000})
    {
        SCOPED_TRACE(block);
        const RenderResult result = renderer({{"Gain", "0.625"}}, block).render(dir.file("in.wav"), dir.file("out.wav"));
        EXPECT_EQ(result.latency, TestGain::kLatency);
        EXPECT_EQ(result.frames, in.frames());
        expectMatchesReference(in, readAudio(dir.file("out.wav")), 6.0, kAllBands);
    }
}

TEST(HostRender, LatencyIsCompensatedSampleForSample)
{
    ScratchDir dir;
    Audio in;
    in.samples.assign(2 * 1000, 0.0f);
    in.samples[2 * 0] = 0.25f;       // first frame, left
    in.samples[2 * 500 + 1] = -0.5f; // middle, right
    in.samples[2 * 999] = 0.75f;     // last frame, left: must survive the tail
    writeAudio(dir.file("impulses.wav"), in);
    renderer({{"Mode", "Off"}}, 64).render(dir.file("impulses.wav"), dir.file("out.wav"));
    const Audio out = readAudio(dir.file("out.wav"));
    EXPECT_EQ(out.samples, in.samples); // bypass: identical, bit for bit

    // One band: the impulse comes out at the same frame, scaled by its tap.
    renderer({{"Band1", "Off"}, {"Band2", "On"}, {"Band3", "Off"}, {"Band4", "Off"}, {"Band5", "Off"}, {"Gain", "0.5"}})
        .render(dir.file("impulses.wav"), dir.file("band2.wav"));
    const Audio band2 = readAudio(dir.file("band2.wav"));
    EXPECT_EQ(band2.at(1, 0), 0.25f * TestGain::kTaps[1]);
    EXPECT_EQ(band2.at(501, 1), -0.5f * TestGain::kTaps[1]);
    EXPECT_EQ(band2.at(0, 0), 0.0f);
}

TEST(HostRender, MonoInputFeedsBothInputsAndComesOutStereo)
{
    ScratchDir dir;
    const Audio in = noise(3000, 1, 5);
    writeAudio(dir.file("mono.wav"), in);
    renderer({{"Gain", "0.375"}}, 100).render(dir.file("mono.wav"), dir.file("out.wav"));
    expectMatchesReference(in, readAudio(dir.file("out.wav")), -6.0, kAllBands);
    // "Before" is the signal the plug-in is fed: the mono channel on both sides.
    Audio mono = noise(44100, 1, 6), both = mono;
    both.channels = 2;
    both.samples.clear();
    for (float v : mono.samples)
        both.samples.insert(both.samples.end(), 2, v);
    writeAudio(dir.file("mono.wav"), mono);
    writeAudio(dir.file("both.wav"), both);
    const double monoBefore = renderer({}).render(dir.file("mono.wav"), dir.file("out.wav")).before.integratedLufs;
    EXPECT_EQ(monoBefore, renderer({}).render(dir.file("both.wav"), dir.file("out.wav")).before.integratedLufs);
    EXPECT_TRUE(std::isfinite(monoBefore));
}

TEST(HostRender, RefusesMoreThanTwoChannelsAndLeavesNoFile)
{
    ScratchDir dir;
    writeAudio(dir.file("three.wav"), noise(100, 3, 1));
    try
    {
        renderer({}).render(dir.file("three.wav"), dir.file("out.wav"));
        ADD_FAILURE() << "three channels accepted";
    }
    catch (const HostError& error)
    {
        EXPECT_NE(std::string(error.what()).find("3 channels"), std::string::npos) << error.what();
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"three.wav"});
}

TEST(HostRender, RefusesToOverwriteItsInput)
{
    ScratchDir dir;
    const Audio in = noise(100, 2, 3);
    writeAudio(dir.file("in.wav"), in);
    EXPECT_THROW(renderer({}).render(dir.file("in.wav"), dir.path + "/./in.wav"), HostError);
    EXPECT_EQ(readAudio(dir.file("in.wav")).samples, in.samples);
}

TEST(HostRender, InterruptionLeavesNoFile)
{
    ScratchDir dir;
    writeAudio(dir.file("in.wav"), noise(5000, 2, 3));
    const std::atomic<bool> cancel{true};
    EXPECT_THROW(renderer({}).render(dir.file("in.wav"), dir.file("out.wav"), {}, &cancel), HostError);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.wav"});
}

TEST(HostRender, InterruptionMidwayLeavesNoFile)
{
    // The flag is raised while the reading and writing threads are busy.
    ScratchDir dir;
    writeAudio(dir.file("in.wav"), noise(300000, 2, 3));
    std::atomic<bool> cancel{false};
    std::int64_t seen = 0;
    const auto progress = [&](std::int64_t frames) {
        seen += frames;
        if (seen > 100000)
            cancel = true;
    };
    EXPECT_THROW(renderer({}, 256).render(dir.file("in.wav"), dir.file("out.wav"), progress, &cancel), HostError);
    EXPECT_LT(seen, 300000);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.wav"});
}

std::string renderError(const Renderer& renderer, const std::string& input, const std::string& output)
{
    try
    {
        renderer.render(input, output);
    }
    catch (const HostError& error)
    {
        return error.what();
    }
    return "no error";
}

TEST(HostRender, ReadErrorMidwayFailsWithTheReasonAndLeavesNoFile)
{
    // A FLAC file whose middle is overwritten: the decoder loses sync there,
    // on the reading thread, after many blocks have gone through.
    ScratchDir dir;
    Audio in = noise(200000, 2, 8);
    in.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    writeAudio(dir.file("in.flac"), in);
    {
        std::fstream file(dir.file("in.flac"), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(0, std::ios::end);
        const std::streamoff size = file.tellp();
        file.seekp(size / 2);
        const std::string junk(static_cast<std::size_t>(size / 4), 'Z');
        file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    const std::string error = renderError(renderer({}), dir.file("in.flac"), dir.file("out.wav"));
    EXPECT_EQ(error.rfind(dir.file("in.flac") + " is damaged: decoding failed after ", 0), 0u) << error;
    auto entries = dir.entries();
    EXPECT_EQ(entries, std::vector<std::string>{"in.flac"});
}

TEST(HostRender, WriteErrorMidwayFailsWithTheReasonAndLeavesNoFile)
{
    // A file-size limit fails the writing thread's writes as a full disk
    // would, while the plug-in thread is still rendering.
    ScratchDir dir;
    writeAudio(dir.file("in.wav"), noise(400000, 2, 9)); // 3.2 MB of float
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = 1 << 20;
    setrlimit(RLIMIT_FSIZE, &limited);
    const std::string error = renderError(renderer({}, 512), dir.file("in.wav"), dir.file("out.wav"));
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(error, "error writing " + dir.file("out.wav") + ": File too large");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.wav"});
}

struct FormatCase
{
    const char* extension;
    int format;
    double tolerance; // of the identity round trip, in full scale
};

TEST(HostRender, KeepsEveryFormatAndItsSamples)
{
    const FormatCase cases[] = {
        {"wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.0},   {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.0},
        {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0.0},  {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0.0},
        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 0.0}, {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 0.0},
        {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0.05},
    };
    for (const FormatCase& c : cases)
    {
        SCOPED_TRACE(std::string(c.extension) + " " + std::to_string(c.format));
        ScratchDir dir;
        Audio tone;
        for (int n = 0; n < 44100; ++n)
            for (int ch = 0; ch < 2; ++ch)
                tone.samples.push_back(0.4f * static_cast<float>(std::sin(2.0 * M_PI * (440.0 + 110.0 * ch) * n / 44100.0)));
        tone.format = c.format;
        const std::string in = dir.file(std::string("in.") + c.extension);
        const std::string out = dir.file(std::string("out.") + c.extension);
        writeAudio(in, tone);
        const Audio decoded = readAudio(in);
        renderer({{"Mode", "Off"}}).render(in, out);
        const Audio result = readAudio(out);
        EXPECT_EQ(result.format, c.format);
        ASSERT_EQ(result.frames(), decoded.frames());
        double worst = 0.0;
        for (std::size_t i = 0; i < result.samples.size(); ++i)
            worst = std::max(worst, static_cast<double>(std::fabs(result.samples[i] - decoded.samples[i])));
        EXPECT_LE(worst, c.tolerance);
    }
}

TEST(HostRender, SampleFormatCanBeChosenAndIntegerOutputClips)
{
    ScratchDir dir;
    Audio loud = noise(2000, 2, 9, 0.9f);
    writeAudio(dir.file("in.wav"), loud);
    // Mode Off with +24 dB would not clip; all bands and +24 dB (1.0) do.
    const RenderResult result =
        renderer({{"Gain", "1"}}, 512, SF_FORMAT_PCM_16).render(dir.file("in.wav"), dir.file("out.wav"));
    EXPECT_EQ(result.outputFormat, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const Audio out = readAudio(dir.file("out.wav"));
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const Reference ref = reference(loud, 0, 24.0, kAllBands);
    for (std::int64_t n = 0; n < out.frames(); ++n)
    {
        const double expected = std::clamp(ref.value[static_cast<std::size_t>(n)], -1.0, 1.0);
        ASSERT_NEAR(out.at(n, 0), expected, 1.0 / 32768.0 + 1e-6) << n; // clipped, never wrapped round
    }
    EXPECT_THROW(renderer({}, 512, SF_FORMAT_FLOAT).render(dir.file("in.wav"), dir.file("out.flac")), HostError);
}

// A 1 kHz sine of amplitude 0.5 on both channels at 48 kHz.
Audio stereoTone(int seconds)
{
    Audio tone;
    tone.rate = 48000;
    for (int n = 0; n < 48000 * seconds; ++n)
        tone.samples.insert(tone.samples.end(), 2, 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * n / 48000.0)));
    return tone;
}

TEST(HostRender, ReportsLoudnessAndPeaksBeforeAndAfter)
{
    // A 1 kHz sine of amplitude 0.5 on both channels: -6.02 dBFS peak, and
    // -6.02 LUFS (a full-scale 1 kHz sine in one channel reads -3.01 LUFS).
    ScratchDir dir;
    writeAudio(dir.file("tone.wav"), stereoTone(3));
    // Band 1 alone at -6 dB: amplitude 0.5 * 0.5 * 10^(-6/20).
    const RenderResult r = renderer({{"Band2", "0"}, {"Band3", "0"}, {"Band4", "0"}, {"Band5", "0"}, {"Gain", "0.375"}})
                               .render(dir.file("tone.wav"), dir.file("out.wav"));
    const double after = 20.0 * std::log10(0.25) - 6.0;
    EXPECT_NEAR(r.before.samplePeakDb, 20.0 * std::log10(0.5), 0.01);
    EXPECT_NEAR(r.before.truePeakDb, 20.0 * std::log10(0.5), 0.1);
    EXPECT_NEAR(r.before.integratedLufs, 20.0 * std::log10(0.5), 0.1);
    EXPECT_NEAR(r.before.rangeLu, 0.0, 0.1);
    EXPECT_NEAR(r.after.samplePeakDb, after, 0.01);
    EXPECT_NEAR(r.after.integratedLufs, after, 0.1);
}

#ifdef ORVEX_MULTIBAND_PLUGIN
TEST(HostRender, ReportsEachBandsGainReductionWhereThePluginHasMeters)
{
    // A 1 kHz sine at 0.5 (-6.02 dBFS) under a master ceiling of -12 dB: the
    // master takes 5.98 dB off for as long as the tone lasts, the bands
    // nothing. The test plug-in has no band meters.
    ScratchDir dir;
    writeAudio(dir.file("tone.wav"), stereoTone(2));
    const struct
    {
        std::string plugin;
        bool present;
    } rows[] = {{ORVEX_MULTIBAND_PLUGIN, true}, {pluginPath(), false}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.plugin);
        const std::vector<ParameterSetting> settings =
            row.present ? std::vector<ParameterSetting>{{"M.Ceiling", "-12dB"}} : std::vector<ParameterSetting>{};
        const RenderResult r = Renderer(PluginLibrary::load(row.plugin), settings, 512)
                                   .render(dir.file("tone.wav"), dir.file("out.wav"));
        const GainReductionSummary& gr = r.gainReduction;
        ASSERT_EQ(gr.present, row.present);
        if (!row.present)
            continue;
        const double master = 12.0 + 20.0 * std::log10(0.5);
        EXPECT_NEAR(gr.maxDb[5], master, 0.1);
        EXPECT_GT(gr.limitingShare[5], 0.9);
        EXPECT_NEAR(gr.meanDb[5], master * gr.limitingShare[5], 0.1);
        for (int band = 0; band < 5; ++band)
            EXPECT_EQ(gr.maxDb[static_cast<std::size_t>(band)], 0.0) << band;
    }
}

// Every 100 ms of the file: the short-term loudness of input and output as
// libebur128 reads it at that point, and the meters where the tone is (the
// plug-in's latency taken off): 0.95 s of silence, 1 s of the tone at 0.5
// (the master takes 5.98 dB off under a -12 dB ceiling), then the tone at
// 0.05 (under the ceiling: nothing taken off once released).
TEST(HostRender, TimelineFollowsTheFileEveryTenthOfASecond)
{
    Audio tone = stereoTone(5);
    for (std::size_t i = 0; i < tone.samples.size(); ++i)
        tone.samples[i] *= i < 2 * 45600 ? 0.0f : (i < 2 * 93600 ? 1.0f : 0.1f);
    const Audio& in = tone;
    ScratchDir dir;
    writeAudio(dir.file("in.wav"), in);
    const RenderResult r = Renderer(PluginLibrary::load(ORVEX_MULTIBAND_PLUGIN), {{"M.Ceiling", "-12dB"}}, 512)
                               .render(dir.file("in.wav"), dir.file("out.wav"));
    const Audio out = readAudio(dir.file("out.wav"));
    constexpr std::size_t kSteps = 50;
    for (const auto& [audio, series] : {std::pair{&in, &r.before.shortTermLufs}, std::pair{&out, &r.after.shortTermLufs}})
    {
        ASSERT_EQ(series->size(), kSteps);
        ebur128_state* meter = ebur128_init(2, 48000, EBUR128_MODE_S);
        for (std::size_t i = 0; i < kSteps; ++i)
        {
            ebur128_add_frames_float(meter, audio->samples.data() + i * 2 * 4800, 4800);
            double expected = 0.0;
            ebur128_loudness_shortterm(meter, &expected);
            if (expected > -70.0)
                EXPECT_NEAR((*series)[i], expected, 0.1) << i;
            else
                EXPECT_LT((*series)[i], -70.0f) << i;
        }
        ebur128_destroy(&meter);
    }
    ASSERT_EQ(r.gainReductionHistory.size(), kSteps);
    const double master = 12.0 + 20.0 * std::log10(0.5);
    for (std::size_t i = 0; i < kSteps; ++i)
    {
        const auto& reading = r.gainReductionHistory[i];
        EXPECT_EQ(*std::max_element(reading.begin(), reading.end() - 1), 0.0f) << i; // the bands
        const bool loud = i >= 9 && i < 19;
        const bool released = i < 9 || i >= 30;
        EXPECT_TRUE(loud ? std::fabs(reading[5] - master) < 0.1 : !released || reading[5] < 0.01f) << i << ": " << reading[5];
    }
    EXPECT_TRUE(renderer({}).render(dir.file("in.wav"), dir.file("out.wav")).gainReductionHistory.empty());
}

TEST(HostRender, BandFilesSummedThroughTheMasterAreTheOutput)
{
    // The band files summed as the effect sums them (in float, band 1 first)
    // and run through a maximizer at the master's settings give the output:
    // the master sees the same samples (today to the bit; the bound leaves a
    // few float steps at full scale, 6e-8 each, for a compiler that fuses the
    // effect's multiply-add). The input starts and ends in silence, since
    // the crossover's ringing before time 0 and after the end reaches the
    // master but lies outside the files. Block sizes divide neither the
    // latency (3246) nor the master's (216); a band switched off gives silence.
    ScratchDir dir;
    Audio in = noise(44100, 2, 29, 0.9f);
    in.samples.insert(in.samples.begin(), 2 * 4410, 0.0f); // 0.1 s of silence around it
    in.samples.resize(in.samples.size() + 2 * 4410);
    writeAudio(dir.file("in.wav"), in);
    const std::vector<ParameterSetting> master = {{"Thresh", "-4dB"}, {"Ceiling", "-1.5dB"}, {"TruePeak", "On"}};
    for (const auto& [block, band3] : {std::pair<int, const char*>{100, "On"}, {1000, "Off"}})
    {
        SCOPED_TRACE(block);
        std::vector<ParameterSetting> settings = {{"1.Thresh", "-6dB"}, {"4.Thresh", "-9dB"}, {"Band3", band3}};
        for (const ParameterSetting& setting : master)
            settings.push_back({"M." + setting.parameter, setting.value});
        Renderer multiband(PluginLibrary::load(ORVEX_MULTIBAND_PLUGIN), settings, block);
        multiband.writeBands(dir.path);
        multiband.render(dir.file("in.wav"), dir.file("out.wav"));
        Audio sum = in;
        std::fill(sum.samples.begin(), sum.samples.end(), 0.0f);
        for (int b = 1; b <= 5; ++b)
        {
            const Audio band = readAudio(dir.file("in.band" + std::to_string(b) + ".wav"));
            ASSERT_EQ(band.samples.size(), sum.samples.size()) << b;
            for (std::size_t i = 0; i < sum.samples.size(); ++i)
                sum.samples[i] += band.samples[i];
        }
        writeAudio(dir.file("sum.wav"), sum);
        Renderer(PluginLibrary::load(ORVEX_MAXIMIZER_PLUGIN), master, 512).render(dir.file("sum.wav"), dir.file("mastered.wav"));
        const Audio out = readAudio(dir.file("out.wav"));
        const Audio mastered = readAudio(dir.file("mastered.wav"));
        ASSERT_EQ(mastered.samples.size(), out.samples.size());
        float largest = 0.0f;
        double difference = 0.0;
        for (std::size_t i = 0; i < out.samples.size(); ++i)
        {
            largest = std::max(largest, std::fabs(out.samples[i]));
            difference = std::max(difference, std::fabs(static_cast<double>(out.samples[i]) - mastered.samples[i]));
        }
        EXPECT_GT(largest, 0.5f); // not silence
        EXPECT_LE(difference, 1e-6);
    }
}
#endif

// |G sum w[k] e^(-i w k)| of the bands switched on, in dB.
double analyticDb(double hz, double rate, double gainDb, const std::vector<bool>& bands)
{
    std::complex<double> sum = 0.0;
    for (int k = 0; k < TestGain::kBands; ++k)
        if (bands[static_cast<std::size_t>(k)])
            sum += static_cast<double>(TestGain::kTaps[k]) * std::polar(1.0, -2.0 * M_PI * hz * k / rate);
    return gainDb + 20.0 * std::log10(std::abs(sum));
}

TEST(HostMeasure, ResponseMatchesTheAnalyticResponse)
{
    const ResponseMeasurer measurer(PluginLibrary::load(pluginPath()), 48000.0f, 300, 50, 4096);
    const Response response = measurer.measure({{"Gain", "0.625"}}, true);
    ASSERT_EQ(response.curves.size(), 6u);
    ASSERT_EQ(response.frequencies.size(), 50u);
    EXPECT_NEAR(response.frequencies.front(), 20.0, 1e-9);
    EXPECT_NEAR(response.frequencies.back(), 20000.0, 1e-6);
    // The measurement goes through float samples scaled by 1/1000 and back:
    // a relative error of a few float ulps, far below 1e-4 dB.
    for (std::size_t i = 0; i < response.frequencies.size(); ++i)
    {
        const double hz = response.frequencies[i];
        EXPECT_NEAR(response.curves[0].db[i], analyticDb(hz, 48000.0, 6.0, kAllBands), 1e-4) << hz;
        for (int band = 0; band < TestGain::kBands; ++band)
        {
            std::vector<bool> solo(TestGain::kBands, false);
            solo[static_cast<std::size_t>(band)] = true;
            EXPECT_NEAR(response.curves[static_cast<std::size_t>(band) + 1].db[i], analyticDb(hz, 48000.0, 6.0, solo), 1e-4);
        }
    }
}

TEST(HostMeasure, DirectDftAgreesWithANaiveOne)
{
    std::mt19937 engine(3);
    std::vector<float> h(3001);
    for (float& v : h)
        v = static_cast<float>(engine() >> 8) / 8388608.0f - 1.0f;
    const std::vector<double> frequencies = {20.0, 997.0, 12345.6, 23999.0};
    const std::vector<double> db = ResponseMeasurer::magnitudeDb(h, 48000.0, frequencies);
    for (std::size_t i = 0; i < frequencies.size(); ++i)
    {
        double re = 0.0;
        double im = 0.0;
        for (std::size_t n = 0; n < h.size(); ++n)
        {
            re += h[n] * std::cos(2.0 * M_PI * frequencies[i] * static_cast<double>(n) / 48000.0);
            im -= h[n] * std::sin(2.0 * M_PI * frequencies[i] * static_cast<double>(n) / 48000.0);
        }
        EXPECT_NEAR(db[i], 10.0 * std::log10(re * re + im * im), 1e-9);
    }
}

TEST(HostMeasure, UnknownSettingFailsTheMeasurement)
{
    const ResponseMeasurer measurer(PluginLibrary::load(pluginPath()), 44100.0f, 256, 10, 256);
    EXPECT_THROW(measurer.measure({{"Band6", "0"}}, false), HostError);
}

TEST(HostMeasure, CsvHoldsEveryCurveAndFrequency)
{
    Response response;
    response.frequencies = {20.0, 1000.0};
    response.curves = {{"total", {-1.5, 0.25}}, {"band 1", {-std::numeric_limits<double>::infinity(), 3.0}}};
    EXPECT_EQ(CsvWriter::render(response),
              "frequency_hz,total_db,band_1_db\n20.0000,-1.500000,-inf\n1000.0000,0.250000,3.000000\n");
    const std::string svg = SvgPlotWriter::render(response, "a < b & c");
    EXPECT_NE(svg.find("a &lt; b &amp; c"), std::string::npos);
    EXPECT_NE(svg.find(">1k<"), std::string::npos);
}
} // namespace

namespace
{
// libebur128's own true peak serves as the independent reference.
double libraryTruePeak(const std::vector<float>& interleaved, int channels, int rate)
{
    ebur128_state* state = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate), EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(state, interleaved.data(), interleaved.size() / static_cast<std::size_t>(channels));
    double peak = 0.0;
    for (int c = 0; c < channels; ++c)
    {
        double value = 0.0;
        ebur128_true_peak(state, static_cast<unsigned>(c), &value);
        peak = std::max(peak, value);
    }
    ebur128_destroy(&state);
    return peak;
}

TEST(HostTruePeak, AgreesWithTheLongReference)
{
    // Peaks between samples (a quarter-rate sine 45 degrees off its crests
    // reads 3 dB over its samples), content next to Nyquist, full-band noise
    // and hard clipping, ending abruptly; fed in uneven blocks so the
    // stages' histories must carry across them.
    std::mt19937 engine(5);
    std::normal_distribution<double> gauss(0.0, 0.3);
    auto make = [&](auto&& sample) {
        std::vector<float> x(6000);
        for (std::size_t n = 0; n < x.size(); ++n)
            x[n] = static_cast<float>(sample(static_cast<double>(n)));
        return x;
    };
    const std::vector<std::pair<const char*, std::vector<float>>> signals = {
        {"quarter-rate sine at 45 degrees", make([](double n) { return 0.5 * std::sin(M_PI / 2.0 * n + M_PI / 4.0); })},
        {"sine at 0.49 of the rate", make([](double n) { return 0.8 * std::sin(2.0 * M_PI * 0.49 * n + 0.3); })},
        {"white noise", make([&](double) { return gauss(engine); })},
        {"clipped noise", make([&](double) { return std::clamp(3.0 * gauss(engine), -0.9, 0.9); })},
        {"clipped sine", make([](double n) { return std::clamp(2.0 * std::sin(2.0 * M_PI * 0.013 * n), -0.7, 0.7); })},
    };
    for (const auto& [name, x] : signals)
    {
        TruePeakMeter meter(1, 44100);
        for (std::size_t done = 0, block = 1; done < x.size(); done += block, block = block * 3 % 1500 + 1)
            meter.add(x.data() + done, static_cast<std::int64_t>(std::min(block, x.size() - done)));
        // The same points from the same half-sample filter: what is left is
        // float rounding and the short stages' 1e-5.
        EXPECT_NEAR(20.0 * std::log10(meter.peak()), 20.0 * std::log10(referenceTruePeak(x)), 0.002) << name;
    }
}

TEST(HostTruePeak, AgreesWithLibebur128)
{
    std::mt19937 engine(11);
    for (int rate : {44100, 48000})
    {
        // Noise through a one-pole low-pass: on content well below Nyquist
        // libebur128's short 4x interpolator is accurate to a few tenths of a
        // dB (on full-band noise it reads more than 1 dB low).
        Audio in = noise(rate, 2, engine(), 0.7f);
        float low[2] = {};
        for (std::size_t i = 0; i < in.samples.size(); ++i)
            in.samples[i] = low[i % 2] += 0.3f * (in.samples[i] - low[i % 2]);
        TruePeakMeter meter(2, rate);
        meter.add(in.samples.data(), in.frames());
        EXPECT_NEAR(20.0 * std::log10(meter.peak()), 20.0 * std::log10(libraryTruePeak(in.samples, 2, rate)), 0.3);
    }
}
} // namespace
