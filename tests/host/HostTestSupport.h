// Helpers shared by the host tests: scratch folders, audio files written and
// read with libsndfile directly (independently of the host's own classes),
// the orvex executable run as a process, the test plug-in's paths and its
// exact reference output.
#pragma once

#include "TestGainPlugin.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace HostTest
{
inline std::string pluginPath(const std::string& name = "OrvexTestGain")
{
    return std::string(ORVEX_TEST_PLUGIN_DIR) + "/" + name + ".so";
}

// A fresh folder under /tmp, removed with its files at destruction.
class ScratchDir
{
public:
    ScratchDir()
    {
        char pattern[] = "/tmp/orvex-host-test-XXXXXX";
        if (!mkdtemp(pattern))
            throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~ScratchDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        if (DIR* dir = opendir(path.c_str()))
        {
            while (dirent* entry = readdir(dir))
                if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                    names.push_back(entry->d_name);
            closedir(dir);
        }
        return names;
    }
    std::string path;
};

struct Audio
{
    int channels = 2;
    int rate = 44100;
    int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    std::vector<float> samples; // interleaved
    std::int64_t frames() const { return static_cast<std::int64_t>(samples.size()) / channels; }
    float at(std::int64_t frame, int channel) const { return samples[static_cast<std::size_t>(frame * channels + channel)]; }
};

inline void writeAudio(const std::string& path, const Audio& audio)
{
    SF_INFO info{};
    info.channels = audio.channels;
    info.samplerate = audio.rate;
    info.format = audio.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write test file " + path + ": " + sf_strerror(nullptr));
    sf_writef_float(file, audio.samples.data(), audio.frames());
    sf_close(file);
}

inline Audio readAudio(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        throw std::runtime_error("cannot read test file " + path + ": " + sf_strerror(nullptr));
    Audio audio;
    audio.channels = info.channels;
    audio.rate = info.samplerate;
    audio.format = info.format;
    audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

// Seeded noise, different on each channel, at most `level` in magnitude.
inline Audio noise(std::int64_t frames, int channels, std::uint32_t seed, float level = 0.5f)
{
    Audio audio;
    audio.channels = channels;
    std::mt19937 engine(seed);
    for (std::int64_t i = 0; i < frames * channels; ++i)
        audio.samples.push_back(level * (static_cast<float>(engine() >> 8) / 8388608.0f - 1.0f));
    return audio;
}

struct Outcome
{
    int status;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The number after the n-th (from 0) "key": in a report; NaN for null.
inline double reported(const std::string& json, const std::string& key, int n = 0)
{
    std::size_t at = 0;
    for (int i = 0; i <= n; ++i)
    {
        at = json.find("\"" + key + "\": ", at);
        if (at == std::string::npos)
            return std::nan("");
        at += key.size() + 4;
    }
    return json.compare(at, 4, "null") == 0 ? std::nan("") : std::stod(json.substr(at));
}

// Runs `sh -c "<prefix> orvex <args>"` in dir, capturing both streams.
inline Outcome orvex(const ScratchDir& dir, const std::string& args, const std::string& prefix = "",
                     const std::string& executable = ORVEX_EXECUTABLE)
{
    const std::string out = dir.file(".stdout");
    const std::string err = dir.file(".stderr");
    const std::string command = "cd '" + dir.path + "' && " + prefix + " '" + executable + "' " + args +
                                " >'" + out + "' 2>'" + err + "' </dev/null";
    const int raw = std::system(("sh -c \"" + command + "\"").c_str());
    Outcome run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return run;
}

// The test plug-in's output, latency removed: G * sum of w[k] x[n - k] over
// the bands switched on, in double precision, with the bound of the float
// rounding the plug-in does (a few ulps of the sum of magnitudes).
struct Reference
{
    std::vector<double> value;
    std::vector<double> bound;
};

inline Reference reference(const Audio& in, int channel, double gainDb, const std::vector<bool>& bandsOn)
{
    const double gain = std::pow(10.0, gainDb / 20.0);
    Reference ref;
    for (std::int64_t n = 0; n < in.frames(); ++n)
    {
        double sum = 0.0;
        double magnitude = 0.0;
        for (int k = 0; k < TestGain::kBands; ++k)
            if (bandsOn[static_cast<std::size_t>(k)] && n - k >= 0)
            {
                const double term = TestGain::kTaps[k] * static_cast<double>(in.at(n - k, std::min(channel, in.channels - 1)));
                sum += term;
                magnitude += std::fabs(term);
            }
        ref.value.push_back(gain * sum);
        ref.bound.push_back(8.0 * 1.2e-7 * gain * magnitude + 1e-30);
    }
    return ref;
}
} // namespace HostTest
