#include "OrvexMaximizer.h"

#include "vst/ParameterTable.h"
#include "vst/DenormalGuard.h"
#include "vst/TextConversion.h"

#include <cmath>

namespace
{
static_assert(OrvexMaximizer::kNumParameters == ParameterTable::kMaximizerCount &&
                  OrvexMaximizer::kUniqueId == ParameterTable::kMaximizerId,
              "the maximizer shows the parameter table's list");

bool isParameter(VstInt32 index)
{
    return index >= 0 && index < OrvexMaximizer::kNumParameters;
}

const Parameter& parameter(VstInt32 index)
{
    return ParameterTable::maximizer()[static_cast<std::size_t>(index)];
}

// A setting in its unit; no curve of the maximizer depends on the rate.
float valueOf(VstInt32 index, float x)
{
    return static_cast<float>(parameter(index).valueOf(x, Parameter::kDefaultRate));
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
    for (int i = 0; i < kNumParameters; ++i)
        v[i] = parameter(i).defaultNormalised();
    return v;
}

LimiterSettings OrvexMaximizer::settingsFor(const std::array<float, kNumParameters>& v)
{
    LimiterSettings s;
    s.thresholdDb = valueOf(kThreshold, v[kThreshold]);
    s.ceilingDb = valueOf(kCeiling, v[kCeiling]);
    s.releaseMs = valueOf(kRelease, v[kRelease]);
    s.link = v[kLink]; // the linked fraction itself; shown in %
    s.truePeak = parameter(kTruePeak).isOn(v[kTruePeak]);
    s.autoRelease = parameter(kAutoRelease).isOn(v[kAutoRelease]);
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
        copyText(text, parameter(index).name.c_str(), kVstMaxParamStrLen);
}

void OrvexMaximizer::getParameterLabel(VstInt32 index, char* label)
{
    if (isParameter(index) && label)
        copyText(label, parameter(index).label(), kVstMaxParamStrLen);
}

void OrvexMaximizer::getParameterDisplay(VstInt32 index, char* text)
{
    if (!isParameter(index) || !text)
        return;
    parameter(index).display(values[index].load(std::memory_order_relaxed), getSampleRate(), text,
                             kVstMaxParamStrLen);
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
