// A scratch folder for a host benchmark: an input WAV file written from
// interleaved stereo samples, and the path of an output; both removed, with
// the folder, at destruction.
#pragma once

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

struct BenchFiles
{
    BenchFiles(const std::vector<float>& stereo, int rate, int format)
    {
        char pattern[] = "/tmp/orvex-bench-XXXXXX";
        folder = mkdtemp(pattern);
        input = folder + "/in.wav";
        output = folder + "/out.wav";
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = rate;
        info.format = format;
        SNDFILE* file = sf_open(input.c_str(), SFM_WRITE, &info);
        sf_writef_float(file, stereo.data(), static_cast<sf_count_t>(stereo.size() / 2));
        sf_close(file);
    }
    ~BenchFiles()
    {
        std::remove(input.c_str());
        std::remove(output.c_str());
        rmdir(folder.c_str());
    }
    BenchFiles(const BenchFiles&) = delete;
    BenchFiles& operator=(const BenchFiles&) = delete;

    std::string folder;
    std::string input;
    std::string output;
};
