#include "OrvexMaximizer.h"

#include "vst/DenormalGuard.h"
#include "vst/TextConversion.h"

#include <cmath>

namespace
{
constexpr float kRangeDb = 30.0f;
constexpr float kDefaultCeilingDb = -0.1f;
// Release is logarithmic: 10^(3 v) ms spans 1 to 1000 ms.
constexpr float kReleaseDecades = 3.0f;

struct ParameterText
{
    const char* name;
    const char* label;
};

constexpr ParameterText kTexts[OrvexMaximizer::kNumParameters] = {
    {"Thresh", "dB"}, {"Ceiling", "dB"}, {"Release", "ms"}, {"Link", "%"}, {"TruePeak", ""}, {"AutoRel", ""},
};

bool isParameter(VstInt32 index)
{
    return index >= 0 && index < OrvexMaximizer::kNumParameters;
}

bool isOn(float value)
{
    return value >= 0.5f;
}

// Levels move in steps of 0.001 dB, so that round values such as the default
// ceiling of -0.1 dB come out exact.
float roundedDb(float db)
{
    return static_cast<float>(std::round(static_cast<double>(db) * 1000.0) / 1000.0);
}
} // namespace

OrvexMaximizer::OrvexMaximizer(audioMasterCallback host)
    : AudioEffectX(host, 1, kNumParameters), pendingSampleRate(sampleRate.load()), appliedValues(defaultValues()),
      appliedSampleRate(sampleRate.load())
{
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(kUniqueId);
    canProcessReplacing();
    setInitialDelay(Limiter::kLatency);
    for (int i = 0; i < kNumParameters; ++i)
        values[i].store(appliedValues[i], std::memory_order_relaxed);
    limiter.setSampleRate(appliedSampleRate);
    limiter.setSettings(settingsFor(appliedValues));
}

std::array<float, OrvexMaximizer::kNumParameters> OrvexMaximizer::defaultValues()
{
    std::array<float, kNumParameters> v{};
    v[kThreshold] = 0.0f;
    v[kCeiling] = (kDefaultCeilingDb + kRangeDb) / kRangeDb;
    v[kRelease] = 2.0f / kReleaseDecades; // 100 ms
    v[kLink] = 1.0f;
    v[kTruePeak] = 0.0f;
    v[kAutoRelease] = 0.0f;
    return v;
}

LimiterSettings OrvexMaximizer::settingsFor(const std::array<float, kNumParameters>& v)
{
    LimiterSettings s;
    s.thresholdDb = roundedDb(-kRangeDb * v[kThreshold]);
    s.ceilingDb = roundedDb(kRangeDb * (v[kCeiling] - 1.0f));
    s.releaseMs = static_cast<float>(std::pow(10.0, kReleaseDecades * static_cast<double>(v[kRelease])));
    s.link = v[kLink];
    s.truePeak = isOn(v[kTruePeak]);
    s.autoRelease = isOn(v[kAutoRelease]);
    return s;
}

void OrvexMaximizer::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    run(inputs, outputs, sampleFrames, false);
}

void OrvexMaximizer::process(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    run(inputs, outputs, sampleFrames, true);
}

void OrvexMaximizer::run(float** inputs, float** outputs, VstInt32 sampleFrames, bool accumulate)
{
    if (sampleFrames <= 0)
        return;
    DenormalGuard guard;
    applyPendingChanges();
    limiter.process(inputs, outputs, sampleFrames, accumulate);
}

void OrvexMaximizer::applyPendingChanges()
{
    if (resetPending.exchange(false, std::memory_order_acquire))
        limiter.reset();

    const float rate = pendingSampleRate.load(std::memory_order_relaxed);
    if (rate != appliedSampleRate)
    {
        appliedSampleRate = rate;
        limiter.setSampleRate(rate);
    }

    bool changed = false;
    for (int i = 0; i < kNumParameters; ++i)
    {
        const float v = values[i].load(std::memory_order_relaxed);
        changed |= v != appliedValues[i];
        appliedValues[i] = v;
    }
    if (changed)
        limiter.setSettings(settingsFor(appliedValues));
}

void OrvexMaximizer::setParameter(VstInt32 index, float value)
{
    if (!isParameter(index) || std::isnan(value))
        return;
    values[index].store(std::fmin(std::fmax(value, 0.0f), 1.0f), std::memory_order_relaxed);
}

float OrvexMaximizer::getParameter(VstInt32 index)
{
    return isParameter(index) ? values[index].load(std::memory_order_relaxed) : 0.0f;
}

void OrvexMaximizer::getParameterName(VstInt32 index, char* text)
{
    if (isParameter(index) && text)
        copyText(text, kTexts[index].name, kVstMaxParamStrLen);
}

void OrvexMaximizer::getParameterLabel(VstInt32 index, char* label)
{
    if (isParameter(index) && label)
        copyText(label, kTexts[index].label, kVstMaxParamStrLen);
}

void OrvexMaximizer::getParameterDisplay(VstInt32 index, char* text)
{
    if (!isParameter(index) || !text)
        return;
    std::array<float, kNumParameters> v;
    for (int i = 0; i < kNumParameters; ++i)
        v[i] = values[i].load(std::memory_order_relaxed);
    const LimiterSettings s = settingsFor(v);
    switch (index)
    {
    case kThreshold: float2string(s.thresholdDb, text, kVstMaxParamStrLen); break;
    case kCeiling: float2string(s.ceilingDb, text, kVstMaxParamStrLen); break;
    case kRelease: float2string(s.releaseMs, text, kVstMaxParamStrLen); break;
    case kLink: float2string(s.link * 100.0f, text, kVstMaxParamStrLen); break;
    case kTruePeak: copyText(text, s.truePeak ? "On" : "Off", kVstMaxParamStrLen); break;
    default: copyText(text, s.autoRelease ? "On" : "Off", kVstMaxParamStrLen); break;
    }
}

void OrvexMaximizer::setSampleRate(float newSampleRate)
{
    if (!(newSampleRate > 0.0f) || !std::isfinite(newSampleRate))
        return;
    AudioEffectX::setSampleRate(newSampleRate);
    pendingSampleRate.store(newSampleRate, std::memory_order_relaxed);
}

void OrvexMaximizer::suspend()
{
    resetPending.store(true, std::memory_order_release);
}

void OrvexMaximizer::resume()
{
    resetPending.store(true, std::memory_order_release);
    AudioEffectX::resume();
}

void OrvexMaximizer::setProgramName(char* name)
{
    if (name)
        copyText(programName, name, kVstMaxProgNameLen);
}

void OrvexMaximizer::getProgramName(char* name)
{
    if (name)
        copyText(name, programName, kVstMaxProgNameLen);
}

bool OrvexMaximizer::getEffectName(char* name)
{
    if (!name)
        return false;
    copyText(name, "Orvex Maximizer", kVstMaxEffectNameLen);
    return true;
}

bool OrvexMaximizer::getVendorString(char* text)
{
    if (!text)
        return false;
    copyText(text, "ylk", kVstMaxVendorStrLen);
    return true;
}

bool OrvexMaximizer::getProductString(char* text)
{
    if (!text)
        return false;
    copyText(text, "Orvex Maximizer", kVstMaxProductStrLen);
    return true;
}

VstInt32 OrvexMaximizer::getVendorVersion()
{
    return 1000;
}

VstPlugCategory OrvexMaximizer::getPlugCategory()
{
    return kPlugCategEffect;
}
