// The built bundles loaded the way an LV2 host loads them (dlopen the module,
// lv2_descriptor, instantiate): the latency port against an impulse, and
// hosts that use odd block sizes, run in place, never change a control or
// change all of them always. (The port table against the VST parameters is
// in ParameterReadersTest.)
#include "lv2/PluginDescription.h"
#include "ReferenceTruePeak.h"

#include <lv2/core/lv2.h>
#include <lv2/worker/worker.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace
{
struct Stereo
{
    std::vector<float> left, right;
};

// One instance of a bundle's plug-in with every port connected to members;
// with `worker`, the host offers a worker whose messages wait for runWorker().
class Lv2Host
{
public:
    Lv2Host(const PluginDescription& plugin, double rate, bool worker = false) : plugin(plugin)
    {
        const std::string path = std::string(ORVEX_LV2_DIR) + "/" + plugin.bundle + "/" + plugin.binary;
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto entry = library ? reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor")) : nullptr;
        descriptor = entry ? entry(0) : nullptr;
        if (descriptor == nullptr || plugin.uri != descriptor->URI || entry(1) != nullptr)
            return;
        const std::string bundle = std::string(ORVEX_LV2_DIR) + "/" + plugin.bundle + "/";
        const LV2_Feature scheduleFeature = {LV2_WORKER__schedule, &schedule};
        const LV2_Feature* const features[] = {worker ? &scheduleFeature : nullptr, nullptr};
        handle = descriptor->instantiate(descriptor, rate, bundle.c_str(), features);
        for (const ControlPort& port : plugin.controls)
            controls.push_back(port.defaultValue);
        meters.assign(plugin.meters.size(), -1.0f);
        if (handle == nullptr)
            return;
        for (std::uint32_t i = 0; i < plugin.controlCount(); ++i)
            descriptor->connect_port(handle, i, &controls[i]);
        for (std::size_t i = 0; i < meters.size(); ++i)
            descriptor->connect_port(handle, plugin.meterPort(static_cast<int>(i)), &meters[i]);
        descriptor->connect_port(handle, plugin.latencyPort(), &latency);
        descriptor->activate(handle);
    }
    ~Lv2Host()
    {
        if (handle != nullptr)
        {
            descriptor->deactivate(handle);
            descriptor->cleanup(handle);
        }
        if (library != nullptr)
            dlclose(library);
    }
    bool ready() const { return handle != nullptr; }

    float& control(const std::string& symbol)
    {
        for (std::uint32_t i = 0; i < plugin.controlCount(); ++i)
            if (plugin.controls[i].symbol == symbol)
                return controls[i];
        ADD_FAILURE() << "no control " << symbol;
        return controls.front();
    }

    // Runs `in` through in blocks of nextBlock() frames (0 allowed), calling
    // beforeBlock() first each time; in place when `inPlace`.
    Stereo render(Stereo in, const std::function<std::uint32_t()>& nextBlock,
                  const std::function<void()>& beforeBlock = {}, bool inPlace = false)
    {
        Stereo out{std::vector<float>(in.left.size()), std::vector<float>(in.right.size())};
        Stereo& target = inPlace ? in : out;
        for (std::size_t done = 0; done < in.left.size();)
        {
            const auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(nextBlock(), in.left.size() - done));
            if (beforeBlock)
                beforeBlock();
            descriptor->connect_port(handle, plugin.audioInput(0), in.left.data() + done);
            descriptor->connect_port(handle, plugin.audioInput(1), in.right.data() + done);
            descriptor->connect_port(handle, plugin.audioOutput(0), target.left.data() + done);
            descriptor->connect_port(handle, plugin.audioOutput(1), target.right.data() + done);
            descriptor->run(handle, frames);
            done += frames;
        }
        return target;
    }
    // Hands the worker's waiting messages to the plug-in's worker interface.
    void runWorker()
    {
        const auto* worker = static_cast<const LV2_Worker_Interface*>(descriptor->extension_data(LV2_WORKER__interface));
        ASSERT_NE(worker, nullptr);
        for (const std::vector<char>& message : messages)
            EXPECT_EQ(worker->work(handle, nullptr, nullptr, static_cast<uint32_t>(message.size()), message.data()),
                      LV2_WORKER_SUCCESS);
        messages.clear();
    }
    // One run of no frames: applies the controls and refreshes the latency port.
    float latencyNow()
    {
        descriptor->run(handle, 0);
        return latency;
    }

    const PluginDescription& plugin;
    std::vector<float> controls;
    std::vector<float> meters;
    float latency = -1.0f;

private:
    static LV2_Worker_Status take(LV2_Worker_Schedule_Handle self, uint32_t size, const void* data)
    {
        const char* bytes = static_cast<const char*>(data);
        static_cast<Lv2Host*>(self)->messages.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }

    LV2_Worker_Schedule schedule = {this, &Lv2Host::take};
    std::vector<std::vector<char>> messages;
    void* library = nullptr;
    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle handle = nullptr;
};

Stereo noise(std::size_t frames, float amplitude, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-amplitude, amplitude);
    Stereo s{std::vector<float>(frames), std::vector<float>(frames)};
    for (std::size_t i = 0; i < frames; ++i)
    {
        s.left[i] = uniform(generator);
        s.right[i] = uniform(generator);
    }
    return s;
}

float peakOf(const Stereo& s)
{
    float peak = 0.0f;
    for (const auto* channel : {&s.left, &s.right})
        for (float v : *channel)
            peak = std::isfinite(v) ? std::max(peak, std::fabs(v)) : INFINITY;
    return peak;
}

const PluginDescription* const kPlugins[] = {&multibandDescription(), &maximizerDescription()};

// --- The latency port against the delay of an impulse.

struct LatencyCase
{
    const PluginDescription* plugin;
    double rate;
    std::vector<std::pair<const char*, float>> settings;
    // Whether the settings must move the latency away from the defaults': a
    // longer crossover kernel cannot fit the default delay.
    bool latencyChanges;
};

TEST(Lv2Bundle, LatencyPortIsTheDelayOfAnImpulseAfterControlsChangeWhileRunning)
{
    const LatencyCase cases[] = {
        {&multibandDescription(), 44100.0, {}, false},
        {&multibandDescription(), 96000.0, {{"freq1", 60.0f}, {"slope1", 96.0f}, {"freq4", 15000.0f}}, true},
        {&maximizerDescription(), 44100.0, {}, false},
        {&maximizerDescription(), 48000.0, {{"truepeak", 1.0f}, {"release", 5.0f}}, false},
    };
    constexpr std::size_t kImpulseAt = 100;
    for (const LatencyCase& c : cases)
    {
        Lv2Host host(*c.plugin, c.rate);
        ASSERT_TRUE(host.ready()) << c.plugin->uri;
        const float initial = host.latencyNow();
        for (const auto& [symbol, value] : c.settings)
            host.control(symbol) = value;
        const float latency = host.latencyNow();
        EXPECT_EQ(latency != initial, c.latencyChanges) << c.plugin->uri << " at " << c.rate << ": " << initial << " -> " << latency;
        ASSERT_GT(latency, 0.0f);

        Stereo impulse{std::vector<float>(kImpulseAt + static_cast<std::size_t>(latency) + 1000, 0.0f), {}};
        impulse.left[kImpulseAt] = 0.5f;
        impulse.right = impulse.left;
        const Stereo out = host.render(impulse, [] { return 700u; });
        for (const auto* channel : {&out.left, &out.right})
        {
            const auto peak = std::max_element(channel->begin(), channel->end(),
                                               [](float a, float b) { return std::fabs(a) < std::fabs(b); });
            EXPECT_EQ(static_cast<std::size_t>(peak - channel->begin()), kImpulseAt + static_cast<std::size_t>(latency))
                << c.plugin->uri << " at " << c.rate;
        }
        EXPECT_EQ(host.latency, latency);
    }
}

// --- Hosts with other habits.

TEST(Lv2Bundle, OutputIsTheSameForAnyBlockSizesInPlaceOrNot)
{
    for (const PluginDescription* plugin : kPlugins)
    {
        const Stereo in = noise(24000, 0.9f, 7);
        Stereo reference;
        {
            Lv2Host host(*plugin, 48000.0);
            ASSERT_TRUE(host.ready());
            host.controls.back() = 1.0f; // auto release, the last maximizer control
            reference = host.render(in, [] { return 512u; });
        }
        Lv2Host host(*plugin, 48000.0);
        host.controls.back() = 1.0f;
        std::mt19937 generator(11);
        // Sizes 0 to beyond the adapter's chunk, 1 and odd sizes included.
        std::uniform_int_distribution<std::uint32_t> size(0, 5000);
        const Stereo out = host.render(in, [&] { return size(generator) % 3 == 0 ? size(generator) % 4 : size(generator); },
                                       {}, true);
        const float tolerance = 8.0f * 1.2e-7f * peakOf(reference);
        for (std::size_t i = 0; i < in.left.size(); ++i)
        {
            ASSERT_NEAR(out.left[i], reference.left[i], tolerance) << plugin->uri << " at " << i;
            ASSERT_NEAR(out.right[i], reference.right[i], tolerance) << plugin->uri << " at " << i;
        }
    }
}

TEST(Lv2Bundle, EveryControlChangedOnEveryBlockKeepsTheOutputFiniteAndUnderTheHighestCeiling)
{
    for (const PluginDescription* plugin : kPlugins)
    {
        Lv2Host host(*plugin, 44100.0);
        ASSERT_TRUE(host.ready());
        std::mt19937 generator(3);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        const std::string ceiling = plugin == &multibandDescription() ? "m_ceiling" : "ceiling";
        const auto everyControl = [&] {
            for (std::uint32_t i = 0; i < plugin->controlCount(); ++i)
            {
                const ControlPort& port = plugin->controls[i];
                float value = port.minimum + unit(generator) * (port.maximum - port.minimum);
                if (port.isToggle())
                    value = std::round(value);
                host.controls[i] = value;
            }
            host.control(ceiling) = -3.0f - 9.0f * unit(generator); // -12 to -3 dB
        };
        const Stereo out = host.render(noise(8000, 1.0f, 5), [&] { return 200u + static_cast<std::uint32_t>(unit(generator) * 500.0f); },
                                       everyControl);
        EXPECT_LE(peakOf(out), std::pow(10.0f, -3.0f / 20.0f)) << plugin->uri;
        EXPECT_GE(host.latency, 0.0f);
        EXPECT_EQ(host.latency, std::round(host.latency));
    }
}
TEST(Lv2Bundle, WithAHostWorkerControlsTakeEffectWhenTheWorkerRuns)
{
    Lv2Host host(multibandDescription(), 48000.0, true);
    ASSERT_TRUE(host.ready());
    const Stereo loud = noise(20000, 0.9f, 7);
    auto blocks = [] { return 512u; };
    host.render(loud, blocks);
    host.control("m_thresh") = -12.0f;
    host.control("m_ceiling") = -6.0f;
    // Changes while running wait in the worker: the output still reaches the default ceiling.
    EXPECT_GT(peakOf(host.render(loud, blocks)), 0.7f);
    host.runWorker();
    Stereo after = host.render(loud, blocks);
    // What was limited for the old ceiling has left after the maximizer's delay.
    after.left.erase(after.left.begin(), after.left.begin() + 1000);
    after.right.erase(after.right.begin(), after.right.begin() + 1000);
    EXPECT_LE(peakOf(after), std::pow(10.0f, -6.0f / 20.0f) * 1.0001f);
}
} // namespace

namespace
{
TEST(Lv2Bundle, AStreamStartsAtItsControlsWithoutFadingOverFromTheDefaults)
{
    constexpr double kPi = 3.14159265358979323846;
    for (double rate : {44100.0, 96000.0, 192000.0})
        for (bool worker : {false, true})
        {
            SCOPED_TRACE(std::to_string(rate) + (worker ? " with a worker" : ""));
            Lv2Host host(multibandDescription(), rate, worker);
            ASSERT_TRUE(host.ready());
            const std::size_t length = static_cast<std::size_t>(0.2 * rate);
            Stereo tone{std::vector<float>(length), std::vector<float>(length)};
            for (std::size_t t = 0; t < length; ++t)
                tone.left[t] = tone.right[t] = static_cast<float>(0.25 * std::sin(2.0 * kPi * 1000.0 * t / rate));
            const Stereo out = host.render(tone, [] { return 256u; });
            // Every 5 ms window after the latency holds the tone at its level.
            const std::size_t start = static_cast<std::size_t>(host.latency);
            const std::size_t window = static_cast<std::size_t>(0.005 * rate);
            for (std::size_t from = start; from + window <= length; from += window)
            {
                float peak = 0.0f;
                for (std::size_t t = from; t < from + window; ++t)
                    peak = std::max(peak, std::abs(out.left[t]));
                ASSERT_NEAR(peak, 0.25f, 0.01f) << "window at " << from - start;
            }
        }
}
} // namespace

namespace
{
TEST(Lv2Bundle, GainReductionPortsShowWhatEachMaximizerTakesOff)
{
    // Uniform noise peaking at `peak`; the master's input is the band sum,
    // which is the input (the crossovers sum flat): a master ceiling of -9 dB
    // takes 9 + 20 log10(0.7) = 5.90 dB off peaks of 0.7 (within 0.1 dB). A band's ceiling far under its level limits
    // that band alone. The output's true-peak port holds at least the
    // output's sample peaks of the last 0.1 s (less what the hold falls in
    // it), and at most its true peak by the long reference plus the 0.33 dB
    // a quarter-sample meter can read over it.
    const struct
    {
        const char* what;
        std::vector<std::pair<const char*, float>> settings;
        float peak;
        std::vector<std::pair<float, float>> ranges; // per meter: lowest and highest reading
    } cases[] = {
        {"nothing over a ceiling", {}, 0.5f, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
        {"the master 5.9 dB over", {{"m_ceiling", -9.0f}}, 0.7f, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {5.8f, 6.0f}}},
        {"band 2 far over", {{"b2_ceiling", -30.0f}}, 0.5f, {{0, 0}, {3, 30}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Lv2Host host(multibandDescription(), 48000.0);
        ASSERT_TRUE(host.ready());
        ASSERT_EQ(host.meters.size(), c.ranges.size() + 1);
        for (const auto& [symbol, value] : c.settings)
            host.control(symbol) = value;
        const Stereo out = host.render(noise(24000, c.peak, 9), [] { return 512u; });
        for (std::size_t i = 0; i < c.ranges.size(); ++i)
        {
            EXPECT_GE(host.meters[i], c.ranges[i].first) << host.plugin.meters[i].symbol;
            EXPECT_LE(host.meters[i], c.ranges[i].second) << host.plugin.meters[i].symbol;
        }
        float recentPeak = 0.0f;
        double truePeak = 0.0;
        for (const std::vector<float>& channel : {out.left, out.right})
        {
            for (auto sample = channel.end() - 4800; sample != channel.end(); ++sample)
                recentPeak = std::max(recentPeak, std::fabs(*sample));
            truePeak = std::max(truePeak, referenceTruePeak(channel));
        }
        EXPECT_GE(host.meters.back(), 20.0f * std::log10(recentPeak) - 1.0f);
        EXPECT_LE(host.meters.back(), 20.0 * std::log10(truePeak) + 0.33);
    }
}
} // namespace
