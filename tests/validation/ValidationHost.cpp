#include "ValidationHost.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace Validation
{

namespace
{

constexpr double kPi = 3.14159265358979323846;

} // namespace

int scaled(int count, int floor)
{
    return kSanitized ? std::max(floor, count / 4) : count;
}

std::vector<PluginInfo> pluginsUnderTest()
{
    std::vector<PluginInfo> plugins;
#if defined(ORVEX_VALIDATION_MULTIBANDORVEXMAXIMIZER_PATH)
    plugins.push_back({"Multiband", ORVEX_VALIDATION_MULTIBANDORVEXMAXIMIZER_PATH, true});
#endif
#if defined(ORVEX_VALIDATION_ORVEX_MAXIMIZER_PATH)
    plugins.push_back({"Maximizer", ORVEX_VALIDATION_ORVEX_MAXIMIZER_PATH, false});
#endif
    const char* faulty = std::getenv("ORVEX_VALIDATION_FAULTY_PLUGIN");
    void* library = faulty != nullptr ? TestHost::loadOnce(faulty) : nullptr;
    using NameOf = const char* (*)(int);
    const auto nameOf = reinterpret_cast<NameOf>(TestHost::librarySymbol(library, "validationFaultName"));
    for (int fault = 0; nameOf != nullptr && nameOf(fault) != nullptr; ++fault)
        plugins.push_back({nameOf(fault), faulty, false, fault});
    return plugins;
}

std::string pluginLabel(const testing::TestParamInfo<PluginInfo>& info)
{
    return info.param.label;
}

void PrintTo(const PluginInfo& plugin, std::ostream* out)
{
    *out << plugin.label << " (" << plugin.path << ")";
}

Effect::Effect(const PluginInfo& plugin)
{
    void* library = TestHost::loadOnce(plugin.path);
    auto entry = reinterpret_cast<VstPluginMainProc>(TestHost::librarySymbol(library, "VSTPluginMain"));
    if (entry == nullptr)
        return;
    using SelectFault = void (*)(int);
    if (auto select = reinterpret_cast<SelectFault>(TestHost::librarySymbol(library, "validationSelectFault")))
        select(plugin.fault);
    effect = entry(TestHost::hostCallback);
}

Effect::~Effect()
{
    close();
}

void Effect::close()
{
    if (effect != nullptr)
        effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    effect = nullptr;
}

VstIntPtr Effect::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) const
{
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void Effect::start(float sampleRate, VstInt32 blockSize) const
{
    TestHost::sampleRateAnswer = static_cast<VstIntPtr>(sampleRate);
    TestHost::blockSizeAnswer = blockSize;
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(effSetBlockSize, 0, blockSize);
    resume();
}

void Effect::process(float* inLeft, float* inRight, float* outLeft, float* outRight, VstInt32 frames) const
{
    float* inputs[2] = {inLeft, inRight};
    float* outputs[2] = {outLeft, outRight};
    effect->processReplacing(effect, inputs, outputs, frames);
}

Stereo Effect::render(const Stereo& input, VstInt32 block) const
{
    Stereo in = input;
    Stereo out(input.size());
    for (std::size_t at = 0; at < input.size(); at += static_cast<std::size_t>(block))
    {
        const auto frames = static_cast<VstInt32>(std::min<std::size_t>(block, input.size() - at));
        process(&in.left[at], &in.right[at], &out.left[at], &out.right[at], frames);
    }
    return out;
}

void Effect::setParameter(VstInt32 index, float value) const
{
    effect->setParameter(effect, index, value);
}

float Effect::getParameter(VstInt32 index) const
{
    return effect->getParameter(effect, index);
}

std::string Effect::text(VstInt32 opcode, VstInt32 index) const
{
    char buffer[512] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

VstInt32 Effect::findParameter(const std::string& name) const
{
    for (VstInt32 i = 0; i < effect->numParams; ++i)
        if (text(effGetParamName, i) == name)
            return i;
    return -1;
}

double outputCeiling(const Effect& effect, const PluginInfo& plugin)
{
    const VstInt32 index = effect.findParameter(plugin.multiband ? "M.Ceiling" : "Ceiling");
    if (index < 0)
        return std::numeric_limits<double>::infinity();
    const std::string display = effect.text(effGetParamDisplay, index);
    char* end = nullptr;
    const double db = std::strtod(display.c_str(), &end);
    if (end == display.c_str() || !std::isfinite(db))
        return std::numeric_limits<double>::infinity();
    return std::pow(10.0, db / 20.0);
}

Stereo sineMix(std::size_t frames, float amplitude, double sampleRate, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    Stereo s(frames);
    for (std::size_t i = 0; i < frames; ++i)
    {
        const double t = static_cast<double>(i) / sampleRate;
        const double l = 0.5 * std::sin(2 * kPi * 110.0 * t) + 0.3 * std::sin(2 * kPi * 2500.0 * t);
        const double r = 0.5 * std::sin(2 * kPi * 440.0 * t + 1.0) + 0.3 * std::sin(2 * kPi * 7000.0 * t);
        s.left[i] = amplitude * static_cast<float>(l + 0.2 * noise(random));
        s.right[i] = amplitude * static_cast<float>(r + 0.2 * noise(random));
    }
    return s;
}

long firstViolation(const Stereo& s, double ceiling)
{
    const double limit = ceiling * (1.0 + 1e-5);
    for (std::size_t i = 0; i < s.size(); ++i)
        for (float x : {s.left[i], s.right[i]})
            if (!std::isfinite(x) || std::fabs(x) > limit)
                return static_cast<long>(i);
    return -1;
}

double maxDifference(const Stereo& a, const Stereo& b, std::size_t from)
{
    double worst = 0.0;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = from; i < n; ++i)
    {
        const double d = std::max(std::fabs(static_cast<double>(a.left[i]) - b.left[i]),
                                  std::fabs(static_cast<double>(a.right[i]) - b.right[i]));
        if (!std::isfinite(d))
            return std::numeric_limits<double>::infinity();
        worst = std::max(worst, d);
    }
    return worst;
}

} // namespace Validation
