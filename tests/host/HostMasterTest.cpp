// Mastering to a target through the built multiband plug-in, run as users
// run it: the loudness checked with libebur128, the true peak with the
// tests' long reference interpolator, the JSON report against both.
#include "DemoSynth.h"
#include "HostTestSupport.h"
#include "../ReferenceTruePeak.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <regex>

namespace
{
using namespace HostTest;

const std::string kPlugin = std::string("--plugin '") + ORVEX_MULTIBAND_PLUGIN + "' ";
constexpr int kRate = 44100;

// The demo's synthesised mix (drums, bass, chords), `seconds` long, scaled.
Audio demoMix(double seconds, float gain)
{
    Audio audio;
    audio.samples = DemoSynth(kRate, 20240611).render(seconds);
    for (float& sample : audio.samples)
        sample *= gain;
    return audio;
}

// A quiet piece: sparse decaying notes with bright partials, around -40 LUFS.
Audio quietPiece(double seconds)
{
    Audio audio;
    const std::int64_t frames = static_cast<std::int64_t>(seconds * kRate);
    audio.samples.assign(static_cast<std::size_t>(frames * 2), 0.0f);
    const double scale[] = {220.0, 261.6, 329.6, 392.0, 440.0, 523.3};
    for (int note = 0; note * 0.45 < seconds; ++note)
    {
        const std::int64_t start = static_cast<std::int64_t>(note * 0.45 * kRate);
        const double f = scale[(note * 7) % 6];
        for (std::int64_t n = 0; start + n < frames && n < 2 * kRate; ++n)
        {
            const double t = static_cast<double>(n) / kRate;
            double v = 0.0;
            for (int partial = 1; partial <= 6; ++partial)
                v += std::sin(2.0 * M_PI * f * partial * t) / (partial * partial) * std::exp(-t * (2.0 + partial));
            const float sample = static_cast<float>(0.02 * v);
            audio.samples[static_cast<std::size_t>(2 * (start + n))] += sample;
            audio.samples[static_cast<std::size_t>(2 * (start + n) + 1)] += (note % 2 ? 0.6f : 1.0f) * sample;
        }
    }
    return audio;
}

double loudness(const std::vector<Audio>& tracks)
{
    std::vector<ebur128_state*> states;
    for (const Audio& audio : tracks)
    {
        states.push_back(ebur128_init(static_cast<unsigned>(audio.channels), static_cast<unsigned long>(audio.rate),
                                      EBUR128_MODE_I));
        ebur128_add_frames_float(states.back(), audio.samples.data(), static_cast<std::size_t>(audio.frames()));
    }
    double lufs = 0.0;
    ebur128_loudness_global_multiple(states.data(), states.size(), &lufs);
    for (ebur128_state*& state : states)
        ebur128_destroy(&state);
    return lufs;
}

double referenceTruePeakDb(const Audio& audio)
{
    double peak = 0.0;
    for (int c = 0; c < audio.channels; ++c)
    {
        std::vector<float> channel;
        for (std::int64_t n = 0; n < audio.frames(); ++n)
            channel.push_back(audio.at(n, c));
        peak = std::max(peak, referenceTruePeak(channel));
    }
    return 20.0 * std::log10(peak);
}

bool flagged(const std::string& json, const std::string& key, int n = 0)
{
    std::size_t at = 0;
    for (int i = 0; i <= n && at != std::string::npos; ++i)
        at = json.find("\"" + key + "\": ", at + (i ? 1 : 0));
    return at != std::string::npos && json.compare(at + key.size() + 4, 4, "true") == 0;
}

// The level difference between the last points of two curves of a plot,
// read against the first level axis's labels (the loudness axis).
double lastPointsApart(const std::string& svg, int first, int second)
{
    auto lastY = [&](int curve) {
        std::size_t at = 0;
        for (int i = 0; i <= curve; ++i)
            at = svg.find("<polyline", at + 1);
        const std::size_t end = svg.find('"', svg.find("points=\"", at) + 8);
        return std::stod(svg.substr(svg.find(',', svg.rfind(' ', end)) + 1));
    };
    const std::regex label("y=\"([-0-9.]+)\" text-anchor=\"end\">(-?[0-9]+)<");
    std::sregex_iterator at(svg.begin(), svg.end(), label);
    const double y0 = std::stod((*at)[1]), level0 = std::stod((*at)[2]);
    ++at;
    const double y1 = std::stod((*at)[1]), level1 = std::stod((*at)[2]);
    return (lastY(second) - lastY(first)) * (level1 - level0) / (y1 - y0);
}

// The report and the plot show each band's and the master's gain reduction
// where the plug-in has band meters, and the loudness either way: a tone at
// 0.5 under a master ceiling of -12 dB loses 5.98 dB in the master alone.
TEST(HostMaster, ReportAndPlotCarryTheMeters)
{
    Audio tone;
    for (int n = 0; n < 4 * kRate; ++n)
        tone.samples.insert(tone.samples.end(), 2, 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * n / kRate)));
    const struct
    {
        std::string options;
        bool metered;
    } rows[] = {{kPlugin + "--set M.Ceiling=-12dB", true}, {"--plugin " + pluginPath(), false}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.options);
        ScratchDir dir;
        writeAudio(dir.file("in.wav"), tone);
        const Outcome run = orvex(dir, "render in.wav -o out.wav --report r.json --plot p.svg " + row.options);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const std::string json = slurp(dir.file("r.json"));
        const std::string svg = slurp(dir.file("p.svg"));
        EXPECT_EQ(json.find("\"gain_reduction\": null") == std::string::npos, row.metered) << json;
        if (row.metered)
        {
            for (int band = 0; band < 5; ++band)
                EXPECT_EQ(reported(json, "max_db", band) + reported(json, "limiting_share", band), 0.0) << band;
            EXPECT_NEAR(reported(json, "max_db", 5), 12.0 + 20.0 * std::log10(0.5), 0.1);
            EXPECT_GT(reported(json, "limiting_share", 5), 0.9);
        }
        EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
        std::size_t curves = 0;
        for (std::size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1))
            ++curves;
        EXPECT_EQ(curves, row.metered ? 8u : 2u); // input, output, five bands, master
        // A steady tone: the last short-term loudness is the integrated one.
        EXPECT_NEAR(lastPointsApart(svg, 0, 1), reported(json, "integrated_lufs", 1) - reported(json, "integrated_lufs", 0),
                    0.1);
    }
}

TEST(HostMaster, ReachesTheLoudnessAndTruePeakTargets)
{
    struct Row
    {
        const char* what;
        Audio input;
        std::string options;
        double loudness;
        double truePeak;
        bool turnedDown; // louder than the target: a plain gain down first
    };
    const Row rows[] = {
        {"demo mix, streaming", demoMix(6.0, 1.0f), "--preset streaming", -14.0, -1.0, false},
        {"quiet piece, podcast, 16 bits", quietPiece(6.0), "--preset podcast --format pcm16", -16.0, -1.0, false},
        {"quiet piece, own targets", quietPiece(6.0), "--target -20LUFS --true-peak -3dBTP --set M.Ceiling=0dB", -20.0, -3.0, false},
        {"loud demo mix, ATSC", demoMix(6.0, 2.0f), "--preset atsc-a85", -24.0, -2.0, true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        ScratchDir dir;
        writeAudio(dir.file("in.wav"), row.input);
        const Outcome run = orvex(dir, "render in.wav -o out.wav --report r.json " + kPlugin + row.options);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const Audio out = readAudio(dir.file("out.wav"));
        const std::string json = slurp(dir.file("r.json"));
        EXPECT_NEAR(loudness({out}), row.loudness, 0.1);
        EXPECT_NEAR(reported(json, "integrated_lufs", 1), row.loudness, 0.1);
        const double truePeak = referenceTruePeakDb(out);
        EXPECT_LE(truePeak, row.truePeak + 1e-4);
        EXPECT_NEAR(reported(json, "true_peak_dbtp", 2), truePeak, 0.001);
        EXPECT_NEAR(reported(json, "integrated_lufs", 0), loudness({row.input}), 0.05);
        EXPECT_EQ(reported(json, "gain_db") < 0.0, row.turnedDown) << json;
        EXPECT_TRUE(flagged(json, "loudness_target_met") && flagged(json, "true_peak_target_met")) << json;
    }
}

TEST(HostMaster, AlbumMeetsTheTargetTogetherAndKeepsTheTracksApart)
{
    ScratchDir dir;
    writeAudio(dir.file("loud.wav"), demoMix(6.0, 1.0f));
    writeAudio(dir.file("quiet.wav"), demoMix(6.0, 0.25f));
    const Outcome run = orvex(dir, "render loud.wav quiet.wav --out-dir out --album --preset streaming --report r.json " + kPlugin);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const Audio loud = readAudio(dir.file("out/loud.wav"));
    const Audio quiet = readAudio(dir.file("out/quiet.wav"));
    EXPECT_NEAR(loudness({loud, quiet}), -14.0, 0.1);
    // One drive for both: the quiet track stays quieter, by less than the
    // 12 dB between the inputs only because the loud one is limited harder.
    const double apart = loudness({loud}) - loudness({quiet});
    EXPECT_GT(apart, 3.0);
    EXPECT_LT(apart, 12.1);
    const std::string json = slurp(dir.file("r.json"));
    EXPECT_EQ(reported(json, "drive_db", 0), reported(json, "drive_db", 1));
    EXPECT_NEAR(reported(json, "integrated_lufs", 5), -14.0, 0.1); // the album's output
    EXPECT_LE(std::max(referenceTruePeakDb(loud), referenceTruePeakDb(quiet)), -1.0 + 1e-4);
}

// 0: all targets met; 3: written, but a target missed; 1: usage or I/O.
TEST(HostMaster, ExitStatusSaysWhetherTheTargetsWereMet)
{
    struct Row
    {
        std::string options;
        int status;
        bool written;
        const char* said;
    };
    const Row rows[] = {
        {"in.wav -o out.wav --preset ebu-r128", 0, true, ""},
        {"in.wav -o out.wav --target -2LUFS", 3, true, "MISSED loudness target -2.0 LUFS by -"},
        {"in.wav -o out.wav --target -14LUFS --codec opus:96", 0, true, "opus:96 decoded -"}, // resampled to 48 kHz
        {"in.wav -o out.wav --target -14LUFS --settings bad.txt", 1, false, "bad.txt:2"},
        {"in.wav missing.wav --out-dir out --target -14LUFS", 1, true, "missing.wav"},
        {"in.wav -o out.wav --codec-safe", 1, false, "--codec-safe needs --codec"},
        {"in.wav -o out.wav --target loud", 1, false, "-14LUFS"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.options);
        ScratchDir dir;
        writeAudio(dir.file("in.wav"), demoMix(3.0, 1.0f));
        std::ofstream(dir.file("bad.txt")) << "# my sound\n1.Thresh -3dB\n";
        const Outcome run = orvex(dir, "render " + row.options + " " + kPlugin);
        EXPECT_EQ(run.status, row.status) << run.out << run.err;
        EXPECT_EQ(access(dir.file("out.wav").c_str(), F_OK) == 0 || access(dir.file("out/in.wav").c_str(), F_OK) == 0,
                  row.written);
        EXPECT_NE((run.out + run.err).find(row.said), std::string::npos) << run.out << run.err;
    }
}

// The master encoded to MP3 and decoded (by libsndfile, as the host does):
// the host's decoded true peak agrees with the reference's, and with
// --codec-safe the ceiling comes down until it is under the target.
TEST(HostMaster, CodecRoundTripIsCheckedAndHeld)
{
    for (const bool safe : {false, true})
    {
        SCOPED_TRACE(safe ? "--codec-safe" : "--codec only");
        ScratchDir dir;
        writeAudio(dir.file("in.wav"), demoMix(6.0, 1.0f));
        const Outcome run = orvex(dir, "render in.wav -o out.wav --preset streaming --codec mp3:320 --report r.json " +
                                           kPlugin + (safe ? "--codec-safe" : ""));
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const Audio master = readAudio(dir.file("out.wav"));
        SF_INFO info{0, master.rate, master.channels, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0, 0};
        SNDFILE* mp3 = sf_open(dir.file("out.mp3").c_str(), SFM_WRITE, &info);
        ASSERT_NE(mp3, nullptr) << sf_strerror(nullptr);
        int constant = SF_BITRATE_MODE_CONSTANT;
        double best = 0.0; // 320 kbit/s
        sf_command(mp3, SFC_SET_BITRATE_MODE, &constant, sizeof constant);
        sf_command(mp3, SFC_SET_COMPRESSION_LEVEL, &best, sizeof best);
        sf_writef_float(mp3, master.samples.data(), master.frames());
        sf_close(mp3);
        const std::string json = slurp(dir.file("r.json"));
        const double decoded = reported(json, "decoded_true_peak_dbtp");
        const double ceiling = reported(json, "ceiling_dbtp");
        if (safe)
        {
            EXPECT_LE(decoded, -1.0);
            EXPECT_LT(ceiling, -1.0);
        }
        else
        {
            EXPECT_GT(decoded, -1.0); // what --codec-safe is for
            EXPECT_EQ(ceiling, -1.0);
        }
        EXPECT_NEAR(referenceTruePeakDb(readAudio(dir.file("out.mp3"))), decoded, 0.01);
    }
}
} // namespace
