// Block time against the block period, as a host running 64-frame buffers
// sees it: every processReplacing call of the multiband effect timed in
// processor time of the calling thread (a block preempted by another process
// does not count as slow), stereo noise at -10 dBFS, in steady state and over
// a series of Freq2 moves, at several rates and settings.
//
// Several builds of the effect can be compared side by side in one sitting:
// each path given is measured in turn, case by case and round by round, each
// measurement in a child process of its own (so two builds never share a
// process), and each figure is the median over the rounds.
//
//   BlockBudgetBench [--rounds N] [--case TEXT] [MultibandOrvexMaximizer.so ...]
//
// Without a path it measures the effect built beside it.
#include "bench/plugin/BenchHost.h"
#include "vst/AEffect.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace
{

constexpr int kBlock = 64;
constexpr int kCrossovers = 4;
constexpr float kNoisePeak = 0.3f; // -10.5 dBFS
constexpr int kSteadyBlocks = 9000;
constexpr int kMoves = 12;
constexpr float kMoveValues[2] = {0.2f, 0.19f};
constexpr float kLowestMoveValues[2] = {0.01f, 0.0f};

// Parameter indices: crossover k (0-based) has its frequency at 3k + 1 and its slope at 3k + 2.
VstInt32 frequencyParameter(int k) { return 3 * k + 1; }
VstInt32 slopeParameter(int k) { return 3 * k + 2; }

struct Case
{
    const char* name;
    float rate;
    bool steep;  // every slope at 96 dB/oct
    bool lowest; // every crossover at its lowest frequency
};

const Case kCases[] = {
    {"44.1 kHz, defaults", 44100.0f, false, false},
    {"48 kHz, defaults", 48000.0f, false, false},
    {"44.1 kHz, 96 dB/oct", 44100.0f, true, false},
    {"48 kHz, 96 dB/oct", 48000.0f, true, false},
    {"96 kHz, defaults", 96000.0f, false, false},
    {"96 kHz, 96 dB/oct", 96000.0f, true, false},
    {"192 kHz, defaults", 192000.0f, false, false},
    {"192 kHz, 96 dB/oct", 192000.0f, true, false},
    {"192 kHz, lowest, 96 dB/oct", 192000.0f, true, true},
};

// Steady state, then the blocks after the moves; times as fractions of the block period.
struct Figures
{
    double steadyMean = 0.0;
    double steadyP99 = 0.0;
    double steadyP999 = 0.0;
    double steadyWorst = 0.0;
    double steadyOver = 0.0;
    double moveP999 = 0.0;
    double moveWorst = 0.0;
    double moveOverPerMove = 0.0;
    bool ok = false;
};

// The effect at a case's settings, fed seeded noise 64 frames at a time.
class Session
{
public:
    Session(const char* path, const Case& c) : rate(c.rate)
    {
        library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        auto entry = reinterpret_cast<VstPluginMainProc>(library ? dlsym(library, "VSTPluginMain") : nullptr);
        effect = entry ? entry(BenchHost::callback) : nullptr;
        if (!effect)
            return;
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, rate);
        effect->dispatcher(effect, effSetBlockSize, 0, kBlock, nullptr, 0.0f);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
        for (int k = 0; k < kCrossovers; ++k) {
            if (c.steep)
                effect->setParameter(effect, slopeParameter(k), 1.0f);
            if (c.lowest)
                effect->setParameter(effect, frequencyParameter(k), 0.0f);
        }
        std::mt19937 engine(1);
        std::uniform_real_distribution<float> noise(-kNoisePeak, kNoisePeak);
        for (auto& channel : in) {
            channel.resize(static_cast<std::size_t>(rate));
            for (float& s : channel)
                s = noise(engine);
        }
        for (auto& channel : out)
            channel.resize(kBlock);
    }
    ~Session()
    {
        if (effect)
            effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        if (library)
            dlclose(library);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool loaded() const { return effect != nullptr; }
    double period() const { return kBlock / static_cast<double>(rate); }
    int blocksOf(double seconds) const { return static_cast<int>(seconds * rate / kBlock); }
    void set(VstInt32 index, float value) { effect->setParameter(effect, index, value); }

    // One block; returns its processor time in seconds.
    double block()
    {
        if (position + kBlock > static_cast<int>(in[0].size()))
            position = 0;
        float* inputs[2] = {&in[0][static_cast<std::size_t>(position)], &in[1][static_cast<std::size_t>(position)]};
        float* outputs[2] = {out[0].data(), out[1].data()};
        position += kBlock;
        const double start = BenchHost::threadSeconds();
        effect->processReplacing(effect, inputs, outputs, kBlock);
        return BenchHost::threadSeconds() - start;
    }

private:
    float rate;
    void* library = nullptr;
    AEffect* effect = nullptr;
    std::vector<float> in[2], out[2];
    int position = 0;
};

// The time that all but `fraction` of the blocks stay within.
double percentile(std::vector<double> times, double fraction)
{
    std::sort(times.begin(), times.end());
    return times[times.size() - 1 - static_cast<std::size_t>(static_cast<double>(times.size()) * fraction)];
}

double countOver(const std::vector<double>& times, double limit)
{
    return static_cast<double>(std::count_if(times.begin(), times.end(), [limit](double t) { return t > limit; }));
}

Figures measure(const char* path, const Case& c)
{
    Figures f;
    Session session(path, c);
    if (!session.loaded())
        return f;
    const double period = session.period();
    // Long enough for the settings' changes to have completed.
    for (int i = session.blocksOf(3.0); i > 0; --i)
        session.block();

    std::vector<double> times;
    times.reserve(kSteadyBlocks);
    for (int i = 0; i < kSteadyBlocks; ++i)
        times.push_back(session.block() / period);
    double total = 0.0;
    for (double t : times)
        total += t;
    f.steadyMean = total / static_cast<double>(times.size());
    f.steadyP99 = percentile(times, 0.01);
    f.steadyP999 = percentile(times, 0.001);
    f.steadyWorst = *std::max_element(times.begin(), times.end());
    f.steadyOver = countOver(times, 1.0);

    // Each move held long enough for its catch-up and crossfade to finish.
    const float* values = c.lowest ? kLowestMoveValues : kMoveValues;
    const int hold = std::max(300, session.blocksOf(0.3));
    times.clear();
    for (int move = 0; move < kMoves; ++move) {
        session.set(frequencyParameter(1), values[move % 2]);
        for (int i = 0; i < hold; ++i)
            times.push_back(session.block() / period);
    }
    f.moveP999 = percentile(times, 0.001);
    f.moveWorst = *std::max_element(times.begin(), times.end());
    f.moveOverPerMove = countOver(times, 1.0) / kMoves;
    f.ok = true;
    return f;
}

// measure() in a child process; the figures come back through a pipe.
Figures measureApart(const char* path, const Case& c)
{
    Figures f;
    int ends[2];
    if (pipe(ends) != 0)
        return f;
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        const Figures measured = measure(path, c);
        const ssize_t written = write(ends[1], &measured, sizeof measured);
        _exit(written == static_cast<ssize_t>(sizeof measured) ? 0 : 1);
    }
    close(ends[1]);
    if (child > 0) {
        if (read(ends[0], &f, sizeof f) != static_cast<ssize_t>(sizeof f))
            f = Figures{};
        waitpid(child, nullptr, 0);
    }
    close(ends[0]);
    return f;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t m = values.size() / 2;
    return values.size() % 2 != 0 ? values[m] : 0.5 * (values[m - 1] + values[m]);
}

// The median of each figure over the rounds (failed rounds left out).
Figures medianOf(const std::vector<Figures>& rounds)
{
    constexpr int kFields = 8;
    double Figures::*const fields[kFields] = {&Figures::steadyMean, &Figures::steadyP99,  &Figures::steadyP999,
                                              &Figures::steadyWorst, &Figures::steadyOver, &Figures::moveP999,
                                              &Figures::moveWorst,  &Figures::moveOverPerMove};
    std::vector<double> columns[kFields];
    for (const Figures& r : rounds) {
        for (int i = 0; r.ok && i < kFields; ++i)
            columns[i].push_back(r.*fields[i]);
    }
    Figures m;
    if (columns[0].empty())
        return m;
    for (int i = 0; i < kFields; ++i)
        m.*fields[i] = median(columns[i]);
    m.ok = true;
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 3;
    std::string only;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--case") == 0 && i + 1 < argc)
            only = argv[++i];
        else
            paths.emplace_back(argv[i]);
    }
    if (paths.empty())
        paths.emplace_back(ORVEX_BENCH_PLUGIN_PATH);
    for (std::size_t p = 0; p < paths.size(); ++p)
        std::printf("build %zu: %s\n", p + 1, paths[p].c_str());
    std::printf("64-frame blocks, noise at -10 dBFS; %% of the block period, medians of %d rounds;\n"
                "steady: %d blocks; moves: %d Freq2 moves, each held max(300 blocks, 0.3 s)\n\n",
                rounds, kSteadyBlocks, kMoves);
    std::printf("%-28s %5s %8s %7s %6s %7s %7s %5s | %7s %7s %9s\n", "case", "build", "mean us", "mean %", "p99 %",
                "p99.9 %", "worst %", "over", "p99.9 %", "worst %", "over/move");

    bool allLoaded = true;
    for (const Case& c : kCases) {
        if (!only.empty() && std::string(c.name).find(only) == std::string::npos)
            continue;
        std::vector<std::vector<Figures>> results(paths.size());
        for (int r = 0; r < rounds; ++r) {
            for (std::size_t p = 0; p < paths.size(); ++p)
                results[p].push_back(measureApart(paths[p].c_str(), c));
        }
        const double periodUs = kBlock / static_cast<double>(c.rate) * 1e6;
        double firstMean = 0.0;
        for (std::size_t p = 0; p < paths.size(); ++p) {
            const Figures m = medianOf(results[p]);
            if (!m.ok) {
                std::printf("%-28s %5zu  (not loaded)\n", c.name, p + 1);
                allLoaded = false;
                continue;
            }
            if (p == 0)
                firstMean = m.steadyMean;
            std::printf("%-28s %5zu %8.2f %7.2f %6.1f %7.1f %7.1f %5.0f | %7.1f %7.1f %9.2f", c.name, p + 1,
                        m.steadyMean * periodUs, m.steadyMean * 100.0, m.steadyP99 * 100.0, m.steadyP999 * 100.0,
                        m.steadyWorst * 100.0, m.steadyOver, m.moveP999 * 100.0, m.moveWorst * 100.0,
                        m.moveOverPerMove);
            if (p > 0 && firstMean > 0.0)
                std::printf("   mean / build 1: %.3f", m.steadyMean / firstMean);
            std::printf("\n");
        }
    }
    return allLoaded ? 0 : 1;
}
