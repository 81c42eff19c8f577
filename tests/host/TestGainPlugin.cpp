// A small VST 2.4 effect written straight against the effect record, whose
// output is known exactly, for testing the host:
//   Mode On:  y[n] = G * sum over bands k switched on of w[k] * x[n - L - k]
//   Mode Off: y[n] = x[n - L]
// with L = kLatency, G from the Gain parameter (-24..+24 dB) and fixed tap
// weights w. Other parameters only have displays of various kinds (a
// frequency, a stepped slope, a dB level with "-oo", words, a non-monotonic
// number) for the host's value parsing. The product string records the start
// sequence the host ran and the rate and block size its callback answered.
#include "AEffect.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "TestGainPlugin.h"

namespace
{
constexpr int kHistory = 64; // power of two above kLatency + kBands

enum Param
{
    kBand1, kGain, kMode, kBand2, kFreq, kSlope, kBand3, kLevel, kShape, kBand4, kWobble, kHostRate, kBand5,
    kNumParams
};
const char* const kNames[kNumParams] = {"Band1", "Gain",  "Mode",  "Band2",  "Freq",     "Slope", "Band3",
                                        "Level", "Shape", "Band4", "Wobble", "HostRate", "Band5"};
const char* const kLabels[kNumParams] = {"", "dB", "", "", "Hz", "db/oct", "", "dB", "", "", "", "Hz", ""};

void copyText(void* ptr, const std::string& text, std::size_t maxLen)
{
    char* out = static_cast<char*>(ptr);
    std::strncpy(out, text.c_str(), maxLen);
    out[maxLen] = '\0';
}

struct Effect
{
    AEffect record{};
    audioMasterCallback host = nullptr;
    float values[kNumParams] = {1.0f, 0.5f, 1.0f, 1.0f, 0.0403946f, 0.21428572f, 1.0f, 1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f};
    float sampleRate = 44100.0f;
    std::string sequence;
    long hostRate = 0;
    long hostBlock = 0;
    long hostVersion = 0;
    float history[2][kHistory] = {};
    unsigned position = 0;
};

Effect* self(AEffect* e)
{
    return static_cast<Effect*>(e->object);
}

std::string display(const Effect& fx, int index)
{
    const float x = fx.values[index];
    switch (index)
    {
    case kGain: return TestGain::float2string(static_cast<float>(TestGain::gainDb(x)));
    case kFreq: return TestGain::float2string(static_cast<float>(TestGain::frequency(x, fx.sampleRate)));
    case kSlope: return std::to_string(-12 * static_cast<int>(x * 7.0f + 1.0f));
    case kLevel: return x <= 0.0f ? "-oo" : TestGain::float2string(static_cast<float>(20.0 * std::log10(x)));
    case kShape: return x < 1.0f / 3.0f ? "Soft" : (x < 2.0f / 3.0f ? "Hard" : "Clip");
    case kWobble: return TestGain::float2string(static_cast<float>(10.0 * std::sin(3.14159265358979 * x)));
    case kHostRate: return std::to_string(fx.hostRate);
    default: return x > 0.5f ? "On" : "Off";
    }
}

VstIntPtr ORVEX_VSTCALL dispatch(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    Effect& fx = *self(e);
    const bool param = index >= 0 && index < kNumParams && ptr;
    switch (opcode)
    {
    case effOpen: fx.sequence += 'o'; return 0;
    case effClose: delete &fx; return 0;
    case effSetSampleRate: fx.sequence += 's'; fx.sampleRate = opt; return 0;
    case effSetBlockSize: fx.sequence += 'b'; return 0;
    case effMainsChanged:
        fx.sequence += value ? 'm' : 'u';
        if (value && fx.host)
        {
            fx.hostRate = static_cast<long>(fx.host(e, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f));
            fx.hostBlock = static_cast<long>(fx.host(e, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f));
        }
        return 0;
    case effGetParamName: if (param) copyText(ptr, kNames[index], kVstMaxParamStrLen); return 0;
    case effGetParamLabel: if (param) copyText(ptr, kLabels[index], kVstMaxParamStrLen); return 0;
    case effGetParamDisplay: if (param) copyText(ptr, display(fx, index), kVstMaxParamStrLen); return 0;
    case effGetEffectName: copyText(ptr, "Orvex Test Gain", kVstMaxEffectNameLen); return 1;
    case effGetVendorString: copyText(ptr, "Orvex Test", kVstMaxVendorStrLen); return 1;
    case effGetProductString:
        copyText(ptr, "seq:" + fx.sequence + " rate=" + std::to_string(fx.hostRate) + " block=" +
                          std::to_string(fx.hostBlock) + " version=" + std::to_string(fx.hostVersion),
                 kVstMaxProductStrLen);
        return 1;
    case effGetVendorVersion: return 1234;
    default: return 0;
    }
}

void ORVEX_VSTCALL setParameter(AEffect* e, VstInt32 index, float value)
{
    if (index >= 0 && index < kNumParams)
        self(e)->values[index] = value;
}

float ORVEX_VSTCALL getParameter(AEffect* e, VstInt32 index)
{
    return index >= 0 && index < kNumParams ? self(e)->values[index] : 0.0f;
}

void ORVEX_VSTCALL processReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 frames)
{
    Effect& fx = *self(e);
    const bool on = fx.values[kMode] > 0.5f;
    const float gain = static_cast<float>(std::pow(10.0, TestGain::gainDb(fx.values[kGain]) / 20.0));
    for (VstInt32 n = 0; n < frames; ++n)
    {
        const unsigned now = fx.position++ % kHistory;
        for (int c = 0; c < 2; ++c)
        {
            float* history = fx.history[c];
            history[now] = inputs[c][n];
            float sum = 0.0f;
            if (!on)
                sum = history[(now - TestGain::kLatency) % kHistory];
            else
            {
                for (int k = 0; k < TestGain::kBands; ++k)
                    if (fx.values[TestGain::kBandParams[k]] > 0.5f)
                        sum += TestGain::kTaps[k] * history[(now - TestGain::kLatency - k) % kHistory];
                sum *= gain;
            }
            outputs[c][n] = sum;
        }
    }
}
} // namespace

double TestGain::gainDb(float x)
{
    return -24.0 + 48.0 * static_cast<double>(x);
}

double TestGain::frequency(float x, float sampleRate)
{
    return (sampleRate * 0.5) * std::log10(static_cast<double>(0.999f) - static_cast<double>(0.988f) * x) * -0.5;
}

std::string TestGain::float2string(float number)
{
    // Eight characters counting sign and point; digits cut, not rounded.
    double value = number;
    std::string sign;
    int count = 1;
    if (value < 0)
    {
        sign = "-";
        value = -value;
        ++count;
    }
    if (value > 9999999.0)
        return "Huge!";
    std::string integer;
    double i = std::floor(value);
    do
    {
        integer.insert(integer.begin(), static_cast<char>('0' + static_cast<int>(std::fmod(i, 10.0))));
        i = std::floor(i * 0.1);
        ++count;
    } while (i >= 1.0 && count < 8);
    std::string text = sign + integer + ".";
    if (count >= 8)
        return text;
    const int n = 8 - count;
    double m = std::fmod(value, 1.0) * std::pow(10.0, n);
    std::string fraction(static_cast<std::size_t>(n), '0');
    for (int d = n - 1; d >= 0; --d)
    {
        fraction[static_cast<std::size_t>(d)] = static_cast<char>('0' + static_cast<int>(std::fmod(m, 10.0)));
        m = std::floor(m * 0.1);
    }
    return text + fraction;
}

#if !defined(ORVEX_TEST_MAIN_ONLY)
extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host)
#else
// Exported only as "main" (a linker alias of this name), as old plug-ins were.
extern "C" __attribute__((visibility("default"))) AEffect* orvexTestEntry(audioMasterCallback host)
#endif
{
    auto* fx = new Effect;
    fx->host = host;
    fx->hostVersion = host ? static_cast<long>(host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f)) : 0;
    AEffect& r = fx->record;
    r.magic = kEffectMagic;
    r.dispatcher = dispatch;
    r.setParameter = setParameter;
    r.getParameter = getParameter;
    r.processReplacing = processReplacing;
    r.numPrograms = 1;
    r.numParams = kNumParams;
    r.numInputs = 2;
    r.numOutputs = 2;
    r.flags = effFlagsCanReplacing;
    r.initialDelay = TestGain::kLatency;
    r.ioRatio = 1.0f;
    r.object = fx;
    r.uniqueID = fourCharCode('o', 'T', 'g', 'n');
    r.version = 1;
    return &r;
}
